// The cost of the package acquisition: one download through DownloadPackage
// (URLConnectEx on its worker thread, 10000-byte pieces, progress messages to
// no window) against the same URL read with a plain WinINet loop of the same
// piece size on the calling thread, in the same run; with the memory each
// one took. Each side is measured twice, in turns, after a whole download
// that is not counted.
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

void Report(const char* name, double seconds, unsigned long long bytes, const Memory& before, const Memory& after) {
  std::printf("%-22s %8.2f s  %8.1f MiB/s  working set +%6.1f MiB (peak %6.1f MiB)  private +%6.1f MiB\n", name,
              seconds, static_cast<double>(bytes) / 1048576.0 / seconds,
              (static_cast<double>(after.workingSet) - static_cast<double>(before.workingSet)) / 1048576.0,
              static_cast<double>(after.peakWorkingSet) / 1048576.0,
              (static_cast<double>(after.privateBytes) - static_cast<double>(before.privateBytes)) / 1048576.0);
}

// One DownloadPackage of `url`: its seconds, the bytes it wrote, and the
// memory it took; the package and its folder are deleted afterwards.
double EngineDownload(USmartUpdateEx& engine, const char* url, unsigned long long* bytes, Memory* after) {
  GetCABInfo info;
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  UString path;
  try {
    path = engine.DownloadPackage("", url, &info);
  } catch (const UException& e) {
    std::fprintf(stderr, "DownloadPackage failed: %d\n", e.Code());
    return -1;
  }
  const double seconds = Seconds(start);
  *after = ReadMemory();
  *bytes = UGetFileSize(path.c_str());
  DeleteFileA(path.c_str());
  const std::string file = path.c_str();
  RemoveDirectoryA(file.substr(0, file.rfind('\\')).c_str());
  return seconds;
}

double PlainDownload(const char* url, const std::string& target, bool queryFirst, unsigned long long* bytes) {
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  *bytes = LibraryDownload(url, target, queryFirst);
  const double seconds = Seconds(start);
  DeleteFileA(target.c_str());
  return seconds;
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
  const std::string plainTarget = std::string(temp) + "download_bench_plain.bin";

  USmartUpdateEx engine;
  // The first download of a process pays for loading the library and for
  // the first large transfer of the server and the file system; it is made
  // whole, and not counted. Then the two sides take turns (engine, plain,
  // plain, engine) so that neither gains from coming later.
  unsigned long long bytes = 0, plainBytes = 0, moreBytes = 0;
  std::printf("%-22s %8.2f s  (not counted)\n", "warm-up plain loop", PlainDownload(url, plainTarget, false, &moreBytes));
  const Memory before = ReadMemory();
  Memory afterEngine{};
  const double engine1 = EngineDownload(engine, url, &bytes, &afterEngine);
  if (engine1 < 0) return 1;
  Report("DownloadPackage", engine1, bytes, before, afterEngine);
  const double plain1 = PlainDownload(url, plainTarget, false, &plainBytes);
  Report("plain WinINet loop", plain1, plainBytes, afterEngine, ReadMemory());
  const double plain2 = PlainDownload(url, plainTarget, false, &moreBytes);
  Report("plain WinINet loop", plain2, moreBytes, afterEngine, ReadMemory());
  const double engine2 = EngineDownload(engine, url, &moreBytes, &afterEngine);
  if (engine2 < 0) return 1;
  Report("DownloadPackage", engine2, moreBytes, before, afterEngine);
  const double engineSeconds = (engine1 + engine2) / 2, plainSeconds = (plain1 + plain2) / 2;

  const double querySeconds = PlainDownload(url, plainTarget, true, &moreBytes);
  Report("query-then-read loop", querySeconds, moreBytes, afterEngine, ReadMemory());
  if (plainBytes != bytes) std::fprintf(stderr, "sizes differ: %llu and %llu\n", bytes, plainBytes);
  std::printf("throughput ratio DownloadPackage / plain (means of two each): %.2f\n", plainSeconds / engineSeconds);
  std::printf("RESULT download %.4f %.4f %.2f >=0.9\n", engineSeconds, plainSeconds, plainSeconds / engineSeconds);
  return 0;
}
