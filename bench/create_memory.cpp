// Heap held by the creation of a solid and of a normal archive of many
// small files, per window and thread count, and the time it took (a rough
// figure on a shared machine). The corpus is made here (files from 200 bytes
// to 60 KB, and two of 3 MB), so the figures need nothing but this program:
//
//   cmake --preset bench && cmake --build --preset bench --target acekit_create_memory
//   build/bench/bench/acekit_create_memory [WINDOW_KB...]
//
// Workers allocate nothing; every block is taken on the calling thread, so
// the counting allocator's single-thread accounting holds.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "ops/create.h"
#include "ops_session.h"
#include "select/masks.h"

namespace fs = std::filesystem;
using namespace acekit;
using bench::LibPath;
using State = bench::OpsSession;

namespace {

std::string Bytes(size_t n, unsigned seed) {
  static const char* const kWords[] = {"create ", "window ", "thread ", "memory\n", "bound, ",
                                       "solid ",  "group ",  "slide ",  "chain ",   "file "};
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(n);
  while (s.size() < n) {
    if (rng() % 7 == 0) {
      s += std::to_string(rng() % 100000);
    } else {
      s += kWords[rng() % 10];
    }
  }
  s.resize(n);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<int> windows = bench::WindowsFromArgs(argc, argv);
  const fs::path root = fs::temp_directory_path() / "acekit-create-memory";
  fs::remove_all(root);
  fs::create_directories(root / "in");
  std::vector<std::string> names;
  for (unsigned i = 0; i < 802; ++i) {
    const size_t size = i < 2 ? 3u << 20 : 200 + (static_cast<size_t>(i) * 7919) % 60000;
    names.push_back("f" + std::to_string(i) + ".txt");
    std::ofstream(root / "in" / names.back(), std::ios::binary) << Bytes(size, i);
  }
  std::printf("mode   window_kb threads create_peak_kb seconds\n");
  for (const int window : windows) {
    for (const int threads : {1, 2, 16}) {
      for (const bool solid : {true, false}) {
        setenv("ACEKIT_THREADS", std::to_string(threads).c_str(), 1);
        fs::remove(root / "a.ace");
        State s;
        s.NewArchive(root / "a.ace", root / "in", window, solid);
        FileMaskList items{};
        select::InitMaskList(&items);
        for (const std::string& n : names) select::AppendMask(s.arc, n.c_str(), &items);
        const bench::HeapMark before = bench::Heap();
        bench::ResetPeak();
        const auto t0 = std::chrono::steady_clock::now();
        s.arc.status = ops::CompressFileMaskList(s.ctx, &items);
        const double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const int64_t peak = bench::Heap().peak - before.current;
        select::DoneMaskList(&items);
        if (s.arc.status != 0) {
          std::fprintf(stderr, "%d KB, %d threads: status %u\n", window, threads, s.arc.status);
          return 1;
        }
        std::printf("%-6s %9d %7d %14lld %7.2f\n", solid ? "solid" : "normal", window, threads,
                    static_cast<long long>(peak / 1024), secs);
        std::fflush(stdout);
      }
    }
  }
  fs::remove_all(root);
  return 0;
}
