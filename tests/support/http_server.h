// The local HTTP(S) server of the transfer tests, started by the CTest
// fixture "http_server" (support/http_test_server.sh).
#pragma once

#include <cstdint>
#include <string>

namespace kittest {

// "http://127.0.0.1:<port><path>" for the listener `name` ("http",
// "https_untrusted", "https_trusted"); empty when the server is not running.
std::string ServerUrl(const char* name, const std::string& path);
// A file of the server's folder, as Wine sees it (the test CA is "ca.der").
std::string ServerFile(const std::string& name);
// Whether `path` holds exactly `size` bytes of the server's pattern (i % 251).
bool HoldsServerPattern(const std::string& path, std::uint64_t size);
// Trusts the server's test CA for the lifetime of the object: added to the
// current user's trusted roots of the prefix, and its registry record
// removed afterwards (deleting it through crypt32 leaves it trusted). Build
// it before the process's first TLS connection: the chain engine reads the
// roots once. A registry sandbox must not be active (crypt32 would write the
// root into it and never read it back).
class TrustedServerCa {
 public:
  TrustedServerCa();
  ~TrustedServerCa();
  TrustedServerCa(const TrustedServerCa&) = delete;
  TrustedServerCa& operator=(const TrustedServerCa&) = delete;
  bool added() const { return !m_key.empty(); }

 private:
  std::string m_key;
};

}  // namespace kittest
