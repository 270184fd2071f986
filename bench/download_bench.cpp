// The cost of the package acquisition: one download through DownloadPackage
// (URLConnectEx on its worker thread, 10000-byte pieces, progress messages to
// no window) against the same URL read with a plain WinINet loop of the same
// piece size on the calling thread, in the same run; with the memory each
// one took.
//
//   tests/support/http_test_server.sh start build/http-server
//   build/wine-run build/bench/download_bench.exe http://127.0.0.1:<port>/bytes/209715200
//   tests/support/http_test_server.sh stop build/http-server
//
// The files go into a fresh folder under the temporary folder and are
// deleted afterwards.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_measure.h"
#include "engine/USmartUpdateEx.h"
#include "foundation/m_io.h"
#include "http/URLConnect.h"

namespace {

// The same bytes through the library alone, on the calling thread, written
// to `target` 10000 bytes at a time at most. Plain: read 10000 bytes at a
// time. Query first: the engine's own calls without its worker (ask what is
// available, read at most that much); its difference to DownloadPackage is
// the hand-over of each piece between the two threads.
unsigned long long LibraryDownload(const char* url, const std::string& target, bool queryFirst) {
  kit::UniqueInternet root(InternetOpenA("bench", 0, nullptr, nullptr, 0));
  kit::UniqueInternet request(InternetOpenUrlA(root.get(), url, nullptr, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  kit::UniqueFile file(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!request || !file) return 0;
  std::vector<char> piece(10000);
  unsigned long long total = 0, pieces = 0;
  for (;;) {
    DWORD wanted = static_cast<DWORD>(piece.size()), read = 0;
    if (queryFirst) {
      DWORD available = 0;
      if (!InternetQueryDataAvailable(request.get(), &available, 0, 0) || !available) break;
      if (available < wanted) wanted = available;
    }
    if (!InternetReadFile(request.get(), piece.data(), wanted, &read) || !read) break;
    DWORD written = 0;
    WriteFile(file.get(), piece.data(), read, &written, nullptr);
    total += read;
    ++pieces;
  }
  if (queryFirst && pieces)
    std::printf("query-then-read pieces: %llu, %.0f bytes each\n", pieces, static_cast<double>(total) / pieces);
  return total;
}

// The hand-over alone: the caller signals a command event and waits for a
// done event that a second thread signals back, `rounds` times, with no
// transfer at all.
double HandOverSeconds(unsigned long long rounds) {
  struct Pair {
    kit::UniqueHandle command{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    kit::UniqueHandle done{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    unsigned long long rounds;
  } pair;
  pair.rounds = rounds;
  struct Worker {
    static DWORD WINAPI Run(void* context) {
      Pair* p = static_cast<Pair*>(context);
      for (unsigned long long i = 0; i < p->rounds; ++i) {
        WaitForSingleObject(p->command.get(), INFINITE);
        SetEvent(p->done.get());
      }
      return 0;
    }
  };
  kit::UniqueHandle thread(CreateThread(nullptr, 0, Worker::Run, &pair, 0, nullptr));
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  for (unsigned long long i = 0; i < rounds; ++i) {
    SetEvent(pair.command.get());
    WaitForSingleObject(pair.done.get(), INFINITE);
  }
  const double seconds = Seconds(start);
  WaitForSingleObject(thread.get(), INFINITE);
  return seconds;
}

void Report(const char* name, double seconds, unsigned long long bytes, const Memory& before, const Memory& after) {
  std::printf("%-22s %8.2f s  %8.1f MiB/s  working set +%6.1f MiB (peak %6.1f MiB)  private +%6.1f MiB\n", name,
              seconds, static_cast<double>(bytes) / 1048576.0 / seconds,
              (static_cast<double>(after.workingSet) - static_cast<double>(before.workingSet)) / 1048576.0,
              static_cast<double>(after.peakWorkingSet) / 1048576.0,
              (static_cast<double>(after.privateBytes) - static_cast<double>(before.privateBytes)) / 1048576.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: download_bench <url>\n");
    return 2;
  }
  const char* url = argv[1];
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);

  USmartUpdateEx engine;
  GetCABInfo info;
  // The first use of the library in a process loads it and its helpers and
  // sets up its settings; neither side pays that inside its measurement.
  const std::string warmUpTarget = std::string(temp) + "download_bench_warm_up.bin";
  LibraryDownload((std::string(url).substr(0, std::string(url).rfind('/') + 1) + "1").c_str(), warmUpTarget, false);
  DeleteFileA(warmUpTarget.c_str());
  Memory before = ReadMemory();
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  UString path;
  try {
    path = engine.DownloadPackage("", url, &info);
  } catch (const UException& e) {
    std::fprintf(stderr, "DownloadPackage failed: %d\n", e.Code());
    return 1;
  }
  const double engineSeconds = Seconds(start);
  const Memory afterEngine = ReadMemory();
  const unsigned long long bytes = UGetFileSize(path.c_str());
  Report("DownloadPackage", engineSeconds, bytes, before, afterEngine);
  DeleteFileA(path.c_str());
  const std::string file = path.c_str();
  RemoveDirectoryA(file.substr(0, file.rfind('\\')).c_str());

  const std::string plainTarget = std::string(temp) + "download_bench_plain.bin";
  QueryPerformanceCounter(&start);
  const unsigned long long plainBytes = LibraryDownload(url, plainTarget, false);
  const double plainSeconds = Seconds(start);
  Report("plain WinINet loop", plainSeconds, plainBytes, afterEngine, ReadMemory());
  DeleteFileA(plainTarget.c_str());

  QueryPerformanceCounter(&start);
  const unsigned long long queryBytes = LibraryDownload(url, plainTarget, true);
  const double querySeconds = Seconds(start);
  Report("query-then-read loop", querySeconds, queryBytes, afterEngine, ReadMemory());
  DeleteFileA(plainTarget.c_str());
  const unsigned long long rounds = (bytes + 8191) / 8192;
  const double handOver = HandOverSeconds(rounds);
  std::printf("%-22s %8.2f s  (%llu rounds, %.1f us each)\n", "event hand-over alone", handOver, rounds,
              handOver * 1e6 / static_cast<double>(rounds));
  if (plainBytes != bytes) std::fprintf(stderr, "sizes differ: %llu and %llu\n", bytes, plainBytes);
  std::printf("throughput ratio DownloadPackage / plain: %.2f\n", plainSeconds / engineSeconds);
  std::printf("RESULT download %.4f %.4f %.2f >=0.9\n", engineSeconds, plainSeconds, plainSeconds / engineSeconds);
  return 0;
}
