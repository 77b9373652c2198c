// The host side of the comment, directory-entry and information tests: each
// helper opens the archive with InitArcFile, makes one call as a host would,
// and closes it again with DoneArcFile.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "api/exports.h"
#include "api/write_host.h"
#include "platform/platform.h"

namespace acekit::testing {

inline uint16_t SetMain(const std::string& archive, const std::string& text) {
  InitArcFile(archive.c_str());
  std::string copy = text;
  CommentRec rec{copy.data(), static_cast<int32_t>(copy.size()), 0, {}};
  SetMainCommentArc(&rec);
  const uint16_t st = GetArchiveStatus();
  DoneArcFile();
  return st;
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
                                const std::string& text) {
  InitArcFile(archive.c_str());
  Masks masks(names);
  std::string copy = text;
  CommentRec rec{copy.data(), static_cast<int32_t>(copy.size()), 0, {}};
  SetFileCommentsArc(masks.get(), &rec);
  const uint16_t st = GetArchiveStatus();
  DoneArcFile();
  return st;
}

// Every entry's name with its comment ("" for none), read with file
// comments switched on.
inline std::map<std::string, std::string> Commented(const std::string& archive) {
  InitArcFile(archive.c_str());
  int32_t features[12] = {};
  features[1] = 1;
  SetExtraFeaturesArc(features);
  ArcFileList list;
  InitArcFileList(&list);
  Masks all;
  BuildArcFileList(&list, all.get());
  std::map<std::string, std::string> out;
  for (const ArcEntry* e = list.first; e != nullptr; e = e->next) {
    std::string comment;
    if (e->comment != nullptr) comment.assign(e->comment, static_cast<size_t>(e->comment_length));
    out[e->name] = comment;
  }
  DoneArcFileList(&list);
  DoneArcFile();
  return out;
}

}  // namespace acekit::testing
