#include "ops/collect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ops/write_host.h"
#include "platform/platform.h"

namespace acekit::ops {
namespace {

using acekit::testing::TempDir;

FileMask Mask(const char* dir, const char* name, const char* ext) {
  FileMask m{};
  m.directory = const_cast<char*>(dir);
  std::strcpy(m.name, name);
  std::strcpy(m.extension, ext);
  return m;
}

format::Settings MakeSettings(const char* input, const char* relative, uint16_t options = 0) {
  format::Settings s;
  std::strcpy(s.input_path, input);
  std::strcpy(s.relative_path, relative);
  s.options = options;
  return s;
}

std::vector<std::string> Names(const InputFileList& list) {
  std::vector<std::string> out;
  for (const InputFile* e = list.first; e != nullptr; e = e->next) out.emplace_back(e->name);
  return out;
}

TEST(ItemName, BuildsItemAndSourcePath) {
  struct Case {
    const char *input, *dir, *name, *ext;
    uint16_t options;
    const char *item, *source;
  };
  const Case cases[] = {
      {"D:\\src\\", "subdir\\", "a", "txt", 0, "subdir\\a.txt", "D:\\src\\subdir\\a.txt"},
      {"D:\\src\\", "", "README", "", 0, "README", "D:\\src\\README"},
      {"D:\\src\\", "sub\\", "a", "txt", format::kOptNamesOnly, "sub\\a.txt", "sub\\a.txt"},
      {"", "", "a", "b", 0, "a.b", "a.b"}};
  for (const Case& c : cases) {
    const FileMask m = Mask(c.dir, c.name, c.ext);
    char out[kItemTextSize];
    ItemName(m, out, sizeof out);
    EXPECT_STREQ(out, c.item);
    ItemSourcePath(MakeSettings(c.input, "", c.options), m, out, sizeof out);
    EXPECT_STREQ(out, c.source);
  }
}

// A source path or list entry with no room is refused whole, never cut into
// the path of another file; an input path too long to be one refuses every
// source built on it.
TEST(ItemName, PathsWithoutRoomAreRefused) {
  const std::string dir = std::string(format::kPathSize - 10, 'd') + "\\";
  const FileMask fits = Mask(dir.c_str(), "12345", "67");
  const FileMask over = Mask(dir.c_str(), "12345", "678");
  char out[kItemTextSize];
  EXPECT_TRUE(ItemSourcePath(MakeSettings("", ""), fits, out, sizeof out));
  EXPECT_EQ(std::strlen(out), format::kPathSize - 1);
  EXPECT_FALSE(ItemSourcePath(MakeSettings("", ""), over, out, sizeof out));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(ItemName(over, out, sizeof out));
  format::Settings long_input;
  std::memset(long_input.input_path, 'i',
              format::kPathSize);  // as the setter keeps a text too long
  EXPECT_FALSE(ItemSourcePath(long_input, Mask("", "a", "b"), out, sizeof out));

  InputFileList list;
  EXPECT_EQ(AppendInputFile(list, std::string(format::kPathSize, 'p'), "n"), kOpenFailed);
  EXPECT_EQ(list.count, 0);
  const std::string longest(format::kPathSize - 1, 'p');
  ASSERT_EQ(AppendInputFile(list, longest, "n"), kOk);
  EXPECT_EQ(list.first->path, longest);
}

TEST(FindItemForEntry, ComparesWithRelativePathInFrontIgnoringCase) {
  FileMask second = Mask("subdir\\", "a", "txt");
  FileMask first = Mask("", "other", "txt");
  first.next = &second;
  FileMaskList list{&first, &second};
  char stored[kItemTextSize];
  char disk[kItemTextSize];

  const format::Settings rel = MakeSettings("D:\\src\\", "docs");
  ASSERT_TRUE(FindItemForEntry(rel, "DOCS\\SUBDIR\\A.TXT", &list, stored, sizeof stored, disk,
                               sizeof disk));
  EXPECT_STREQ(stored, "docs\\subdir\\a.txt");
  EXPECT_STREQ(disk, "D:\\src\\subdir\\a.txt");
  EXPECT_FALSE(
      FindItemForEntry(rel, "subdir\\a.txt", &list, stored, sizeof stored, disk, sizeof disk));

  const format::Settings plain = MakeSettings("D:\\src\\", "");
  EXPECT_TRUE(
      FindItemForEntry(plain, "subdir\\A.txt", &list, stored, sizeof stored, disk, sizeof disk));
  EXPECT_FALSE(FindItemForEntry(plain, "a.txt", nullptr, stored, sizeof stored, disk, sizeof disk));
}

TEST(EntryIsNamed, PutsRelativePathInFrontOfTheName) {
  InputFileList names;
  ASSERT_EQ(AppendInputFile(names, "", "docs\\A.TXT"), kOk);
  ASSERT_EQ(AppendInputFile(names, "", "\\b.txt"), kOk);  // front cleaned before comparing
  EXPECT_TRUE(EntryIsNamed(MakeSettings("", "docs"), "a.txt", names));
  EXPECT_FALSE(EntryIsNamed(MakeSettings("", ""), "a.txt", names));
  EXPECT_TRUE(EntryIsNamed(MakeSettings("", ""), "B.TXT", names));

  FileMask m = Mask("", "c", "");
  FileMaskList list{&m, &m};
  EXPECT_TRUE(EntryIsNamed(MakeSettings("", ""), "C", &list));
  EXPECT_FALSE(EntryIsNamed(MakeSettings("", ""), "C.", &list));
}

TEST(CollectTree, FilesBeforeSubdirectoriesAndStoredNamesWithoutWorkDir) {
  TempDir dir;
  dir.Write("a.txt", "a");
  dir.Write("sub\\b.txt", "b");
  dir.MakeDir("empty");
  InputFileList files;
  ASSERT_EQ(CollectTree(dir.Lib().c_str(), "*.*", files), kOk);
  ASSERT_EQ(files.count, 2);
  EXPECT_EQ(std::string(files.first->path), dir.Lib("a.txt"));

  InputFileList ordered;
  std::string work = dir.Lib();
  work.pop_back();  // without its separator, as a working directory name is made
  ASSERT_EQ(OrderForSolid(files, ordered, work.c_str()), kOk);
  EXPECT_EQ(Names(ordered), (std::vector<std::string>{"a.txt", "sub\\b.txt"}));
}

TEST(RemoveTree, RemovesEverythingIncludingReadOnlyFilesButNoDriveRoot) {
  TempDir dir;
  dir.Write("w\\a.txt", "a");
  dir.Write("w\\sub\\deeper\\b.txt", "b");
  ASSERT_EQ(platform::SetAttributes(dir.Lib("w\\a.txt").c_str(),
                                    platform::kAttrReadOnly | platform::kAttrArchive),
            0);
  EXPECT_TRUE(RemoveTree(dir.Lib("w").c_str()));
  EXPECT_FALSE(dir.Exists("w"));
  // Nor a drive root (on posix the file system's root): should the
  // refusal ever break, the first deletion fails and stops the walk.
  platform::DisarmFaults();
  platform::ArmFault(platform::Fault::kDelete, 1);
  EXPECT_FALSE(RemoveTree("D:\\"));
  EXPECT_FALSE(RemoveTree(""));
  EXPECT_EQ(platform::FaultCalls(platform::Fault::kDelete), 0u);
  platform::DisarmFaults();
}

HostHooks ReplaceHooks(testing::Host& host) {
  HostHooks h;
  h.replace = {testing::Host::OnReplace, reinterpret_cast<ArcContext>(&host)};
  return h;
}

TEST(AskReplace, OnlyAsksAboutFilesThatExist) {
  TempDir dir;
  dir.Write("a.txt", "12345");
  const format::Settings settings = MakeSettings(dir.Lib().c_str(), "");
  ArcEntry entry{};
  std::strcpy(entry.name, "a.txt");
  entry.orig_size = 99;
  entry.attr = 0x20;
  entry.ftime = 0x286373C5;

  testing::Host host;
  host.answer = 1;
  EXPECT_EQ(AskReplaceOnUpdate(settings, HostHooks{}, entry), 0);
  EXPECT_EQ(AskReplaceOnUpdate(settings, ReplaceHooks(host), entry), 1);
  std::strcpy(entry.name, "missing.txt");
  EXPECT_EQ(AskReplaceOnUpdate(settings, ReplaceHooks(host), entry), 0);
  ASSERT_EQ(host.questions.size(), 1u);
  EXPECT_EQ(host.questions[0].first.size_low, 99u);
  EXPECT_STREQ(host.questions[0].first.name, "a.txt");
  EXPECT_EQ(host.questions[0].second.size_low, 5u);
}

TEST(AskReplace, AnswerZeroMakesTheDiskFileReplaceable) {
  TempDir dir;
  dir.Write("old.txt", "old");
  dir.Write("new.txt", "new!");
  const std::string disk = dir.Lib("new.txt");
  ASSERT_EQ(platform::SetAttributes(disk.c_str(), platform::kAttrReadOnly), 0);
  testing::Host host;
  EXPECT_EQ(AskReplaceOnSolidUpdate(ReplaceHooks(host), dir.Lib("old.txt").c_str(), disk.c_str()),
            0);
  EXPECT_EQ(platform::GetAttributes(disk.c_str()) & platform::kAttrReadOnly, 0u);
  EXPECT_EQ(AskReplaceOnSolidUpdate(ReplaceHooks(host), dir.Lib("gone").c_str(), disk.c_str()), 0);
  ASSERT_EQ(host.questions.size(), 1u);
  EXPECT_EQ(host.questions[0].first.size_low, 3u);
}

}  // namespace
}  // namespace acekit::ops
