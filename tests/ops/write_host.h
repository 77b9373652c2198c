// A host program in miniature for the export-level tests of the writing
// operations: it registers its procedures the way a host does, records
// what the library shows it and answers as a test tells it to. Archives
// are made, listed, tested and extracted, and their comments set and read,
// only through the exports, each helper in one session of its own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "exports.h"
#include "format/crc32.h"
#include "ops/write_fixture.h"
#include "platform/platform.h"

namespace acekit::testing {

class Masks {
 public:
  explicit Masks(const std::vector<std::string>& items = {}) {
    InitFileMaskList(&list_);
    for (const auto& m : items) AppendFileMask(m.c_str(), &list_);
  }
  ~Masks() { DoneFileMaskList(&list_); }
  Masks(const Masks&) = delete;
  Masks& operator=(const Masks&) = delete;
  FileMaskList* get() { return &list_; }
  bool empty() const { return list_.first == nullptr; }

 private:
  FileMaskList list_{};
};

// What a host sees and answers. The context value passed to the library is
// the address of this object.
struct Host {
  std::vector<std::pair<std::string, std::string>> names;
  std::vector<std::pair<int32_t, int32_t>> progress;
  std::vector<std::pair<FindData, FindData>> questions;  // to the replace procedure
  int cancel_at = 0;  // the n-th regular progress report answers 0
  int32_t skip = -1;  // the skip procedure's answer; -1: none registered
  bool ask_replace = false;
  int32_t answer = 0;                      // the replace procedure's answer,
  std::map<std::string, int32_t> replace;  // unless given here by file name

  static Host& Of(ArcContext c) { return *reinterpret_cast<Host*>(c); }
  static int32_t ACEKIT_CALL OnName(ArcContext c, const char* s, const char* t) {
    Of(c).names.emplace_back(s, t);
    return 0;
  }
  static int32_t ACEKIT_CALL OnProgress(ArcContext c, int32_t pct, int32_t bytes) {
    Host& h = Of(c);
    h.progress.emplace_back(pct, bytes);
    if (pct < 0) return 1;
    int regular = 0;
    for (const auto& p : h.progress) regular += p.first >= 0 ? 1 : 0;
    return regular == h.cancel_at ? 0 : 1;
  }
  static int32_t ACEKIT_CALL OnSkip(ArcContext c, const char*) { return Of(c).skip; }
  static int32_t ACEKIT_CALL OnReplace(ArcContext c, const FindData* o, const FindData* n) {
    Host& h = Of(c);
    h.questions.emplace_back(*o, *n);
    auto it = h.replace.find(std::filesystem::path(n->name).filename().string());
    return it == h.replace.end() ? h.answer : it->second;
  }
  // The file names asked about, in order.
  std::vector<std::string> Asked() const {
    std::vector<std::string> out;
    for (const auto& q : questions)
      out.push_back(std::filesystem::path(q.second.name).filename().string());
    return out;
  }
  // After InitArcFile or CreateArcFile, which clear every registration.
  void Register() {
    const auto ctx = reinterpret_cast<ArcContext>(this);
    SetSetFileNameProc(ctx, &OnName);
    SetSetProgressProc(ctx, &OnProgress);
    if (skip >= 0) SetSkipFileProc(ctx, &OnSkip);
    if (ask_replace) SetOkToReplaceProc(ctx, &OnReplace);
  }
};

struct Options {
  int32_t mode = 0;  // 4: solid
  int32_t dict_kb = 64;
  int32_t level = 1;
};

inline void Stats(const Options& o) {
  int32_t desc[10];
  GetArcerDesc(desc);
  desc[6] = 12;
  desc[7] = o.dict_kb;
  desc[8] = o.mode;
  desc[9] = o.level;
  SetArcerStats(desc);
}

// One session on `archive`, opened (or created) as a host does, with the
// host's procedures registered: `call` is made and the status returned.
template <class Call>
uint16_t Session(const std::string& archive, Host* host, Call call, bool create = false) {
  if (create) {
    CreateArcFile(archive.c_str());
  } else {
    InitArcFile(archive.c_str());
  }
  if (host) host->Register();
  call();
  const uint16_t st = GetArchiveStatus();
  DoneArcFile();
  return st;
}

// Creates `archive` from `items` read below `input`, or adds them to it.
inline uint16_t CreateWith(const std::string& archive, const std::string& input,
                           const std::vector<std::string>& items, const Options& o = {},
                           Host* host = nullptr, bool create = true) {
  return Session(
      archive, host,
      [&] {
        if (create) Stats(o);
        SetInputPath(input.c_str());
        Masks masks(items);
        CompressFileMaskListArc(masks.get());
      },
      create);
}
inline uint16_t UpdateWith(const std::string& archive, const std::string& input,
                           const std::vector<std::string>& items, Host* host = nullptr) {
  return CreateWith(archive, input, items, {}, host, false);
}

inline uint16_t DeleteWith(const std::string& archive, const std::vector<std::string>& masks_in,
                           Host* host = nullptr) {
  return Session(archive, host, [&] {
    Masks masks(masks_in);
    DeleteFileMaskListArc(masks.get());
  });
}

inline uint16_t TestStatus(const std::string& archive) {
  return Session(archive, nullptr, [] { TestArc(); });
}

inline uint16_t ExtractAll(const std::string& archive, const std::string& out) {
  return Session(archive, nullptr, [&] {
    SetOutputPath(out.c_str());
    arOptionsOn(0x0001);
    Masks all;
    ExtractFileMaskListArc(all.get());
  });
}

using Listing = std::vector<std::pair<std::string, std::string>>;

// Each entry's name and comment ("" for none) in archive order, as a host
// lists them in the current session.
inline Listing Listed() {
  ArcFileList list;
  InitArcFileList(&list);
  Masks all;
  BuildArcFileList(&list, all.get());
  Listing out;
  for (const ArcEntry* e = list.first; e != nullptr; e = e->next) {
    out.emplace_back(e->name, e->comment ? std::string(e->comment, e->comment_length) : "");
  }
  DoneArcFileList(&list);
  return out;
}
// The same in a session of its own; comments are read only when asked for.
inline Listing Walk(const std::string& archive, bool comments) {
  InitArcFile(archive.c_str());
  if (comments) {
    int32_t features[12] = {};
    features[1] = 1;
    SetExtraFeaturesArc(features);
  }
  Listing out = Listed();
  DoneArcFile();
  return out;
}
inline std::vector<std::string> ListNames(const std::string& archive) {
  std::vector<std::string> names;
  for (const auto& e : Walk(archive, false)) names.push_back(e.first);
  return names;
}
inline std::map<std::string, std::string> Commented(const std::string& archive) {
  const auto entries = Walk(archive, true);
  return {entries.begin(), entries.end()};
}

// Suites run once on a normal archive and once on a solid one (option 4).
#define ACEKIT_NORMAL_AND_SOLID(suite)                                     \
  INSTANTIATE_TEST_SUITE_P(NormalAndSolid, suite, ::testing::Values(0, 4), \
                           [](const auto& info) { return info.param == 4 ? "Solid" : "Normal"; })

// A scratch directory with sources below `in` and the archive arc\x.ace
// made from them; before_ keeps the archive's bytes as made.
class ArchiveTest : public ::testing::Test {
 protected:
  // Text sources of 3000, 2000, then 1000 bytes each, and the archive.
  void Make(const std::vector<std::string>& items, const Options& o = {},
            const std::string& in = "in") {
    for (size_t i = 0; i < items.size(); ++i) {
      dir_.Write(in + "\\" + items[i],
                 TextBytes(3000 - 1000 * std::min<size_t>(i, 2), static_cast<unsigned>(i + 1)));
    }
    dir_.MakeDir("arc");
    arc_ = dir_.Lib("arc\\x.ace");
    ASSERT_EQ(CreateWith(arc_, dir_.Lib(in), items, o), 0);
    before_ = Bytes();
  }
  std::string Bytes() const { return dir_.Read("arc\\x.ace"); }
  // The archive as made, and nothing beside it.
  void ExpectUnchanged() const {
    EXPECT_TRUE(Bytes() == before_) << "archive changed";
    EXPECT_EQ(dir_.List("arc"), std::vector<std::string>{"x.ace"}) << "file left beside it";
  }

  TempDir dir_;
  std::string arc_;
  std::string before_;
};

// Overwrites bytes of the header at `header` and fixes its checksum.
inline void PatchHeader(std::string& a, size_t header, size_t at, std::string_view bytes) {
  a.replace(header + at, bytes.size(), bytes);
  const uint32_t crc =
      format::Crc32Update(format::kCrcInit, a.data() + header + 4, Le16(a, header + 2));
  a[header] = static_cast<char>(crc & 0xFF);
  a[header + 1] = static_cast<char>((crc >> 8) & 0xFF);
}
inline void PatchMainHeader(std::string& a, size_t at, uint8_t value) {
  PatchHeader(a, 0, at, std::string(1, static_cast<char>(value)));
}

// Comments as a host sets and reads them, one session per call.
inline uint16_t SetMain(const std::string& archive, std::string text) {
  CommentRec rec{text.data(), static_cast<int32_t>(text.size()), 0, {}};
  return Session(archive, nullptr, [&] { SetMainCommentArc(&rec); });
}

struct MainComment {
  bool present = false;
  std::string text;
  int32_t read_flag = 0;
};

// What GetMainCommentArc hands the host in the current session.
inline MainComment HeldMain() {
  CommentRec rec;
  std::memset(&rec, 0x5A, sizeof rec);
  GetMainCommentArc(&rec);
  MainComment c;
  c.present = rec.text != nullptr;
  if (rec.text != nullptr) c.text.assign(rec.text, static_cast<size_t>(rec.length));
  c.read_flag = rec.read_flag;
  EXPECT_EQ(rec.text == nullptr, rec.length == 0);
  for (int32_t r : rec.reserved) EXPECT_EQ(r, 0);
  platform::Free(rec.text);  // the host's to release
  return c;
}

inline MainComment ReadMain(const std::string& archive) {
  InitArcFile(archive.c_str());
  MainComment c = HeldMain();
  DoneArcFile();
  return c;
}

inline uint16_t SetFileComments(const std::string& archive, const std::vector<std::string>& names,
                                std::string text) {
  CommentRec rec{text.data(), static_cast<int32_t>(text.size()), 0, {}};
  return Session(archive, nullptr, [&] {
    Masks masks(names);
    SetFileCommentsArc(masks.get(), &rec);
  });
}
}  // namespace acekit::testing
