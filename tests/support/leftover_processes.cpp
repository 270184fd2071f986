// Every process a test program starts, directly or through the programs it
// runs (COM servers, installers, relaunched copies), is in one job object of
// the test program. Whatever is still running when the tests end is ended and
// named: such a process would keep the test runner's output pipe open (Wine
// hands the standard handles down to every child), and it must not be seen by
// the next test either. Orphans count too: a process whose parent has gone is
// still in the job.
//
// Linked into every test program, so the environment registers itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "foundation/handles.h"
#include "foundation/m_strings.h"

namespace {

// The ids of the job's processes other than this one.
std::vector<ULONG_PTR> OtherMembers(HANDLE job) {
  std::vector<ULONG_PTR> members;
  std::vector<unsigned char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + 1024 * sizeof(ULONG_PTR));
  auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
  if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, list, static_cast<DWORD>(buffer.size()), nullptr))
    return members;
  for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i)
    if (list->ProcessIdList[i] != GetCurrentProcessId()) members.push_back(list->ProcessIdList[i]);
  return members;
}

class LeftoverProcesses : public ::testing::Environment {
 public:
  void SetUp() override {
    m_job.reset(CreateJobObjectA(nullptr, nullptr));
    if (m_job && !AssignProcessToJobObject(m_job.get(), GetCurrentProcess())) m_job.reset();
  }

  void TearDown() override {
    if (!m_job) return;
    // Again while ending one lets another start (a server asked for by a
    // program that was just ended); each process is handled once.
    std::vector<ULONG_PTR> handled;
    for (int sweep = 0; sweep < 5; ++sweep) {
      bool found = false;
      for (ULONG_PTR id : OtherMembers(m_job.get())) {
        if (std::find(handled.begin(), handled.end(), id) != handled.end()) continue;
        handled.push_back(id);
        End(static_cast<DWORD>(id));
        found = true;
      }
      if (!found) return;
      Sleep(200);
    }
  }

 private:
  static void End(DWORD id) {
    kit::UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                                          FALSE, id));
    if (!process) return;
    char image[MAX_PATH * 2] = "?";
    DWORD length = sizeof image;
    QueryFullProcessImageNameA(process.get(), 0, image, &length);
    // Wine's desktop serves every program of the prefix: named, never ended.
    const bool desktop = UString(image).EndsWithNoCase("\\explorer.exe");
    std::fprintf(stderr, "[ LEFTOVER ] still running when the tests ended%s: %s (process %lu)\n",
                 desktop ? "" : ", now ended", image, static_cast<unsigned long>(id));
    std::fflush(stderr);
    if (desktop) return;
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 10000);
  }

  kit::UniqueHandle m_job;
};

const ::testing::Environment* const g_leftovers = ::testing::AddGlobalTestEnvironment(new LeftoverProcesses);

}  // namespace
