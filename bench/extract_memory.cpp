// Heap held by extraction and testing of a normal archive, per window and
// thread count: the decoder of the calling thread, one per worker, the file
// buffers and the entries read ahead. The corpus is made here (a spread of
// small and mid-sized files, and four of 3 to 12 MB, which workers stream), so the
// figures need nothing but this program:
//
//   cmake --preset bench && cmake --build --preset bench --target acekit_extract_memory
//   build/bench/bench/acekit_extract_memory [WINDOW_KB...]
//
// Workers allocate nothing; every block is taken on the calling thread, so
// the counting allocator's single-thread accounting holds.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "format/header_search.h"
#include "ops/create.h"
#include "ops/extract.h"
#include "ops_session.h"
#include "select/masks.h"

namespace fs = std::filesystem;
using namespace acekit;
using bench::LibPath;
using State = bench::OpsSession;

namespace {

std::string Bytes(size_t n, unsigned seed) {
  static const char* const kWords[] = {"extract ", "window ", "thread ", "memory\n", "bound, "};
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(n);
  while (s.size() < n) {
    if (rng() % 5 == 0) {
      s.push_back(static_cast<char>(rng()));
    } else {
      s += kWords[rng() % 5];
    }
  }
  s.resize(n);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<int> windows = bench::WindowsFromArgs(argc, argv);
  const fs::path root = fs::temp_directory_path() / "acekit-extract-memory";
  fs::remove_all(root);
  fs::create_directories(root / "in");
  std::vector<std::string> names;
  for (unsigned i = 0; i < 300; ++i) {
    const size_t size =
        i < 4 ? (3u << 20) * (i + 1) : 500 + (static_cast<size_t>(i) * 7919) % 900000;
    names.push_back("f" + std::to_string(i));
    std::ofstream(root / "in" / names.back(), std::ios::binary) << Bytes(size, i);
  }
  std::printf("window_kb threads test_peak_kb extract_peak_kb\n");
  for (const int window : windows) {
    const fs::path archive_path = root / ("w" + std::to_string(window) + ".ace");
    const std::string archive = LibPath(archive_path);
    {
      State s;
      s.NewArchive(archive_path, root / "in", window, false);
      FileMaskList items{};
      select::InitMaskList(&items);
      for (const std::string& n : names) select::AppendMask(s.arc, n.c_str(), &items);
      s.arc.status = ops::CompressFileMaskList(s.ctx, &items);
      select::DoneMaskList(&items);
      if (s.arc.status != 0) {
        std::fprintf(stderr, "archive at %d KB: status %u\n", window, s.arc.status);
        return 1;
      }
    }
    for (const int threads : {1, 2, 16}) {
      setenv("ACEKIT_THREADS", std::to_string(threads).c_str(), 1);
      int64_t peak[2] = {};
      for (int extract = 0; extract < 2; ++extract) {
        fs::remove_all(root / "out");
        fs::create_directories(root / "out");
        State s;
        std::snprintf(s.arc.archive_name, sizeof s.arc.archive_name, "%s", archive.c_str());
        const platform::Handle h = platform::Open(s.arc.archive_name, 'r');
        format::FindMainHeader(h, s.arc);
        format::FindFirstFileHeader(h, s.arc);
        platform::Close(h);
        std::snprintf(s.settings.output_path, sizeof s.settings.output_path, "%s\\",
                      LibPath(root / "out").c_str());
        const bench::HeapMark before = bench::Heap();
        bench::ResetPeak();
        if (extract != 0) {
          s.arc.status = ops::ExtractFileMaskListArc(s.ctx, nullptr);
        } else {
          s.arc.status = ops::TestArc(s.ctx);
        }
        peak[extract] = bench::Heap().peak - before.current;
        if (s.arc.status != 0) {
          std::fprintf(stderr, "%d KB, %d threads: status %u\n", window, threads, s.arc.status);
          return 1;
        }
      }
      std::printf("%9d %7d %12lld %15lld\n", window, threads,
                  static_cast<long long>(peak[0] / 1024), static_cast<long long>(peak[1] / 1024));
    }
  }
  fs::remove_all(root);
  return 0;
}
