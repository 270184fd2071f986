// The signature reader, the trust decision and the package verification on
// packages the build signed with every certificate of pki/, and on copies of
// a signed package damaged at test time.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <functional>
#include <string>

#include "engine/USmartUpdateEx.h"
#include "support/test_support.h"
#include "trust/certinfo.h"

namespace {

constexpr DWORD kNotTrusted = 0x800B0004;     // TRUST_E_SUBJECT_NOT_TRUSTED
constexpr DWORD kBadDigest = 0x80096010;      // TRUST_E_BAD_DIGEST
constexpr DWORD kUntrustedRoot = 0x800B0109;  // CERT_E_UNTRUSTEDROOT
constexpr DWORD kChaining = 0x800B010A;       // CERT_E_CHAINING
constexpr UINT kDialogMessage = WM_USER + 48;

std::string Package(const std::string& stem) {
  return kittest::WindowsPathOf(std::string(KITLOADER_PACKAGE_DIR "/trust_") + stem + ".cab");
}

struct Verifier : USmartUpdateEx {
  using USmartUpdateEx::VerifyCABEx;
};

// VerifyCABEx with an empty URL, and the 0x430 messages it posted to hwnd.
DWORD Verify(const std::string& path, bool silent, HWND hwnd, std::string* posted = nullptr) {
  GetCABInfo cab;
  cab.filePath = path.c_str();
  VerifyCABInfo verify;
  verify.hwnd = hwnd;
  verify.silent = silent ? 1 : 0;
  const DWORD result = Verifier::VerifyCABEx(&cab, &verify);
  MSG msg;
  while (PeekMessageA(&msg, hwnd, kDialogMessage, kDialogMessage, PM_REMOVE))
    if (posted) *posted += std::to_string(msg.wParam);
  return result;
}

// The machine's "NorvaneOmbrixRoot" store holding one certificate, for the
// object's lifetime. Not in a registry sandbox: crypt32 finds the cabinet
// format's signature handlers under the real HKEY_LOCAL_MACHINE.
const char kMakersStoreKey[] = "SOFTWARE\\Microsoft\\SystemCertificates\\NorvaneOmbrixRoot";
struct MakersStore {
  explicit MakersStore(const std::string& pemPath) { Add(pemPath); }
  ~MakersStore() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kMakersStoreKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMakersStoreKey);
  }
  static void Add(const std::string& pemPath);
};

void MakersStore::Add(const std::string& pemPath) {
  std::string pem = kittest::ReadTextFile(pemPath);
  DWORD size = 0;
  ASSERT_TRUE(CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr));
  std::string der(size, '\0');
  ASSERT_TRUE(CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(&der[0]), &size,
                                   nullptr, nullptr));
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"NorvaneOmbrixRoot");
  ASSERT_NE(store, nullptr);
  EXPECT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                               size, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
  CertCloseStore(store, 0);
}

class Trust : public ::testing::Test {
 protected:
  void SetUp() override {
    window = CreateWindowExA(0, "STATIC", "trust test", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override { DestroyWindow(window); }
  kittest::TempFolder dir;
  kittest::MemoryLog log;
  HWND window = nullptr;
};

TEST_F(Trust, EachCertificateOfThePkiIsReadAndJudged) {
  const struct {
    const char* stem;
    const char* subject;  // null: the signature can't be read
    bool ours, service;
    DWORD silent, shown;  // VerifyCABEx silent and with the UI (empty URL)
  } cases[] = {
      {"signer01", "Norvane, Inc.", true, true, 0, 0},
      {"signer02", "Norvane Networks Inc", true, false, 0, 0},
      {"signer03", "Norvane Networks", true, false, 0, 0},
      {"signer04", "Norvane Networks", true, false, 0, 0},
      {"signer05", "Norvane, Inc.", true, true, 0, 0},
      {"signer06", "Norvane Networks Inc", true, false, 0, 0},
      {"signer07", "Norvane Networks", true, false, 0, 0},
      {"signer08", "Norvane, Inc.", true, false, 0, 0},
      {"signer09", "Norvane Networks", true, false, 0, 0},
      {"signer10", "Norvane Networks Inc", true, false, 0, 0},
      {"expired", "Norvane, Inc.", true, false, 0, 0},
      // The maker's names without a pinned certificate: the user would be
      // asked, which silent mode forbids.
      {"unpinned", "Norvane Networks", false, false, kNotTrusted, 0},
      {"swapped", "Norvane Networks", false, false, kNotTrusted, 0},
      {"lettercase", "Norvane networks", false, false, kNotTrusted, kNotTrusted},
      {"thirdparty", "Fabrikam Tools Ltd", false, false, kNotTrusted, kNotTrusted},
      {"unsigned", nullptr, false, false, kNotTrusted, kNotTrusted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stem);
    CCertInfo info;
    ASSERT_EQ(info.ProcessFile(Package(c.stem).c_str()), c.subject != nullptr);
    EXPECT_EQ(info.GetSubjectName().str(), c.subject ? c.subject : "");
    EXPECT_EQ(info.IsOurCertificate(), c.ours);
    EXPECT_EQ(info.IsCertForInstService(), c.service);
    EXPECT_EQ(info.IsSignerTrusted(0), c.ours);
    EXPECT_EQ(info.IsSignerTrusted(1), c.service);
    EXPECT_EQ(info.IsSignatureValid(), c.subject != nullptr);
    if (c.subject) {
      const std::wstring moreInfo = L"https://kitloader.invalid/packages/trust_" +
                                    std::wstring(c.stem, c.stem + std::strlen(c.stem)) + L".cab";
      ASSERT_NE(info.PublisherInfo().lpszMoreInfoLink, nullptr);
      EXPECT_EQ(info.PublisherInfo().lpszMoreInfoLink, moreInfo);
    }
    std::string posted;
    EXPECT_EQ(Verify(Package(c.stem), true, window, &posted), c.silent);
    EXPECT_EQ(posted, "") << "silent mode never opens a dialog";
    if (c.shown != 0 || c.ours) {
      posted.clear();
      EXPECT_EQ(Verify(Package(c.stem), false, window, &posted), c.shown);
      EXPECT_EQ(posted, "") << "a pinned or refused signer needs no dialog";
    }
  }
  EXPECT_TRUE(log.Contains("Failed to get signature of"));
  EXPECT_TRUE(log.Contains("the file is signed by Norvane Networks certificate"));
  EXPECT_TRUE(log.Contains("the component needs to be signed by Norvane"));
  EXPECT_TRUE(log.Contains("signed by untrusted vendor, Fabrikam Tools Ltd"));
  EXPECT_TRUE(log.Contains("UI level is ALL - fail"));
}

TEST_F(Trust, TheMakersStoreTrustsItsExactCertificateAndTheUiIsBracketed) {
  {
    CCertInfo info;
    ASSERT_TRUE(info.ProcessFile(Package("unpinned").c_str()));
    EXPECT_FALSE(info.IsSignerTrusted(0));
  }
  // With the user's UI an unpinned maker's name goes to WinVerifyTrust with
  // the progress window as owner, between the two dialog messages.
  // Its chain ends in a root in no store: refused as Windows would (Wine
  // says the chain can't be built).
  std::string posted;
  const DWORD unpinned = Verify(Package("unpinned"), false, window, &posted);
  EXPECT_TRUE(unpinned == kUntrustedRoot || unpinned == kChaining) << std::hex << unpinned;
  EXPECT_EQ(posted, "01");
  EXPECT_TRUE(log.Contains("WinVerifyTrust requires user interaction, (hwnd)"));

  MakersStore store(kittest::WindowsPathOf(KITLOADER_PKI_DIR "/others/unpinned.crt"));
  CCertInfo info;
  ASSERT_TRUE(info.ProcessFile(Package("unpinned").c_str()));
  EXPECT_TRUE(info.IsSignerTrusted(0));
  EXPECT_FALSE(info.IsSignerTrusted(1));
  EXPECT_TRUE(log.Contains("The signer certificate matches exactly one of the trusted certificates"));
  EXPECT_EQ(Verify(Package("unpinned"), true, window), 0u);
  CCertInfo other;
  ASSERT_TRUE(other.ProcessFile(Package("swapped").c_str()));
  EXPECT_FALSE(other.IsSignerTrusted(0));
}

TEST_F(Trust, ADamagedPackageIsRefusedWithoutACrash) {
  const std::string original = kittest::ReadTextFile(Package("signer01"));
  auto le32 = [&](std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, original.data() + at, 4);
    return v;
  };
  const std::size_t sigPos = le32(44), sigLen = le32(48);
  ASSERT_EQ(sigPos + sigLen, original.size());
  // The digest the signature signs: the last 32 bytes of the first OCTET
  // STRING of that length in the blob.
  const std::size_t digestAt = original.find(std::string("\x04\x20", 2), sigPos) + 2;

  const struct {
    const char* name;
    std::function<void(std::string&)> damage;
    DWORD result;
    bool readable;  // the signature can still be read
  } cases[] = {
      {"a byte of file data", [&](std::string& f) { f[sigPos - 1] ^= 0x01; }, kBadDigest, true},
      {"a byte of the header", [&](std::string& f) { f[32] ^= 0x01; }, kBadDigest, true},
      {"the signed digest", [&](std::string& f) { f[digestAt] ^= 0x01; }, kBadDigest, true},
      {"truncated", [&](std::string& f) { f.resize(sigPos + sigLen / 2); }, kNotTrusted, false},
      {"blob not DER", [&](std::string& f) { std::memset(&f[sigPos], 0xFF, 16); }, kNotTrusted, false},
      {"length beyond the file", [&](std::string& f) { std::memcpy(&f[48], "\xF0\xFF\xFF\x7F", 4); }, kNotTrusted,
       false},
      {"nested deep",
       [&](std::string& f) {
         for (std::size_t at = sigPos, left = sigLen; left >= 4; at += 4, left -= 4) {
           const std::size_t inner = left - 4;
           const char header[] = {'\x30', '\x82', static_cast<char>(inner >> 8), static_cast<char>(inner & 0xFF)};
           std::memcpy(&f[at], header, 4);
         }
       },
       kNotTrusted, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = original;
    c.damage(bytes);
    const std::string path = dir / "damaged.cab";
    kittest::WriteTextFile(path, bytes);
    CCertInfo info;
    EXPECT_EQ(info.ProcessFile(path.c_str()), c.readable);
    EXPECT_FALSE(info.IsSignatureValid());
    EXPECT_EQ(Verify(path, true, window), c.result);
    EXPECT_EQ(Verify(path, false, window), c.result);
  }
  EXPECT_TRUE(log.Contains("the cabinet does not match its signed digest"));
  EXPECT_TRUE(log.Contains("the signed content does not match its message digest"));
  EXPECT_TRUE(log.Contains("valid signature was not found"));
}

TEST(CertInfoHex, BytesInBothOrders) {
  const BYTE bytes[] = {0x0A, 0xFF};
  UString text;
  EXPECT_TRUE(CCertInfo::BinToHex(2, bytes, text, false));
  EXPECT_EQ(text.str(), "0AFF");
  EXPECT_TRUE(CCertInfo::BinToHex(2, bytes, text, true));
  EXPECT_EQ(text.str(), "FF0A");
  EXPECT_TRUE(CCertInfo::BinToHex(0, bytes, text, false));
  EXPECT_EQ(text.str(), "");
  CCertInfo empty;
  EXPECT_FALSE(empty.ProcessFile(nullptr));
  EXPECT_FALSE(empty.IsSignerTrusted(0));
}

}  // namespace
