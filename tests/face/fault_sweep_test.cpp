// The writer and extraction of the handle-based interface, run with one
// failure injected at each call of each primitive in turn. Whatever fails,
// the call either succeeds with a result that reads back right, or returns
// an error with a message and leaves nothing behind: no temporary file, and
// an archive that was there before stays as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "acekit/acekit.h"
#include "common/temp_dir.h"
#include "face/face_support.h"
#include "platform/platform.h"

namespace {

using acekit::platform::Fault;
using namespace acekit::testing;

struct SweepCase {
  const char* what;
  int solid;
  const char* comment;  // null: none
};

class WriterFaults : public ::testing::TestWithParam<SweepCase> {
 protected:
  void SetUp() override {
    files_ = {{"a.txt", TextBytes(3000, 1)},
              {"b.exe", TextBytes(2000, 2)},
              {"c.txt", TextBytes(1500, 3)}};
    for (const auto& [name, data] : files_) dir_.Write("in/" + name, data);
    dir_.MakeDir("arc");
    dir_.Write("arc/x.ace", "the old archive");
    target_ = dir_.Native("arc/x.ace").string();
  }

  int Write() {
    acekit_options o{64, 1, GetParam().solid, 0};
    acekit_writer* w = nullptr;
    int rc = acekit_writer_create(&w, target_.c_str(), &o);
    if (rc < 0) {
      message_ = acekit_last_error(nullptr);
      return rc;
    }
    for (const auto& [name, data] : files_) {
      rc = acekit_writer_add_file(w, dir_.Native("in/" + name).string().c_str(), name.c_str());
      if (rc < 0) break;
    }
    if (rc == 0) rc = acekit_writer_add_memory(w, "m.txt", "memory", 6, kTime, 0);
    if (rc == 0 && GetParam().comment != nullptr) {
      rc = acekit_writer_set_comment(w, GetParam().comment);
    }
    if (rc < 0) {
      message_ = acekit_last_error(w);
      acekit_writer_abort(w);
      return rc;
    }
    rc = acekit_writer_finish(w);
    message_ = acekit_last_error(nullptr);
    return rc;
  }

  void Check(int rc, const std::string& where) {
    EXPECT_EQ(dir_.List("arc"), std::vector<std::string>{"x.ace"}) << where;
    if (rc < 0) {
      EXPECT_NE(message_, "") << where;
      EXPECT_EQ(dir_.Read("arc/x.ace"), "the old archive") << where;
      return;
    }
    std::string comment;
    std::map<std::string, std::string> got;
    for (const Got& g : ReadAll(target_, &comment)) got[g.name] = g.data;
    auto want = files_;
    want["m.txt"] = "memory";
    EXPECT_EQ(got, want) << where;
    EXPECT_EQ(comment, GetParam().comment != nullptr ? GetParam().comment : "") << where;
    dir_.Write("arc/x.ace", "the old archive");
  }

  TempDir dir_;
  std::map<std::string, std::string> files_;
  std::string target_;
  std::string message_;
};

TEST_P(WriterFaults, NothingHalfWrittenIsLeft) {
  for (int k = 0; k < static_cast<int>(Fault::kCount); ++k) {
    const auto fault = static_cast<Fault>(k);
    acekit::platform::DisarmFaults();
    Check(Write(), "clean run");
    const uint32_t calls = acekit::platform::FaultCalls(fault);
    for (uint32_t n = 1; n <= calls; ++n) {
      acekit::platform::DisarmFaults();
      acekit::platform::ArmFault(fault, n);
      const int rc = Write();
      acekit::platform::DisarmFaults();
      Check(rc, "fault " + std::to_string(k) + " #" + std::to_string(n));
      if (HasFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Writers, WriterFaults,
                         ::testing::Values(SweepCase{"normal", 0, nullptr},
                                           SweepCase{"solid", 1, nullptr},
                                           SweepCase{"commented", 0, "a comment"}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(ExtractFaults, NoTemporaryFileSurvives) {
  TempDir dir;
  const acekit_options o{64, 1, 1, 0};
  Files files;
  for (uint32_t i = 0; i < 3; ++i)
    files.emplace_back("d" + std::to_string(i) + "/f.txt", TextBytes(4000, i));
  const std::string archive = WriteMemory(dir, "a.ace", files, &o);
  const std::string out = dir.Native("out").string();
  auto run = [&] {
    acekit_reader* r = nullptr;
    int rc = acekit_reader_open(&r, archive.c_str());
    if (rc < 0) return rc;
    rc = acekit_reader_extract_all(r, out.c_str(), 0);
    if (rc < 0) {
      EXPECT_NE(std::string(acekit_last_error(r)), "");
    }
    acekit_reader_close(r);
    return rc;
  };
  for (int k = 0; k < static_cast<int>(Fault::kCount); ++k) {
    const auto fault = static_cast<Fault>(k);
    acekit::platform::DisarmFaults();
    ASSERT_EQ(run(), 3);
    const uint32_t calls = acekit::platform::FaultCalls(fault);
    for (uint32_t n = 1; n <= calls; ++n) {
      acekit::testing::fs::remove_all(dir.Native("out"));
      acekit::platform::DisarmFaults();
      acekit::platform::ArmFault(fault, n);
      const int rc = run();
      acekit::platform::DisarmFaults();
      const std::string where = "fault " + std::to_string(k) + " #" + std::to_string(n);
      for (const auto& e : acekit::testing::fs::recursive_directory_iterator(dir.Native())) {
        EXPECT_NE(e.path().filename().string().rfind(".acekit-", 0), 0u) << where;
      }
      if (rc >= 0) {
        for (const auto& [name, data] : files) EXPECT_EQ(dir.Read("out/" + name), data) << where;
      }
      if (::testing::Test::HasFailure()) return;
    }
  }
}

// One run over the entries at two threads, whose workers start while the
// walk still reads headers, taking every entry or only the first two (a
// solid run's list then ends before what was read ahead): a failure
// anywhere leaves no temporary file, and every entry reported done was
// written whole.
TEST(ExtractFaults, EachRunAtTwoThreads) {
  for (const int variant : {0, 1, 2, 3}) {
    const int solid = variant & 1;
    const bool all = variant < 2;
    SCOPED_TRACE(std::string(solid != 0 ? "solid" : "normal") + (all ? "" : ", two taken"));
    TempDir dir;
    const acekit_options o{64, 1, solid, 0};
    Files files;
    for (uint32_t i = 0; i < 6; ++i)
      files.emplace_back("d" + std::to_string(i % 2) + "/f" + std::to_string(i) + ".txt",
                         TextBytes(2000 + 3000 * i, i));
    const std::string archive = WriteMemory(dir, "a.ace", files, &o);
    const std::string out = dir.Native("out").string();
    struct Seen {
      bool all;
      std::vector<std::string> done;
    } seen{all, {}};
    auto event = [](void* ctx, const acekit_event* ev) {
      auto* seen = static_cast<Seen*>(ctx);
      const std::string name = ev->entry->name;
      if (ev->kind == ACEKIT_EVENT_DONE) seen->done.push_back(name);
      if (ev->kind != ACEKIT_EVENT_SELECT) return 0;
      return seen->all || name.ends_with("f0.txt") || name.ends_with("f1.txt") ? 1 : 0;
    };
    auto run = [&] {
      seen.done.clear();
      acekit_reader* r = nullptr;
      int rc = acekit_reader_open(&r, archive.c_str());
      if (rc < 0) return rc;
      acekit_reader_set_threads(r, 2);
      rc = acekit_reader_extract_each(r, out.c_str(), 0, event, &seen);
      acekit_reader_close(r);
      return rc;
    };
    for (int k = 0; k < static_cast<int>(Fault::kCount); ++k) {
      const auto fault = static_cast<Fault>(k);
      acekit::platform::DisarmFaults();
      ASSERT_EQ(run(), all ? static_cast<int>(files.size()) : 2);
      const uint32_t calls = acekit::platform::FaultCalls(fault);
      for (uint32_t n = 1; n <= calls; ++n) {
        acekit::testing::fs::remove_all(dir.Native("out"));
        acekit::platform::DisarmFaults();
        acekit::platform::ArmFault(fault, n);
        run();
        acekit::platform::DisarmFaults();
        const std::string where = "fault " + std::to_string(k) + " #" + std::to_string(n);
        for (const auto& e : acekit::testing::fs::recursive_directory_iterator(dir.Native())) {
          EXPECT_NE(e.path().filename().string().rfind(".acekit-", 0), 0u) << where;
        }
        for (const std::string& name : seen.done) {
          const auto it = std::find_if(files.begin(), files.end(),
                                       [&](const auto& f) { return f.first == name; });
          ASSERT_NE(it, files.end()) << where << " " << name;
          EXPECT_EQ(dir.Read("out/" + name), it->second) << where;
        }
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
}

}  // namespace
