// The cost of the install request's streaming: a 200 MiB package through
// srvInstallControl to the suite's pipe server that only counts the bytes
// (ombrixappinst.exe /discard), against the same file copied through a raw
// pipe in this process (16 KiB and 64 KiB writes, a reader thread that counts),
// in the same run (best of three rounds each); with the memory the client
// took over all rounds.
//
//   build/wine-run build/bench/pipe_bench.exe
//
// The package goes into a fresh folder under the temporary folder and is
// deleted afterwards; the server is stopped through its event.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench_measure.h"
#include "foundation/handles.h"
#include "installer_service/installer_service.h"
#include "installer_service/pipe_messages.h"

namespace {

void Report(const char* name, double seconds, const Memory& before, const Memory& after) {
  std::printf("%-20s %7.2f s  %8.1f MiB/s  working set %+7.2f MiB  private %+7.2f MiB\n", name, seconds,
              200.0 / seconds, (double(after.workingSet) - double(before.workingSet)) / 1048576.0,
              (double(after.privateBytes) - double(before.privateBytes)) / 1048576.0);
}

// The same bytes through a pipe of this process: what the platform gives.
double RawPipeCopy(const std::string& package, DWORD block) {
  const char* name = "\\\\.\\pipe\\pipe_bench_raw";
  kit::UniqueFile server(CreateNamedPipeA(
      name, PIPE_ACCESS_INBOUND, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr));
  unsigned long long counted = 0;
  std::thread reader([&] {
    ConnectNamedPipe(server.get(), nullptr);
    std::vector<char> buffer(65536);
    DWORD got = 0;
    while (ReadFile(server.get(), buffer.data(), 65536, &got, nullptr) || GetLastError() == ERROR_MORE_DATA)
      counted += got;
  });
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  kit::UniqueFile client(CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  kit::UniqueFile file(CreateFileA(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  std::vector<char> buffer(block);
  DWORD got = 0, put = 0;
  while (ReadFile(file.get(), buffer.data(), block, &got, nullptr) && got)
    WriteFile(client.get(), buffer.data(), got, &put, nullptr);
  client.reset();
  reader.join();
  const double seconds = Seconds(start);
  if (counted != pipeproto::kMaxPackageSize) std::fprintf(stderr, "raw copy counted %llu bytes\n", counted);
  return seconds;
}

}  // namespace

int main() {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "pipe_bench_" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string package = folder + "\\package.cab";
  {
    kit::UniqueFile file(CreateFileA(package.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
    DWORD put = 0;
    for (int i = 0; i < 200; ++i) WriteFile(file.get(), block.data(), DWORD(block.size()), &put, nullptr);
  }

  std::string server = "Z:" KITLOADER_OMBRIXAPPINST;
  for (char& c : server) c = c == '/' ? '\\' : c;
  const std::string stopName = "pipe_bench_stop_" + std::to_string(GetCurrentProcessId());
  kit::UniqueHandle stop(CreateEventA(nullptr, TRUE, FALSE, stopName.c_str()));
  std::string command = server + " /pipe 1 /discard /idle 120000 /stop " + stopName;
  // The server's log and private folder go into the bench's folder.
  SetEnvironmentVariableA("TMP", folder.c_str());
  SetEnvironmentVariableA("TEMP", folder.c_str());
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
    std::fprintf(stderr, "cannot start %s\n", server.c_str());
    return 1;
  }
  kit::ProcessInformation process;
  process.Adopt(pi);
  while (!WaitNamedPipeA(pipeproto::PipeName(1), 100)) Sleep(50);

  // Three rounds of the three copies, interleaved; each copy's best round
  // counts (the machine's other load only ever slows a round down).
  RawPipeCopy(package, 65536);  // warms the file cache for every run
  double raw = 1e9, raw64 = 1e9, client = 1e9;
  int result = 0;
  const Memory before = ReadMemory();
  for (int round = 0; round < 3; ++round) {
    raw = std::min(raw, RawPipeCopy(package, pipeproto::kStreamBlock));
    raw64 = std::min(raw64, RawPipeCopy(package, 65536));
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    result |= srvInstallControl(package.c_str(), 0, 1);
    client = std::min(client, Seconds(start));
  }
  const Memory after = ReadMemory();
  Report("srvInstallControl", client, before, after);
  Report("raw pipe, 16 KiB", raw, before, before);
  Report("raw pipe, 64 KiB", raw64, before, before);
  std::printf("result %d, throughput ratio srvInstallControl / raw pipe of the same blocks: %.2f (of 64 KiB: %.2f)\n",
              result, raw / client, raw64 / client);
  const double growth = (double(after.privateBytes) - double(before.privateBytes)) / 1048576.0;
  std::printf("RESULT pipe_200MiB %.4f %.4f %.2f >=0.8\n", client, raw, raw / client);
  std::printf("RESULT pipe_memory_MiB %.3f 1.000 %.2f <1.0\n", growth, growth);

  SetEvent(stop.get());
  WaitForSingleObject(process.process.get(), 20000);
  DeleteFileA(package.c_str());
  RemoveDirectoryA((folder + "\\OmbrixInstaller1").c_str());
  DeleteFileA((folder + "\\logterminal.txt").c_str());
  RemoveDirectoryA(folder.c_str());
  return result == 0 ? 0 : 1;
}
