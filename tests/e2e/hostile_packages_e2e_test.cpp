// The real kitloader.exe meets broken and hostile packages as a user would:
// each is refused with its code and a log line that says why, and the
// machine's folders and registry are as they were, with no temporary folder
// left. Then several runs at once install one package or two.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e/kitloader_run.h"
#include "foundation/handles.h"
#include "foundation/m_folders.h"
#include "foundation/m_strings.h"
#include "support/machine_snapshot.h"
#include "support/platform_facts_support.h"
#include "support/test_support.h"

namespace {

using kittest::Changes;
using kittest::ListFolder;
using kittest::Snapshot;
using kittest::TakeSnapshot;

std::string Package(const std::string& name) {
  return kittest::ReadTextFile(kittest::WindowsPathOf(std::string(KITLOADER_PACKAGE_DIR "/") + name + ".cab"));
}

// The offset of the signature in a signed cabinet (from its header's reserve).
std::size_t SignatureAt(const std::string& b) {
  return static_cast<unsigned char>(b[44]) | static_cast<unsigned char>(b[45]) << 8 |
         static_cast<unsigned char>(b[46]) << 16;
}

// The run's temporary folder holds its log and nothing else.
void ExpectOnlyTheLog(const kittest::KitloaderStage& stage) {
  Snapshot temp;
  ListFolder(stage.tempFolder(), true, {}, &temp);
  Snapshot log{{stage.tempFolder() + "\\logterminal.txt", temp[stage.tempFolder() + "\\logterminal.txt"]}};
  EXPECT_EQ(log, temp);
}

struct Case {
  const char* label;
  const char* package;                    // built package, staged as pkg.cab
  std::function<void(std::string&)> edit;  // bytes changed at test time
  DWORD exitCode;
  const char* logText;
  const char* stagedAs = "pkg.cab";
  // What a process below the run does in the staging folder (given with its
  // backslash) while the test build holds the run after extraction.
  std::function<void(const std::string&)> afterExtraction = nullptr;
};

void Refuses(const std::vector<Case>& cases) {
  // Every refused package leaves the machine as the first one found it.
  const Snapshot before = TakeSnapshot();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string bytes = Package(c.package);
    if (c.edit) c.edit(bytes);
    std::string log;
    {
      kittest::TempFolder pause;
      std::unique_ptr<kittest::FactsFile> facts;
      if (c.afterExtraction)
        facts = std::make_unique<kittest::FactsFile>("[process.pauses]\nAfterExtraction=" + pause / "at" + "\n");
      kittest::KitloaderStage stage(c.afterExtraction ? kittest::WindowsPathOf(KITLOADER_TESTABLE_EXE) : "");
      kittest::WriteTextFile(stage.folder() + "\\" + c.stagedAs, bytes);
      kittest::ChildProcess child = stage.Start(std::string("/s /i ") + c.stagedAs);
      if (c.afterExtraction) {
        if (kittest::WaitForFile(pause / "at.reached")) c.afterExtraction(kittest::ReadTextFile(pause / "at.reached"));
        kittest::WriteTextFile(pause / "at.go", "");
      }
      const kittest::ProcessResult run = child.Wait();
      log = stage.Log();
      EXPECT_EQ(c.exitCode, run.exitCode) << log;
      ExpectOnlyTheLog(stage);
    }
    EXPECT_NE(std::string::npos, log.find(c.logText)) << log;
    const std::set<std::string> changes = Changes(before, TakeSnapshot());
    EXPECT_TRUE(changes.empty()) << *changes.begin();
  }
}

void FlipAt(std::string& b, std::size_t at) { b[at] = static_cast<char>(b[at] ^ 1); }

// The verification's codes: TRUST_E_SUBJECT_NOT_TRUSTED, CERT_E_UNTRUSTEDROOT,
// TRUST_E_BAD_DIGEST (the project's own digest check: WinVerifyTrust under
// Wine passes a changed cabinet).
constexpr DWORD kNotTrusted = 0x800B0004, kUntrustedRoot = 0x800B0109, kBadDigest = 0x80096010;

TEST(HostileE2E, DamagedAndForeignPackagesAreRefusedAndChangeNothing) {
  Refuses({
      {"unsigned", "trust_unsigned", nullptr, kNotTrusted, "signed by untrusted vendor, \r\n"},
      {"unpinned signer", "trust_unpinned", nullptr, kUntrustedRoot, "the signer's chain is refused"},
      {"third-party signer", "trust_thirdparty", nullptr, kNotTrusted, "signed by untrusted vendor, Fabrikam Tools Ltd"},
      {"data changed", "trust_signer01", [](std::string& b) { FlipAt(b, SignatureAt(b) - 1); }, kBadDigest,
       "the cabinet does not match its signed digest"},
      {"header changed", "trust_signer01", [](std::string& b) { FlipAt(b, 32); }, kBadDigest,
       "the cabinet does not match its signed digest"},
      {"signature changed", "trust_signer01", [](std::string& b) { FlipAt(b, SignatureAt(b) + 60); }, kNotTrusted,
       "Failed to get signature of"},
      {"truncated", "trust_signer01", [](std::string& b) { b.resize(b.size() * 6 / 10); }, kNotTrusted,
       "Failed to get signature of"},
      {"not a cabinet", "trust_signer01", [](std::string& b) { b = "[Version]\r\nSignature=$Chicago$\r\n"; },
       kNotTrusted, "Failed to get signature of"},
      {"empty", "trust_signer01", [](std::string& b) { b.clear(); }, 0xFFFFFFFFu,
       "Installation package is empty"},
  });
}

TEST(HostileE2E, NamesThatLeaveThePackageAreRefusedAndChangeNothing) {
  const char* unsafe = "unsafe file name in cabinet, ";
  Refuses({
      {"..\\", "hostile_name0", nullptr, ERROR_BAD_PATHNAME, unsafe},
      {"../", "hostile_name1", nullptr, ERROR_BAD_PATHNAME, unsafe},
      {"drive letter", "hostile_name2", nullptr, ERROR_BAD_PATHNAME, unsafe},
      {"leading backslash", "hostile_name3", nullptr, ERROR_BAD_PATHNAME, unsafe},
      {"CON", "hostile_name4", nullptr, ERROR_BAD_PATHNAME, "a device name"},
      {"nul.dat", "hostile_name5", nullptr, ERROR_BAD_PATHNAME, "a device name"},
      {"stream", "hostile_name6", nullptr, ERROR_BAD_PATHNAME, "a drive letter or stream"},
      {"over MAX_PATH", "hostile_name7", nullptr, ERROR_BAD_PATHNAME, "a path longer than 259 characters"},
      {"'/' in a stored name", "hostile_name8", nullptr, ERROR_BAD_PATHNAME, "a '/' in the name"},
      {"INF file outside", "hostile_inffile", nullptr, ERROR_BAD_PATHNAME, "unsafe file name, "},
      {"section name climbs out of the system folder", "hostile_section", nullptr, ERROR_BAD_PATHNAME,
       "unsafe section name, "},
      {"DestDir climbs out", "hostile_destdir", nullptr, ERROR_BAD_PATHNAME, "unsafe destination folder"},
      {"hook runs a program outside", "hostile_hookrun", nullptr, ERROR_BAD_PATHNAME, "program outside the package"},
  });
}

// Takes the sample control off the machine (other tests and the demo leave it).
void ForgetTheControl() {
  for (const char* file : {"\\ombrixctl.dll", "\\ombrixctl.inf", "\\ombrixtrust.dat"})
    DeleteFileA((SGetDownloadedProgramFilesFolder().str() + file).c_str());
  for (const char* key : {"Classes\\CLSID\\{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}", "Classes\\Norvane.OmbrixControl.1",
                          "Classes\\TypeLib\\{2D6B9C31-7E85-4A0F-B3C2-9F1E4D7A6B58}",
                          "Microsoft\\Code Store Database\\Distribution Units\\{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}"})
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string("Software\\") + key).c_str());
}

// A file of the verified package replaced in the staging folder once it is
// unpacked (a working control of another version, an INF that writes to the
// system folder, a program for the hook): each run refuses with the digest
// code and places, registers and starts nothing.
TEST(HostileE2E, FilesReplacedAfterExtractionAreRefusedAndChangeNothing) {
  ForgetTheControl();
  const std::string control =
      kittest::ReadTextFile(kittest::WindowsPathOf(KITLOADER_BUILD_DIR "/suite/ombrixctl-2.0.0.1/ombrixctl.dll"));
  const char* changed = "the file is not the one the verified package holds";
  const auto plant = [](const char* name, std::string bytes) {
    return [name, bytes](const std::string& staging) { kittest::WriteTextFile(staging + name, bytes); };
  };
  Refuses({
      {"control", "ombrixctl-1.0.0.1", nullptr, kBadDigest, changed, "ombrixctl.cab", plant("ombrixctl.dll", control)},
      {"INF", "trust_signer01", nullptr, kBadDigest, changed, "pkg.cab",
       plant("pkg.inf", "[Add.Code]\r\nombrixtrust.dat=ombrixtrust.dat\r\n[ombrixtrust.dat]\r\nfile=thiscab\r\nDestDir=11\r\n")},
      {"hook program", "hook_tunnel", nullptr, kBadDigest, changed, "hook_tunnel.cab", plant("tunnelsetup.exe", control)},
  });
}

// A package of 200 MiB and one byte (a sparse file) for the Installer
// Service: the pipe client refuses it before anything is sent.
TEST(HostileE2E, APackageOverTheServiceLimitNeverReachesTheService) {
  kittest::FactsFile facts("[process]\nIntegrityLevel=0x2000\nAdministratorsMember=0\nElevationType=default\n");
  // The stand-in of the service runs as the system's account.
  kittest::FactsFile users("[users]\r\nombrixsvc.exe=S-1-5-18\r\n", "KITLOADER_TEST_USERS");
  kittest::TempFolder serverTemp, serverBin;
  kittest::CopyFileOrFail(kittest::WindowsPathOf(OMBRIXAPPINST_EXE), serverBin / "ombrixsvc.exe");
  const std::string stopName = "hostile-stop-" + std::to_string(GetCurrentProcessId());
  kit::UniqueHandle stop(CreateEventA(nullptr, TRUE, FALSE, stopName.c_str()));
  kittest::ChildProcess server = kittest::StartProcess(
      serverBin / "ombrixsvc.exe" + " /pipe 0 /idle 60000 /keep /result 0 /stop " + stopName, "",
      {{"TMP", serverTemp.path()}, {"TEMP", serverTemp.path()}});
  for (int i = 0; i < 200 && !WaitNamedPipeA("\\\\.\\pipe\\NORVANE_INSTALLER_SERVICE_PIPE", 100); ++i) Sleep(50);
  const Snapshot before = TakeSnapshot({serverTemp.path()});
  std::string log;
  {
    kittest::KitloaderStage stage(kittest::WindowsPathOf(KITLOADER_TESTABLE_EXE), "kl_hostile.exe");
    kit::UniqueFile big(CreateFileA((stage.folder() + "\\pkg.cab").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    0, nullptr));
    LARGE_INTEGER size{};
    size.QuadPart = 209715201;
    ASSERT_TRUE(SetFilePointerEx(big.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(big.get()));
    big.reset();
    stage.WriteSetupInf("[CabFiles]\r\npkg.cab=1\r\n[pkg.cab]\r\nCLSID={11111111-2222-3333-4444-555555555555}\r\n");
    const kittest::ProcessResult run = stage.Run("/s");
    log = stage.Log();
    EXPECT_EQ(kNotTrusted, run.exitCode) << log;  // the routes after the service's verify it
    ExpectOnlyTheLog(stage);
  }
  EXPECT_NE(std::string::npos, log.find("is too big (size: 209715201 bytes, limit: 209715200 bytes)")) << log;
  SetEvent(stop.get());
  EXPECT_EQ(0u, server.Wait(20000).exitCode);
  EXPECT_EQ(std::string::npos, kittest::ReadTextFile(serverTemp / "logterminal.txt").find("install request"));
  const std::set<std::string> changes = Changes(before, TakeSnapshot({serverTemp.path()}));
  EXPECT_TRUE(changes.empty()) << *changes.begin();
}

// A package replaced once it has passed its check would be installed
// unchecked. A second process that waits for the check and then tries, over
// and over, to overwrite the package or rename its folder never succeeds
// before the installation is over.
TEST(HostileE2E, APackageIsNotReplacedBetweenItsCheckAndItsInstallation) {
  kittest::KitloaderStage stage;
  kittest::WriteTextFile(stage.folder() + "\\ombrix_bulk.cab", Package("ombrix_bulk"));
  const std::string foreign = stage.folder() + "\\foreign.cab";
  kittest::WriteTextFile(foreign, Package("trust_thirdparty"));
  std::atomic<bool> done{false};
  std::string breach;
  std::thread swapper([&] {
    while (!done && breach.empty()) {
      if (stage.Log().find("VerifyCABEx(), exit, 0") == std::string::npos) {
        Sleep(1);
        continue;
      }
      // The package's folder (the installation unpacks into another).
      WIN32_FIND_DATAA data;
      kit::UniqueFind find(FindFirstFileA((stage.tempFolder() + "\\Norvane_TMP_*").c_str(), &data));
      std::string folder;
      while (find && folder.empty()) {
        folder = stage.tempFolder() + "\\" + data.cFileName;
        if (!kittest::FileExists(folder + "\\ombrix_bulk.cab")) folder.clear();
        if (folder.empty() && !FindNextFileA(find.get(), &data)) break;
      }
      if (folder.empty()) continue;
      const bool replaced = CopyFileA(foreign.c_str(), (folder + "\\ombrix_bulk.cab").c_str(), FALSE) ||
                            MoveFileExA(folder.c_str(), (folder + ".moved").c_str(), 0);
      // Once the installation is over the package may go.
      const std::string log = stage.Log();
      if (replaced && log.find("InstallControl(), exit, SUCCESS") == std::string::npos &&
          log.find("InstallControl(), exit, FAILURE") == std::string::npos)
        breach = folder;
    }
  });
  const kittest::ProcessResult run = stage.Start("/s /i ombrix_bulk.cab").Wait();
  done = true;
  swapper.join();
  EXPECT_EQ("", breach);
  EXPECT_EQ(0u, run.exitCode) << stage.Log();
  EXPECT_FALSE(kittest::FileExists(SGetDownloadedProgramFilesFolder().str() + "\\ombrixtrust.dat"));
  DeleteFileA((SGetDownloadedProgramFilesFolder().str() + "\\ombrixbulk.dat").c_str());
}

// Takes back what a run added: new files and folders, new keys and values.
void Undo(const std::set<std::string>& changes) {
  for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
    if ((*it)[0] != '+') continue;
    const std::string entry = it->substr(1, it->rfind('=') - 1), hive = entry.substr(0, 4);
    const std::size_t bar = entry.find('|');
    if (hive != "HKLM" && hive != "HKCU") {
      if (!DeleteFileA(entry.c_str())) RemoveDirectoryA(entry.c_str());
      continue;
    }
    HKEY root = hive == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    if (bar == std::string::npos) RegDeleteTreeA(root, entry.substr(5).c_str());
    else RegDeleteKeyValueA(root, entry.substr(5, bar - 5).c_str(), entry.substr(bar + 1).c_str());
  }
}

// Starts one run per package at the same moment (all from one folder, one
// log) on a machine in the state `before` and returns what they changed,
// taken back afterwards: the machine is in that state again.
std::set<std::string> InstallTogether(const std::vector<const char*>& packages, const Snapshot& before) {
  std::set<std::string> changes;
  {
    kittest::KitloaderStage stage;
    stage.WriteSetupInf(
        "[CabFiles]\r\nombrixctl.cab=1\r\n[ombrixctl.cab]\r\nCLSID={5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}\r\n"
        "FileVersion=1,0,0,1\r\nfile=thiscab\r\n");
    kittest::WriteTextFile(stage.folder() + "\\ombrixctl.cab", Package("ombrixctl-1.0.0.1"));
    kittest::WriteTextFile(stage.folder() + "\\pkg.cab", Package("trust_signer01"));
    std::vector<kittest::ChildProcess> runs;
    for (const char* package : packages) runs.push_back(stage.Start(std::string(package) == "control" ? "/s" : "/s /i pkg.cab"));
    for (kittest::ChildProcess& run : runs) {
      const kittest::ProcessResult result = run.Wait();
      EXPECT_TRUE(result.exitCode == 0) << result.exitCode << stage.Log();
    }
    const std::string log = stage.Log();
    std::size_t ends = 0;
    for (std::size_t at = 0; (at = log.find("WinMain(), exit, ", at)) != std::string::npos; ++at) ++ends;
    EXPECT_EQ(packages.size(), ends) << log;
  }
  changes = Changes(before, TakeSnapshot());
  Undo(changes);
  const std::set<std::string> left = Changes(before, TakeSnapshot());
  EXPECT_TRUE(left.empty()) << *left.begin();
  return changes;
}

// What only one of two sets of changes holds, "<" or ">" before each.
std::string Difference(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::string text;
  for (const std::string& e : a) text += b.count(e) ? "" : "< " + e + "\n";
  for (const std::string& e : b) text += a.count(e) ? "" : "> " + e + "\n";
  return text;
}

TEST(HostileE2E, RunsAtTheSameTimeEndAsOneCompleteInstall) {
  // Start from a machine without either.
  ForgetTheControl();
  const Snapshot clean = TakeSnapshot();
  const std::set<std::string> control = InstallTogether({"control"}, clean),
                              sample = InstallTogether({"sample"}, clean);
  ASSERT_FALSE(control.empty());
  ASSERT_FALSE(sample.empty()) << *control.begin();
  std::set<std::string> both = control;
  both.insert(sample.begin(), sample.end());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ("", Difference(control, InstallTogether({"control", "control"}, clean)));
    EXPECT_EQ("", Difference(sample, InstallTogether({"sample", "sample"}, clean)));
    EXPECT_EQ("", Difference(both, InstallTogether({"control", "sample"}, clean)));
  }
}

}  // namespace
