// The handle-based interface end to end: what a writer puts in comes back
// out of a reader, the bytes equal what the host exports write for the same
// files, changes go through the editor, and extraction stays in its folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "acekit/acekit.h"
#include "common/temp_dir.h"
#include "face/face_support.h"
#include "format/crc32.h"
#include "ops/write_host.h"

namespace {

using namespace acekit::testing;
namespace fs = std::filesystem;

uint32_t Crc(const std::string& s) {
  return ~acekit::format::Crc32Update(acekit::format::kCrcInit, s.data(), s.size());
}

// The archive with the main header's checksum and time blanked: two writes
// a second apart differ only there.
std::string Timeless(std::string bytes) {
  if (bytes.size() >= 22) {
    bytes[0] = bytes[1] = 0;
    for (int i = 18; i < 22; ++i) bytes[i] = 0;
  }
  return bytes;
}

std::vector<std::string> Leftovers(const TempDir& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir.Native())) {
    const std::string n = e.path().filename().string();
    if (n.rfind(".acekit-", 0) == 0 || n.find(".$SC") != std::string::npos) out.push_back(n);
  }
  return out;
}

// The stored names, sorted: a solid rebuild orders its files anew.
std::vector<std::string> SortedNames(const std::string& path) {
  std::vector<std::string> out;
  for (const Got& g : ReadAll(path)) out.push_back(g.name);
  std::sort(out.begin(), out.end());
  return out;
}

class FaceRoundTrip : public ::testing::TestWithParam<std::tuple<int, uint32_t>> {};

TEST_P(FaceRoundTrip, WhatGoesInComesOut) {
  const auto [solid, dict] = GetParam();
  TempDir dir;
  const std::map<std::string, std::string> files = {
      {"empty.txt", ""},
      {"text.txt", TextBytes(200000)},
      {"noise.bin", RandomBytes(70000, 7)},
      {"deep/er/ü and ß.c", TextBytes(3000)},
      {"中文/€uro.txt", "not in the OEM page"},
  };
  const std::string path = dir.Native("a.ace").string();
  acekit_options o{dict, 2, solid, 0};
  acekit_writer* w = nullptr;
  ASSERT_EQ(acekit_writer_create(&w, path.c_str(), &o), 0) << acekit_last_error(nullptr);
  for (const auto& [name, data] : files) {
    ASSERT_EQ(acekit_writer_add_memory(w, name.c_str(), data.data(), data.size(), kTime, 0), 0)
        << acekit_last_error(w);
  }
  ASSERT_EQ(acekit_writer_add_directory(w, "deep/er", kTime), 0);
  ASSERT_EQ(acekit_writer_set_comment(w, "made by a test — with UTF-8"), 0);
  EXPECT_FALSE(fs::exists(path)) << "published before finish";
  ASSERT_EQ(acekit_writer_finish(w), 0) << acekit_last_error(nullptr);
  EXPECT_TRUE(Leftovers(dir).empty());

  std::string comment;
  const std::vector<Got> got = ReadAll(path, &comment);
  EXPECT_EQ(comment, "made by a test — with UTF-8");
  std::map<std::string, std::string> back;
  for (const Got& g : got) {
    if (g.entry.is_dir) {
      EXPECT_EQ(g.name, "deep/er");
      continue;
    }
    back[g.name] = g.data;
    EXPECT_EQ(g.entry.size, g.data.size());
    EXPECT_EQ(g.entry.crc32, Crc(g.data)) << g.name;
    EXPECT_EQ(g.entry.mtime, kTime) << g.name;
    EXPECT_EQ(g.entry.attributes, 0x20u);
  }
  EXPECT_EQ(back, files);
  EXPECT_EQ(got.size(), files.size() + 1);

  // A directory the host names is written as one found on disk: the method
  // byte says compressed, eight bytes before the name.
  const std::string raw = dir.Read("a.ace");
  const size_t name_at =
      raw.find(std::string("\x07\x00"
                           "deep\\er",
                           10));
  ASSERT_NE(name_at, std::string::npos);
  EXPECT_EQ(raw[name_at - 6], 1) << "method byte";
}

INSTANTIATE_TEST_SUITE_P(Settings, FaceRoundTrip,
                         ::testing::Combine(::testing::Values(0, 1),
                                            ::testing::Values(64u, 1024u)));

TEST(FaceWriter, SameBytesAsTheHostExports) {
  TempDir in;
  in.Write("b.txt", TextBytes(50000));
  in.Write("a.exe", RandomBytes(3000, 1));
  in.Write("sub/c.c", TextBytes(9000));
  in.Write("sub/d.bin", RandomBytes(100, 2));
  in.Write("zero", "");
  in.Write("ï.txt", "in the OEM page");
  in.MakeDir("sub/empty");
  const std::vector<std::string> names = {"b.txt", "a.exe", "sub/c.c",  "sub/d.bin",
                                          "zero",  "ï.txt", "sub/empty"};
  for (int solid : {0, 1}) {
    TempDir out;
    const std::string by_exports = out.Native("x.ace").string();
    const std::string by_face = out.Native("y.ace").string();
    ASSERT_EQ(acekit::testing::CreateWith(by_exports, in.Lib(), names, {solid * 4, 128, 1}), 0);
    acekit_options o{128, 1, solid, 0};
    acekit_writer* w = nullptr;
    ASSERT_EQ(acekit_writer_create(&w, by_face.c_str(), &o), 0);
    for (const std::string& n : names) {
      ASSERT_EQ(acekit_writer_add_file(w, in.Native(n).string().c_str(), n.c_str()), 0)
          << acekit_last_error(w);
    }
    ASSERT_EQ(acekit_writer_finish(w), 0) << acekit_last_error(nullptr);
    EXPECT_EQ(Timeless(out.Read("x.ace")), Timeless(out.Read("y.ace"))) << "solid " << solid;
  }
}

// The threads field changes how the work is shared, never the bytes.
TEST(FaceWriter, ThreadCountLeavesTheBytesAlone) {
  TempDir in;
  in.Write("big.txt", TextBytes(300000));
  in.Write("small.c", TextBytes(5000));
  in.Write("again.c", TextBytes(7000));
  const std::string noise = RandomBytes(150000, 3);
  for (int solid : {0, 1}) {
    std::string first;
    for (int threads : {1, 2, 3, 7, 0}) {
      TempDir out;
      const std::string path = out.Native("t.ace").string();
      acekit_options o{64, 1, solid, threads};
      acekit_writer* w = nullptr;
      ASSERT_EQ(acekit_writer_create(&w, path.c_str(), &o), 0) << acekit_last_error(nullptr);
      for (const char* n : {"big.txt", "small.c"}) {
        ASSERT_EQ(acekit_writer_add_file(w, in.Native(n).string().c_str(), n), 0)
            << acekit_last_error(w);
      }
      ASSERT_EQ(acekit_writer_add_memory(w, "noise", noise.data(), noise.size(), kTime, 0), 0);
      ASSERT_EQ(acekit_writer_finish(w), 0) << acekit_last_error(nullptr);
      // The editor's rebuild (whole, for a solid archive) takes the count too.
      acekit_editor* e = nullptr;
      ASSERT_EQ(acekit_editor_open(&e, path.c_str(), &o), 0) << acekit_last_error(nullptr);
      ASSERT_EQ(acekit_editor_add_file(e, in.Native("again.c").string().c_str(), "again.c"), 0)
          << acekit_last_error(e);
      acekit_editor_close(e);
      const std::string bytes = Timeless(out.Read("t.ace"));
      if (threads == 1) first = bytes;
      EXPECT_EQ(bytes, first) << "solid " << solid << ", threads " << threads;
    }
  }
  acekit_options bad{64, 1, 0, -1};
  acekit_writer* w = nullptr;
  EXPECT_EQ(acekit_writer_create(&w, "x.ace", &bad), ACEKIT_E_INVALID);
  EXPECT_EQ(w, nullptr);
  acekit_editor* e = nullptr;
  EXPECT_EQ(acekit_editor_open(&e, "x.ace", &bad), ACEKIT_E_INVALID);
  EXPECT_EQ(e, nullptr);
}

TEST(FaceWriter, AbortFailureAndCancelLeaveNothing) {
  TempDir dir;
  const std::string path = dir.Native("a.ace").string();
  acekit_writer* w = nullptr;
  ASSERT_EQ(acekit_writer_create(&w, path.c_str(), nullptr), 0);
  ASSERT_EQ(acekit_writer_add_memory(w, "x", "abc", 3, kTime, 0), 0);
  acekit_writer_abort(w);
  EXPECT_TRUE(dir.List().empty());

  // Refused arguments leave the writer usable.
  ASSERT_EQ(acekit_writer_create(&w, path.c_str(), nullptr), 0);
  const std::string long_name(300, 'n');
  const struct {
    const char* name;
    int code;
  } refused[] = {{"../up", ACEKIT_E_INVALID},
                 {"", ACEKIT_E_INVALID},
                 {"a/../../b", ACEKIT_E_INVALID},
                 {long_name.c_str(), ACEKIT_E_TOO_LARGE}};
  for (const auto& c : refused) {
    EXPECT_EQ(acekit_writer_add_memory(w, c.name, "abc", 3, kTime, 0), c.code) << c.name;
    EXPECT_NE(std::string(acekit_last_error(w)), "");
  }
  EXPECT_EQ(acekit_writer_add_file(w, dir.Native("missing").string().c_str(), "m"),
            ACEKIT_E_NOT_FOUND);
  EXPECT_NE(std::string(acekit_last_error(w)).find("missing"), std::string::npos);
  EXPECT_EQ(acekit_writer_add_memory(w, "old", "abc", 3, 0, 0), ACEKIT_E_INVALID);
  ASSERT_EQ(acekit_writer_add_memory(w, "ok", "abc", 3, kTime, 0), 0);
  ASSERT_EQ(acekit_writer_finish(w), 0);
  EXPECT_EQ(ReadAll(path).size(), 1u);

  // A progress callback that says stop: the old archive stays as it was.
  const std::string before = dir.Read("a.ace");
  ASSERT_EQ(acekit_writer_create(&w, path.c_str(), nullptr), 0);
  int calls = 0;
  acekit_writer_set_progress(
      w, [](void* ctx, int) { return ++*static_cast<int*>(ctx) >= 2 ? 1 : 0; }, &calls);
  const std::string big = TextBytes(3 << 20);
  EXPECT_EQ(acekit_writer_add_memory(w, "big", big.data(), big.size(), kTime, 0),
            ACEKIT_E_CANCELLED);
  acekit_writer_abort(w);
  EXPECT_GE(calls, 2);
  EXPECT_EQ(dir.Read("a.ace"), before);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"a.ace"});
}

// Bytes of an archive with one stored name replaced by another of the same
// length: damaged names a writer would never make.
std::string WithName(const std::string& archive, const std::string& from, const std::string& to) {
  std::string a = archive;
  const size_t head = Le16(a, 2) + 4u;  // the first entry's; its checksum follows
  acekit::testing::PatchHeader(a, head, a.find(from) - head, to);
  return a;
}

TEST(FaceReader, ExtractionStaysInItsFolder) {
  TempDir dir;
  const std::string plain = WriteMemory(dir, "plain.ace", {{"xx/evil.txt", "bad"}});
  const std::string bytes = dir.Read("plain.ace");
  const struct {
    const char* stored;  // five bytes in place of "xx\evi"
    int code;
  } cases[] = {{"..\\evi", ACEKIT_E_UNSAFE},
               {"\\x\\evi", ACEKIT_E_UNSAFE},
               {"C:\\evi", ACEKIT_E_UNSAFE},
               {"ln\\evi", ACEKIT_E_UNSAFE},
               {"ok\\evi", 1}};
  for (const auto& c : cases) {
    TempDir work;
    work.Write("bad.ace", WithName(bytes, "xx\\evi", c.stored));
    work.MakeDir("out");
    work.MakeDir("outside");
    fs::create_directory_symlink(work.Native("outside"), work.Native("out/ln"));
    acekit_reader* r = nullptr;
    ASSERT_EQ(acekit_reader_open(&r, work.Native("bad.ace").string().c_str()), 0);
    EXPECT_EQ(acekit_reader_extract_all(r, work.Native("out").string().c_str(), 0), c.code)
        << c.stored;
    acekit_reader_close(r);
    EXPECT_TRUE(work.List("outside").empty()) << c.stored;
    EXPECT_FALSE(work.Exists("evil.txt")) << c.stored;
    EXPECT_FALSE(work.Exists("x/evil.txt")) << c.stored;
  }

  // A part Windows takes for a device lands under the name the exports give
  // it, on every system.
  {
    TempDir work;
    work.Write("dev.ace", WithName(bytes, "xx\\evi", "nul\\ev"));
    acekit_reader* r = nullptr;
    ASSERT_EQ(acekit_reader_open(&r, work.Native("dev.ace").string().c_str()), 0);
    EXPECT_EQ(acekit_reader_extract_all(r, work.Native("out").string().c_str(), 0), 1);
    acekit_reader_close(r);
    EXPECT_EQ(work.Read("out/_nul/evl.txt"), "bad");
  }

  // A link where a file goes is replaced, not written through.
  TempDir work;
  work.MakeDir("out/xx");
  work.Write("target", "keep me");
  fs::create_symlink(work.Native("target"), work.Native("out/xx/evil.txt"));
  acekit_reader* r = nullptr;
  ASSERT_EQ(acekit_reader_open(&r, plain.c_str()), 0);
  EXPECT_EQ(acekit_reader_extract_all(r, work.Native("out").string().c_str(), 0), 1);
  acekit_reader_close(r);
  EXPECT_EQ(work.Read("target"), "keep me");
  EXPECT_FALSE(fs::is_symlink(work.Native("out/xx/evil.txt")));
  EXPECT_EQ(work.Read("out/xx/evil.txt"), "bad");
  EXPECT_TRUE(Leftovers(work).empty());
}

TEST(FaceReader, DamagedDataFailsCleanly) {
  TempDir dir;
  WriteMemory(dir, "a.ace", {{"t.txt", TextBytes(40000)}});
  std::string bytes = dir.Read("a.ace");
  bytes[bytes.size() - 100] ^= 0x55;
  dir.Write("bad.ace", bytes);
  acekit_reader* r = nullptr;
  ASSERT_EQ(acekit_reader_open(&r, dir.Native("bad.ace").string().c_str()), 0);
  EXPECT_LT(acekit_reader_extract_all(r, dir.Native("out").string().c_str(), 0), 0);
  EXPECT_NE(std::string(acekit_last_error(r)).find("t.txt"), std::string::npos);
  acekit_reader_close(r);
  EXPECT_FALSE(dir.Exists("out/t.txt"));
  EXPECT_TRUE(Leftovers(dir).empty());

  EXPECT_EQ(acekit_reader_open(&r, dir.Native("nothing.ace").string().c_str()), ACEKIT_E_NOT_FOUND);
  EXPECT_NE(std::string(acekit_last_error(nullptr)).find("nothing.ace"), std::string::npos);
  dir.Write("text.ace", TextBytes(1000));
  EXPECT_EQ(acekit_reader_open(&r, dir.Native("text.ace").string().c_str()), ACEKIT_E_NOT_ARCHIVE);
}

// What a salvaging walk reports for every entry: name, damage flags, and
// whether its data read back.
struct Salvaged {
  std::string name;
  unsigned flags;
  bool read;
  uint64_t size;
};
std::vector<Salvaged> Salvage(const std::string& path, acekit_damage* end) {
  acekit_reader* r = nullptr;
  EXPECT_EQ(acekit_reader_open(&r, path.c_str()), 0);
  std::vector<Salvaged> out;
  if (r == nullptr) return out;
  EXPECT_EQ(acekit_reader_set_flags(r, ACEKIT_READER_SALVAGE), 0);
  acekit_entry e;
  while (acekit_reader_next(r, &e) == 1) {
    acekit_damage d{};
    acekit_reader_damage(r, &d);
    std::string data;
    out.push_back({e.name, d.flags, acekit_reader_read(r, Collect, &data) == 0, e.size});
  }
  acekit_reader_damage(r, end);
  acekit_reader_close(r);
  return out;
}

std::string Build(const TempDir& dir, const char* name, bool solid) {
  acekit_options o{};
  o.solid = solid ? 1 : 0;
  // The third is stored, so the fourth starts a fresh solid stream.
  return WriteMemory(dir, name,
                     {{"f0.txt", TextBytes(30000)},
                      {"f1.txt", TextBytes(31000)},
                      {"f2.txt", RandomBytes(20000, 7)},
                      {"f3.txt", TextBytes(32000)}},
                     &o);
}

TEST(FaceReader, SalvageStepsOverDamage) {
  TempDir dir;
  acekit_damage end{};
  // A damaged size field: the walk resumes at the next sound header.
  std::string bytes = dir.Read(fs::path(Build(dir, "n.ace", false)).filename().string());
  const size_t f1 = bytes.find("f1.txt") - 35;
  bytes[f1 + 9] ^= 0x55;  // inside PACK_SIZE
  dir.Write("gap.ace", bytes);
  auto got = Salvage(dir.Native("gap.ace").string(), &end);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].name, "f2.txt");
  EXPECT_EQ(got[1].flags, ACEKIT_DAMAGE_GAP);
  EXPECT_TRUE(got[0].read && got[1].read && got[2].read);
  EXPECT_EQ(end.flags, 0u);

  // A cut file: the last entry reached is cut, the end says truncated.
  dir.Write("cut.ace", bytes.substr(0, bytes.find("f2.txt") + 100));
  got = Salvage(dir.Native("cut.ace").string(), &end);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].flags & ACEKIT_DAMAGE_CUT, ACEKIT_DAMAGE_CUT);
  EXPECT_EQ(end.flags, ACEKIT_DAMAGE_TRUNCATED);
  EXPECT_EQ(end.offset, bytes.find("f2.txt") + 100);

  // Damaged solid data: the rest of its stream is lost, a fresh stream reads.
  bytes = dir.Read(fs::path(Build(dir, "s.ace", true)).filename().string());
  const std::string first = Salvage(dir.Native("s.ace").string(), &end)[0].name;
  bytes[bytes.find(first) + first.size() + 50] ^= 0x55;
  dir.Write("s.ace", bytes);
  got = Salvage(dir.Native("s.ace").string(), &end);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_FALSE(got[0].read);
  EXPECT_EQ(got[1].flags, ACEKIT_DAMAGE_LOST);
  EXPECT_TRUE(got[3].read) << got[3].name;
  EXPECT_EQ(got[3].flags, 0u);
}

// Salvage reads headers that lie close together in blocks. Hundreds of
// small entries put headers across every block's end, and one header, its
// checksum made good again, claims to be only as long as its frame: the
// walk must take the fields behind it from the file right there.
TEST(FaceReader, SalvageWalkReadsHeadersAcrossBlocks) {
  TempDir dir;
  Files files;
  for (uint32_t i = 0; i < 600; ++i) {
    files.push_back(
        {std::string(1 + i % 200, 'a' + i % 26) + std::to_string(i), RandomBytes(i * 37 % 700, i)});
  }
  std::string bytes = dir.Read(fs::path(WriteMemory(dir, "m.ace", files)).filename().string());
  const size_t h = bytes.find(files[300].first) - 35;
  PatchHeader(bytes, h, 2, std::string("\x03\x00", 2));  // HEAD_SIZE: type and flags only
  dir.Write("m.ace", bytes);
  acekit_damage end{};
  const std::vector<Salvaged> got = Salvage(dir.Native("m.ace").string(), &end);
  ASSERT_EQ(got.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(got[i].name, files[i].first) << i;
    EXPECT_EQ(got[i].size, files[i].second.size()) << i;
    // Its data is looked for right behind the short header, and the walk
    // finds the next header only by a search.
    if (i == 300) continue;
    EXPECT_EQ(got[i].flags, i == 301 ? unsigned{ACEKIT_DAMAGE_GAP} : 0u) << i;
    EXPECT_TRUE(got[i].read) << i;
  }
  EXPECT_EQ(end.flags, 0u);
}

TEST(FaceEditor, ChangesLikeTheHostInterface) {
  TempDir dir;
  dir.Write("in/a.txt", TextBytes(1000));
  dir.Write("in/b.txt", "bee");
  const std::string path = WriteMemory(dir, "e.ace", {{"docs/a.txt", "old"}, {"gone.txt", "x"}});

  acekit_editor* e = nullptr;
  ASSERT_EQ(acekit_editor_open(&e, path.c_str(), nullptr), 0);
  EXPECT_EQ(acekit_editor_add_file(e, dir.Native("in/a.txt").string().c_str(), "docs/a.txt"), 0)
      << acekit_last_error(e);
  EXPECT_EQ(acekit_editor_add_file(e, dir.Native("in/b.txt").string().c_str(), "b.txt"), 0);
  EXPECT_EQ(acekit_editor_delete(e, "gone.txt"), 0) << acekit_last_error(e);
  EXPECT_EQ(acekit_editor_delete(e, "gone.txt"), ACEKIT_E_NOT_FOUND);
  EXPECT_EQ(acekit_editor_add_directory(e, "extra"), 0) << acekit_last_error(e);
  EXPECT_EQ(acekit_editor_add_directory(e, "extra"), ACEKIT_E_EXISTS);
  EXPECT_EQ(acekit_editor_add_directory(e, "deep/er/dir/"), 0) << acekit_last_error(e);
  EXPECT_EQ(acekit_editor_add_directory(e, "DEEP/er/Dir"), ACEKIT_E_EXISTS);
  EXPECT_EQ(acekit_editor_add_directory(e, "deep/na?me"), ACEKIT_E_INVALID);
  EXPECT_EQ(acekit_editor_set_comment(e, "main"), 0);
  EXPECT_EQ(acekit_editor_set_entry_comment(e, "b.txt", "about b"), 0) << acekit_last_error(e);
  acekit_editor_close(e);

  std::string comment;
  std::map<std::string, std::pair<std::string, std::string>> got;
  for (const Got& g : ReadAll(path, &comment)) got[g.name] = {g.data, g.comment};
  EXPECT_EQ(comment, "main");
  const std::map<std::string, std::pair<std::string, std::string>> want = {
      {"docs/a.txt", {TextBytes(1000), ""}},
      {"b.txt", {"bee", "about b"}},
      {"extra", {"", ""}},
      {"deep/er/dir", {"", ""}}};
  EXPECT_EQ(got, want);
  EXPECT_TRUE(Leftovers(dir).empty());
}

TEST(FaceReader, SolidEntriesMayBeSkipped) {
  TempDir dir;
  const acekit_options o{64, 1, 1, 0};
  Files files;
  for (int i = 0; i < 4; ++i)
    files.emplace_back("f" + std::to_string(i) + ".txt", TextBytes(20000 + i));
  const std::string path = WriteMemory(dir, "s.ace", files, &o);
  acekit_reader* r = nullptr;
  ASSERT_EQ(acekit_reader_open(&r, path.c_str()), 0);
  EXPECT_EQ(acekit_reader_is_solid(r), 1);
  acekit_entry e;
  int n = 0;
  while (acekit_reader_next(r, &e) == 1) {
    if (n++ % 2 == 0) continue;  // skipped: still decoded for the window
    std::string data;
    ASSERT_EQ(acekit_reader_read(r, Collect, &data), 0) << acekit_last_error(r);
    EXPECT_EQ(data, TextBytes(e.size));
    EXPECT_EQ(acekit_reader_read(r, Collect, &data), ACEKIT_E_INVALID);
  }
  acekit_reader_close(r);
  EXPECT_EQ(n, 4);

  // Listing decodes nothing, so damage in the stream shows only when an
  // entry behind it is read.
  std::string bytes = dir.Read("s.ace");
  bytes[Le16(bytes, 2) + 4 + 60] ^= 0x5A;  // inside the first entry's data
  dir.Write("bad.ace", bytes);
  ASSERT_EQ(acekit_reader_open(&r, dir.Native("bad.ace").string().c_str()), 0);
  n = 0;
  while (acekit_reader_next(r, &e) == 1) ++n;
  EXPECT_EQ(n, 4);
  acekit_reader_close(r);
  ASSERT_EQ(acekit_reader_open(&r, dir.Native("bad.ace").string().c_str()), 0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(acekit_reader_next(r, &e), 1);
  std::string data;
  EXPECT_LT(acekit_reader_read(r, Collect, &data), 0);
  EXPECT_NE(std::string(acekit_last_error(r)).find(e.name), std::string::npos);
  acekit_reader_close(r);
}

TEST(FaceReader, InfoAndDetailsDescribeTheHeaders) {
  TempDir dir;
  const acekit_options o{256, 2, 1, 0};
  const std::string path =
      WriteMemory(dir, "i.ace", {{"a.txt", TextBytes(30000)}, {"b.bin", "\x01\x02"}}, &o);

  acekit_reader* r = nullptr;
  ASSERT_EQ(acekit_reader_open(&r, path.c_str()), 0);
  acekit_entry_details d;
  EXPECT_EQ(acekit_reader_details(r, &d), ACEKIT_E_INVALID);
  acekit_archive_info info;
  ASSERT_EQ(acekit_reader_info(r, &info), 0);
  EXPECT_EQ(info.is_solid, 1);
  EXPECT_EQ(info.version_major * 10 + info.version_minor >= 10, true);
  ASSERT_NE(info.host_system, nullptr);
  EXPECT_STRNE(info.host_system, "unknown");
  std::map<std::string, acekit_entry_details> seen;
  acekit_entry e;
  while (acekit_reader_next(r, &e) == 1) {
    ASSERT_EQ(acekit_reader_details(r, &d), 0);
    seen[e.name] = d;
  }
  ASSERT_EQ(acekit_reader_info(r, &info), 0);
  EXPECT_EQ(info.has_recovery_record, 0);
  acekit_reader_close(r);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen["a.txt"].is_stored, 0);
  EXPECT_EQ(seen["a.txt"].dictionary_kb, 256u);
  EXPECT_EQ(seen["b.bin"].is_stored, 1);
  // A solid archive orders its files by type, so only the offsets' being
  // distinct places past the main header is sure.
  EXPECT_NE(seen["a.txt"].header_offset, seen["b.bin"].header_offset);
  EXPECT_GT(std::min(seen["a.txt"].header_offset, seen["b.bin"].header_offset), 30u);
}

}  // namespace

// What the events of a writer or an editor told, and how the host answers.
struct Heard {
  std::vector<std::string> files;  // name, with " <- path" when from disk
  std::vector<std::string> phases;
  std::vector<std::pair<std::string, int>> unreadable;
  uint64_t bytes = 0;
  int stop_at_unreadable = 0;
  static int Hear(void* ctx, const acekit_change* ev) {
    auto* h = static_cast<Heard*>(ctx);
    switch (ev->kind) {
      case ACEKIT_CHANGE_FILE:
        h->files.push_back(std::string(ev->name) + (ev->path != nullptr ? " <- disk" : ""));
        return 0;
      case ACEKIT_CHANGE_BYTES:
        h->bytes += ev->bytes;
        return 0;
      case ACEKIT_CHANGE_PHASE:
        h->phases.push_back(ev->name);
        return 0;
      case ACEKIT_CHANGE_UNREADABLE:
        h->unreadable.emplace_back(fs::path(ev->path).filename().string(), ev->error);
        return h->stop_at_unreadable;
    }
    return 1;
  }
};

// A file that vanishes before a solid archive is written is left out or
// stops the archive, as the host answers; the others are named and counted.
TEST(FaceEvents, WriterNamesCountsAndAsksAboutUnreadableFiles) {
  // Files from disk alone go through the pipeline that reads ahead; an entry
  // from memory makes the writer take one item at a time.
  for (int run : {0, 1, 2}) {
    const int stop = run == 1 ? 1 : 0;
    const bool memory = run != 2;
    TempDir dir;
    dir.Write("in/a.txt", TextBytes(200000));
    dir.Write("in/gone.txt", "soon gone");
    const std::string path = dir.Native("w.ace").string();
    acekit_options o{64, 1, 1, 0};
    acekit_writer* w = nullptr;
    ASSERT_EQ(acekit_writer_create(&w, path.c_str(), &o), 0);
    Heard heard;
    heard.stop_at_unreadable = stop;
    ASSERT_EQ(acekit_writer_set_events(w, &Heard::Hear, &heard), 0);
    for (const char* n : {"a.txt", "gone.txt"}) {
      ASSERT_EQ(acekit_writer_add_file(w, dir.Native(std::string("in/") + n).string().c_str(), n),
                0);
    }
    if (memory) {
      ASSERT_EQ(acekit_writer_add_memory(w, "m.txt", "memory", 6, kTime, 0), 0);
    }
    fs::remove(dir.Native("in/gone.txt"));
    // Gone before it was named: the host is asked there and then.
    EXPECT_EQ(acekit_writer_add_file(w, dir.Native("in/never.txt").string().c_str(), "never.txt"),
              stop != 0 ? ACEKIT_E_NOT_FOUND : 0);
    const int rc = acekit_writer_finish(w);
    const std::vector<std::pair<std::string, int>> want_unreadable = {
        {"never.txt", ACEKIT_E_NOT_FOUND}, {"gone.txt", ACEKIT_E_NOT_FOUND}};
    EXPECT_EQ(heard.unreadable, want_unreadable);
    EXPECT_TRUE(Leftovers(dir).empty());
    if (stop != 0) {
      EXPECT_EQ(rc, ACEKIT_E_NOT_FOUND);
      EXPECT_NE(std::string(acekit_last_error(nullptr)).find("gone.txt"), std::string::npos);
      EXPECT_FALSE(dir.Exists("w.ace"));
      continue;
    }
    ASSERT_EQ(rc, 0) << acekit_last_error(nullptr);
    std::vector<std::string> files = heard.files;
    std::sort(files.begin(), files.end());
    std::vector<std::string> want = {"a.txt <- disk", "gone.txt <- disk"};
    if (memory) want.push_back("m.txt");
    EXPECT_EQ(files, want);
    EXPECT_EQ(heard.bytes, memory ? 200000u + 6u : 200000u);
    want = {"a.txt"};
    if (memory) want.push_back("m.txt");
    EXPECT_EQ(SortedNames(path), want);
  }
}

// Many names go in one rebuild: a solid archive is unpacked and compressed
// once, and its directory entries are the host's to put back.
TEST(FaceEditor, DeleteListRebuildsOnce) {
  for (int solid : {0, 1}) {
    TempDir dir;
    const acekit_options o{64, 1, solid, 0};
    Files files;
    for (size_t i = 0; i < 12; ++i)
      files.emplace_back("f" + std::to_string(i) + ".txt", TextBytes(3000 + i));
    const std::string path = WriteMemory(dir, "d.ace", files, &o);
    acekit_editor* e = nullptr;
    ASSERT_EQ(acekit_editor_open(&e, path.c_str(), nullptr), 0);
    Heard heard;
    ASSERT_EQ(acekit_editor_set_events(e, &Heard::Hear, &heard), 0);
    std::vector<const char*> all;
    for (const auto& f : files) all.push_back(f.first.c_str());
    EXPECT_EQ(acekit_editor_delete_list(e, all.data(), all.size()), ACEKIT_E_INVALID)
        << "an archive is not left empty";
    const char* absent[] = {"none.txt"};
    EXPECT_EQ(acekit_editor_delete_list(e, absent, 1), ACEKIT_E_NOT_FOUND);
    std::vector<const char*> doomed(all.begin(), all.begin() + 9);
    doomed.push_back("none.txt");
    EXPECT_EQ(acekit_editor_delete_list(e, doomed.data(), doomed.size()), 0)
        << acekit_last_error(e);
    acekit_editor_close(e);
    if (solid != 0) {
      EXPECT_EQ(heard.phases, (std::vector<std::string>{"unpacking", "compressing"}));
    } else {
      EXPECT_TRUE(heard.phases.empty());
    }
    EXPECT_EQ(SortedNames(path), (std::vector<std::string>{"f10.txt", "f11.txt", "f9.txt"}));
    EXPECT_TRUE(Leftovers(dir).empty());
  }
}

// Many files go in with one rebuild, under their paths or their bare names;
// a missing one is left out when the host says so and fails the change
// otherwise.
TEST(FaceEditor, AddPathsInOneRebuild) {
  for (int solid : {0, 1}) {
    TempDir dir;
    dir.Write("in/sub/a.txt", TextBytes(5000));
    dir.Write("in/b.txt", "bee");
    const acekit_options o{64, 1, solid, 0};
    const std::string path = WriteMemory(dir, "p.ace", {{"first.txt", "one"}}, &o);
    const std::string before = dir.Read("p.ace");

    const std::string a = dir.Native("in/sub/a.txt").string();
    const std::string b = dir.Native("in/b.txt").string();
    const std::string gone = dir.Native("in/gone.txt").string();
    const char* with_gone[] = {a.c_str(), gone.c_str()};
    acekit_editor* e = nullptr;
    ASSERT_EQ(acekit_editor_open(&e, path.c_str(), nullptr), 0);
    EXPECT_LT(acekit_editor_add_paths(e, with_gone, 2, 0), 0);
    EXPECT_EQ(dir.Read("p.ace"), before);
    Heard heard;
    ASSERT_EQ(acekit_editor_set_events(e, &Heard::Hear, &heard), 0);
    EXPECT_EQ(acekit_editor_add_paths(e, with_gone, 2, ACEKIT_ADD_NAMES_ONLY), 0)
        << acekit_last_error(e);
    EXPECT_EQ(heard.unreadable.size(), 1u);
    const char* plain[] = {b.c_str()};
    EXPECT_EQ(acekit_editor_add_paths(e, plain, 1, 0), 0) << acekit_last_error(e);
    EXPECT_EQ(acekit_editor_add_paths(e, plain, 1, 8u), ACEKIT_E_INVALID);
    acekit_editor_close(e);
    // Two changes with events: a solid archive is unpacked and compressed
    // once for each, whatever the number of files.
    EXPECT_EQ(heard.phases.size(), solid != 0 ? 4u : 0u);

    std::map<std::string, std::string> got;
    for (const Got& g : ReadAll(path)) got[g.name] = g.data;
    std::string b_name = b.substr(b.find_first_not_of('/'));
    const std::map<std::string, std::string> want = {
        {"first.txt", "one"}, {"a.txt", TextBytes(5000)}, {b_name, "bee"}};
    EXPECT_EQ(got, want) << "solid " << solid;
    EXPECT_TRUE(Leftovers(dir).empty());
  }
}
