// The real kitloader.exe verifies each package before the direct route
// installs it: the maker's intact packages are installed, every other signer
// and every damaged package is refused and nothing is installed.
#include <gtest/gtest.h>

#include <string>

#include "e2e/kitloader_run.h"
#include "foundation/m_folders.h"
#include "support/test_support.h"

namespace {

TEST(TrustE2E, OnlyTheMakersIntactPackagesAreInstalled) {
  const std::string installed = SGetDownloadedProgramFilesFolder().str() + "\\ombrixtrust.dat";
  const struct {
    const char* stem;
    bool damage;          // one byte of the signed data changed
    const char* logText;  // the verification's word on it
    bool verified;
  } cases[] = {
      {"signer03", false, "the file is signed by Norvane Networks certificate", true},
      {"signer10", false, "the file is signed by Norvane Networks certificate", true},
      {"expired", false, "the file is signed by Norvane Networks certificate", true},
      {"signer03", true, "the cabinet does not match its signed digest", false},
      // The zone of a local path lets WinVerifyTrust decide without the
      // user; the chain ends in a root in no store.
      {"unpinned", false, "the signer's chain is refused", false},
      {"thirdparty", false, "signed by untrusted vendor, Fabrikam Tools Ltd", false},
      {"unsigned", false, "signed by untrusted vendor, \r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.stem) + (c.damage ? " damaged" : ""));
    kittest::KitloaderStage stage;
    std::string bytes =
        kittest::ReadTextFile(kittest::WindowsPathOf(std::string(KITLOADER_PACKAGE_DIR "/trust_") + c.stem + ".cab"));
    if (c.damage) bytes[static_cast<unsigned char>(bytes[44]) + 256 * static_cast<unsigned char>(bytes[45]) - 1] ^= 1;
    kittest::WriteTextFile(stage.folder() + "\\pkg.cab", bytes);
    DeleteFileA(installed.c_str());
    const kittest::ProcessResult run = stage.Run("/s /i pkg.cab");
    const std::string log = stage.Log();
    EXPECT_NE(log.find(c.logText), std::string::npos) << log;
    EXPECT_EQ(log.find("VerifyCAB() failed") == std::string::npos, c.verified) << log;
    EXPECT_EQ(run.exitCode == 0, c.verified) << log;
    EXPECT_EQ(kittest::FileExists(installed), c.verified);
    DeleteFileA(installed.c_str());
  }
}

}  // namespace
