#include "support/http_server.h"

#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "support/test_support.h"

namespace kittest {

std::string ServerFile(const std::string& name) { return WindowsPathOf(KITTEST_HTTP_SERVER_DIR "/" + name); }

std::string ServerUrl(const char* name, const std::string& path) {
  std::ifstream ports(ServerFile("ports"));
  std::string line;
  const std::string key = std::string(name) + "=";
  while (std::getline(ports, line)) {
    if (line.compare(0, key.size(), key) == 0) {
      const char* scheme = std::string(name) == "http" ? "http" : "https";
      return std::string(scheme) + "://127.0.0.1:" + line.substr(key.size()) + path;
    }
  }
  return std::string();
}

bool HoldsServerPattern(const std::string& path, std::uint64_t size) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> buffer(65536);
  std::uint64_t offset = 0;
  while (file) {
    file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    for (std::streamsize i = 0; i < file.gcount(); ++i, ++offset)
      if (static_cast<unsigned char>(buffer[i]) != offset % 251) return false;
  }
  return offset == size;
}

TrustedServerCa::TrustedServerCa() {
  std::ifstream file(ServerFile("ca.der"), std::ios::binary);
  std::vector<BYTE> der((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root");
  if (!store || der.empty()) return;
  PCCERT_CONTEXT added = nullptr;
  if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                       CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (CertGetCertificateContextProperty(added, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
      m_key = "Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
      for (BYTE b : hash) {
        char hex[3];
        wsprintfA(hex, "%02X", b);
        m_key += hex;
      }
    }
    CertFreeCertificateContext(added);
  }
  CertCloseStore(store, 0);
}

TrustedServerCa::~TrustedServerCa() {
  if (!m_key.empty()) RegDeleteKeyA(HKEY_CURRENT_USER, m_key.c_str());
}

}  // namespace kittest
