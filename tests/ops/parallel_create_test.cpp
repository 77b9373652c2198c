// Archives made with several threads against the serial ones: the same
// bytes, the same host calls in the same order with the same arguments, and
// after a cancel the same end.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/sanitized.h"
#include "common/status.h"
#include "format/header_search.h"
#include "format/name_text.h"
#include "ops/create.h"
#include "ops/write_host.h"
#include "platform/platform.h"

namespace acekit::ops {
namespace {

using acekit::testing::Masks;
using acekit::testing::RandomBytes;
using acekit::testing::TempDir;
using acekit::testing::TextBytes;

class ScopedThreads {
 public:
  explicit ScopedThreads(int n) { acekit::testing::SetEnv("ACEKIT_THREADS", std::to_string(n)); }
  ~ScopedThreads() { acekit::testing::UnsetEnv("ACEKIT_THREADS"); }
  ScopedThreads(const ScopedThreads&) = delete;
  ScopedThreads& operator=(const ScopedThreads&) = delete;
};

// Every host call as text, in order.
struct HostLog {
  std::vector<std::string> calls;
  int cancel_at = -1;  // the progress call (from 0) that answers "stop"
  int progress = 0;
};

int32_t ACEKIT_CALL OnName(ArcContext ctx, const char* source, const char* target) {
  reinterpret_cast<HostLog*>(ctx)->calls.push_back(std::string("name ") + source + " " + target);
  return 1;
}
int32_t ACEKIT_CALL OnSkip(ArcContext ctx, const char* name) {
  reinterpret_cast<HostLog*>(ctx)->calls.push_back(std::string("skip ") + name);
  return 1;
}
int32_t ACEKIT_CALL OnProgress(ArcContext ctx, int32_t done, int32_t total) {
  auto* log = reinterpret_cast<HostLog*>(ctx);
  log->calls.push_back("progress " + std::to_string(done) + " " + std::to_string(total));
  return log->progress++ == log->cancel_at ? 0 : 1;
}

struct Made {
  uint32_t status = 0;
  bool exists = false;
  std::string bytes;
  HostLog log;
};

class ParallelCreate : public ::testing::Test {
 protected:
  // Files around the sizes that matter for a window of d bytes, in the
  // host's order: empty, shorter than the 264 bytes a search reads past
  // its position, exactly d and 2d, several windows long, incompressible
  // (stored) both short and long, alone and in a cluster, many small ones
  // (in a solid archive several windows of them), runs of tiny ones, a
  // directory and an item that has vanished.
  std::vector<std::string> Make(size_t d) {
    std::vector<std::string> items;
    auto add = [&](const std::string& name, const std::string& bytes) {
      dir_.Write("in\\" + name, bytes);
      items.push_back(name);
    };
    add("E0.TXT", "");
    add("T1.TXT", TextBytes(100, 1));
    add("R1.BIN", RandomBytes(3000, 2));
    add("D1.TXT", TextBytes(d, 3));
    for (int i = 0; i < 12; ++i) {
      add("S" + std::to_string(i) + ".TXT", TextBytes(1 + 997 * static_cast<size_t>(i), 10 + i));
    }
    // More tiny files in a row than go to a worker at once, one of them
    // stored.
    for (int i = 0; i < 21; ++i) {
      add("N" + std::to_string(i) + ".TXT",
          i == 9 ? RandomBytes(120, 90) : TextBytes(10 + 37 * static_cast<size_t>(i), 70 + i));
    }
    // A solid run of files shorter than the window that spans several of
    // them, with an incompressible one stored in its middle.
    for (size_t i = 0; i < 24; ++i) {
      add("M" + std::to_string(i) + ".C", TextBytes(150 + d * ((i * 7) % 5) / 9, 40 + i));
    }
    add("M11R.C", RandomBytes(d / 3, 30));
    // A cluster of incompressible files, as compressed ones sort together:
    // tiny and not, one that looks incompressible but compresses (a random
    // block repeated), and compressible ones after the stored ones.
    const size_t sizes[] = {1, 200, 4000, 0, d / 4, 263, 9000, 50};
    for (size_t i = 0; i < 8; ++i) {
      std::string bytes = RandomBytes(sizes[i], static_cast<unsigned>(60 + i));
      if (i == 3) {
        for (int k = 0; k < 8; ++k) bytes += RandomBytes(1200, 59);
      }
      add("Z" + std::to_string(i) + ".GZ", bytes);
    }
    add("Z8.GZ", TextBytes(5000, 68));
    add("Z9.GZ", TextBytes(d / 2, 69));
    add("D2.TXT", TextBytes(2 * d, 4));
    add("BIG.TXT", TextBytes(3 * d + 5000, 5) + RandomBytes(d / 2, 6) + TextBytes(d, 7));
    add("E1.TXT", "");
    add("T2.TXT", TextBytes(263, 8));
    add("RND.DAT", RandomBytes(2 * d + 100, 9));
    add("T3.TXT", TextBytes(265, 11));
    dir_.MakeDir("in\\SUB");
    items.push_back("SUB");
    items.push_back("GONE.TXT");
    add("T4.TXT", TextBytes(5000, 12));
    return items;
  }

  Made Create(const std::vector<std::string>& items, int32_t dict_kb, int32_t level, bool solid,
              int threads, int cancel_at = -1) {
    ScopedThreads scoped(threads);
    Made made;
    made.log.cancel_at = cancel_at;
    format::ArcState arc;
    format::Settings settings;
    settings.desc = format::kArcerDefaults;
    settings.desc.mode() = solid ? 4 : 0;
    settings.desc.dict_kb() = dict_kb;
    settings.desc.level() = level;
    HostHooks hooks;
    const auto ctx = reinterpret_cast<ArcContext>(&made.log);
    hooks.file_name = FileNameHook{&OnName, ctx};
    hooks.skip = SkipHook{&OnSkip, ctx};
    hooks.progress = ProgressHook{&OnProgress, ctx};
    int32_t info[23] = {};
    int32_t extra[12] = {};
    Context c{arc, settings, hooks, info, extra};
    arc.new_archive = 1;
    const std::string name = dir_.Lib("X.ACE");
    format::CopyText(arc.archive_name, sizeof arc.archive_name, name);
    format::CopyText(settings.input_path, format::kPathSize, dir_.Lib("in"));
    format::AppendText(settings.input_path, format::kPathSize, "\\");
    Masks masks(items);
    c.arc.status = CompressFileMaskList(c, masks.get());
    made.status = arc.status;
    made.exists = dir_.Exists("X.ACE");
    if (made.exists) made.bytes = dir_.Read("X.ACE");
    std::filesystem::remove(dir_.Native("X.ACE"));
    return made;
  }

  // The archive past its main header, which holds the time it was made.
  static std::string Entries(const std::string& bytes) {
    if (bytes.size() < 4) return bytes;
    const size_t head = 4 + (static_cast<uint8_t>(bytes[2]) | static_cast<uint8_t>(bytes[3]) << 8);
    return bytes.substr(head < bytes.size() ? head : bytes.size());
  }

  static void ExpectSame(const Made& serial, const Made& parallel, const std::string& where) {
    EXPECT_EQ(serial.status, parallel.status) << where;
    EXPECT_EQ(serial.exists, parallel.exists) << where;
    EXPECT_TRUE(Entries(serial.bytes) == Entries(parallel.bytes)) << where;
    EXPECT_EQ(serial.log.calls, parallel.log.calls) << where;
  }

  TempDir dir_;
};

TEST_F(ParallelCreate, EveryThreadCountMakesTheSerialArchive) {
  struct Case {
    int32_t dict_kb;
    int32_t level;
  };
  std::vector<Case> cases = {Case{64, 1}, Case{64, 4}, Case{256, 2}};
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  cases = {Case{64, 2}};  // the sanitizers make the encoder slow
#endif
  for (const Case c : cases) {
    const std::vector<std::string> items = Make(size_t{1024} * static_cast<size_t>(c.dict_kb));
    for (const bool solid : {false, true}) {
      const Made serial = Create(items, c.dict_kb, c.level, solid, 1);
      ASSERT_EQ(serial.status, kOk);
      // Only the vanished item is skipped.
      ASSERT_EQ(std::count_if(serial.log.calls.begin(), serial.log.calls.end(),
                              [](const std::string& s) { return s.rfind("skip ", 0) == 0; }),
                1);
      for (const int threads : {2, 3, 7}) {
        if (acekit::testing::kSanitized && threads == 3) continue;
        ExpectSame(serial, Create(items, c.dict_kb, c.level, solid, threads),
                   std::to_string(c.dict_kb) + " KB, level " + std::to_string(c.level) +
                       (solid ? ", solid, " : ", normal, ") + std::to_string(threads) + " threads");
      }
    }
  }
}

TEST_F(ParallelCreate, ACancelEndsAsTheSerialOne) {
  const std::vector<std::string> items = Make(65536);
  for (const bool solid : {false, true}) {
    const Made all = Create(items, 64, 2, solid, 1);
    const int calls = all.log.progress;
    for (const int at : {0, 1, calls / 4, calls / 2, calls - 1}) {
      const Made serial = Create(items, 64, 2, solid, 1, at);
      EXPECT_EQ(serial.status, kCancelled);
      EXPECT_FALSE(serial.exists);
      for (const int threads : {2, 7}) {
        ExpectSame(serial, Create(items, 64, 2, solid, threads, at),
                   "cancel at " + std::to_string(at) + ", " + std::to_string(threads) + " threads" +
                       (solid ? ", solid" : ""));
      }
    }
  }
}

}  // namespace
}  // namespace acekit::ops
