// The cost of a whole kitloader.exe run from start to exit against
// trivial.exe (a program of the same toolchain that only starts and exits),
// started alternately from this process so both see the same machine.
//
//   build/wine-run build/bench/start_bench.exe <name> <rounds> <goal>[,<goal vs verify>] <stage folder>
//                                              [<signed file> | /window]
//
// The stage folder holds kitloader.exe, its setup.inf and packages, and
// trivial.exe; both run with the stage folder as their current and temporary
// folder (the log lands there). One run of each comes first and is not
// counted (it installs what a no-op run then finds current). Prints the
// median and spread of each and one line
//   RESULT <name> <median s> <reference median s> <ratio> <goal>
// With a signed file, trivial.exe also runs with that file, checking its
// signature once (what every no-op run must do for its installed control),
// and a second line compares against that: "<name>_vs_verify" (with the
// second goal, if given). With /window, trivial.exe creates and destroys one
// hidden window, as a program with a progress window must.
//
//   build/wine-run build/bench/start_bench.exe growth <rounds> <name>=<stage folder>...
//
// runs kitloader.exe of every stage once per round, in turn, so that how the
// cost grows from one stage to the next is measured under the same load; one
// RESULT line per stage, against trivial.exe of the first stage.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_measure.h"
#include "foundation/handles.h"

namespace {

// Seconds from CreateProcess until the process has ended; the exit code in
// `code`.
double TimeRun(const std::string& program, const std::string& arguments, const std::string& folder, DWORD& code) {
  std::string command = "\"" + program + "\"" + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &started)) {
    std::fprintf(stderr, "cannot start %s: %lu\n", program.c_str(), GetLastError());
    std::exit(1);
  }
  kit::ProcessInformation process;
  process.Adopt(started);
  WaitForSingleObject(process.process.get(), INFINITE);
  const double seconds = Seconds(start);
  GetExitCodeProcess(process.process.get(), &code);
  return seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Report(const char* what, const std::vector<double>& times) {
  std::printf("%-12s median %7.3f s  spread %7.3f .. %7.3f s  (%zu runs)\n", what, Median(times),
              *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()),
              times.size());
}

// Runs kitloader.exe of one stage; false when it did not succeed.
bool RunStage(const std::string& name, const std::string& stage, std::vector<double>& times) {
  SetEnvironmentVariableA("TMP", stage.c_str());
  SetEnvironmentVariableA("TEMP", stage.c_str());
  DWORD code = 0;
  times.push_back(TimeRun(stage + "\\kitloader.exe", " /s", stage, code));
  if (code != 0) std::fprintf(stderr, "%s: kitloader.exe ended with %lu\n", name.c_str(), code);
  return code == 0;
}

int Growth(int rounds, int count, char** stages) {
  std::vector<std::string> names, folders;
  for (int i = 0; i < count; ++i) {
    const std::string pair = stages[i];
    const std::size_t equals = pair.find('=');
    if (equals == std::string::npos) return 2;
    names.push_back(pair.substr(0, equals));
    folders.push_back(pair.substr(equals + 1));
  }
  std::vector<std::vector<double>> times(names.size());
  std::vector<double> reference, unused;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (!RunStage(names[i], folders[i], unused)) return 1;
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (!RunStage(names[i], folders[i], times[i])) return 1;
    DWORD code = 0;
    reference.push_back(TimeRun(folders[0] + "\\trivial.exe", "", folders[0], code));
  }
  Report("trivial", reference);
  for (std::size_t i = 0; i < names.size(); ++i) {
    Report(names[i].c_str(), times[i]);
    std::printf("RESULT %s %.4f %.4f %.2f linear\n", names[i].c_str(), Median(times[i]), Median(reference),
                Median(times[i]) / Median(reference));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "growth" && std::atoi(argv[2]) > 0)
    return Growth(std::atoi(argv[2]), argc - 3, argv + 3);
  if ((argc != 5 && argc != 6) || std::atoi(argv[2]) <= 0) {
    std::fprintf(stderr, "usage: start_bench <name> <rounds> <goal> <stage folder> [<signed file>]\n");
    return 2;
  }
  const std::string stage = argv[4];
  const int rounds = std::atoi(argv[2]);
  SetEnvironmentVariableA("TMP", stage.c_str());
  SetEnvironmentVariableA("TEMP", stage.c_str());
  const std::string kitloader = stage + "\\kitloader.exe", trivial = stage + "\\trivial.exe";

  DWORD code = 0;
  TimeRun(kitloader, " /s", stage, code);
  if (code != 0) {
    std::fprintf(stderr, "%s: kitloader.exe ended with %lu\n", argv[1], code);
    return 1;
  }
  const std::string extra = argc == 6 ? argv[5] : "";
  const std::string referenceArgs = extra == "/window" ? " /window" : "";
  TimeRun(trivial, referenceArgs, stage, code);
  const std::string signedFile = extra.empty() || extra == "/window" ? std::string() : " " + extra;
  const std::string goals = argv[3];
  const std::string goal = goals.substr(0, goals.find(','));
  const std::string verifyGoal = goals.find(',') == std::string::npos ? goal : goals.substr(goals.find(',') + 1);
  std::vector<double> ours, reference, verify;
  for (int round = 0; round < rounds; ++round) {
    ours.push_back(TimeRun(kitloader, " /s", stage, code));
    if (code != 0) {
      std::fprintf(stderr, "%s: kitloader.exe ended with %lu in round %d\n", argv[1], code, round);
      return 1;
    }
    reference.push_back(TimeRun(trivial, referenceArgs, stage, code));
    if (signedFile.empty()) continue;
    verify.push_back(TimeRun(trivial, signedFile, stage, code));
    if (code != 0) std::fprintf(stderr, "%s: the signature check of%s failed\n", argv[1], signedFile.c_str());
  }
  std::printf("%s:\n", argv[1]);
  Report("kitloader", ours);
  Report("trivial", reference);
  const double ratio = Median(ours) / Median(reference);
  std::printf("RESULT %s %.4f %.4f %.2f %s\n", argv[1], Median(ours), Median(reference), ratio, goal.c_str());
  if (verify.empty()) return 0;
  Report("trivial+sig", verify);
  std::printf("RESULT %s_vs_verify %.4f %.4f %.2f %s\n", argv[1], Median(ours), Median(verify),
              Median(ours) / Median(verify), verifyGoal.c_str());
  return 0;
}
