// Changing an existing archive: every call runs one of the rebuilding
// operations of the host interface on a state of the handle's own, so the
// archive changes exactly as the host interface would change it, and a
// failure leaves it as it was.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "face/face.h"
#include "format/name_text.h"
#include "ops/comments.h"
#include "ops/create.h"
#include "ops/delete.h"
#include "ops/directory.h"
#include "ops/entry_walk.h"
#include "ops/open_archive.h"
#include "platform/beneath.h"
#include "platform/platform.h"
#include "select/masks.h"

namespace face = acekit::face;
namespace platform = acekit::platform;
namespace ops = acekit::ops;

struct acekit_editor : face::Handle {
  acekit_editor() : face::Handle(face::kEditorMagic) {}
  std::string path;
  int level = 1;
  uint32_t dictionary_kb = 0;  // 0: the archive's own
  int threads = 0;             // 0: the library's choice
};

namespace {

bool Valid(acekit_editor* e) {
  return e != nullptr && e->magic == face::kEditorMagic;
}

// The editor's mask lists, with the one step it needs.
bool AddMask(acekit::format::ArcState& arc, acekit::select::MaskList& masks,
             const std::string& mask) {
  return acekit::select::AppendMask(arc, mask.c_str(), masks.get()) != 0;
}

// A fresh state of the archive for one change.
int Open(acekit_editor* e, face::OpState& st) {
  st.settings.desc.level() = e->level;
  st.settings.threads = e->threads;
  e->deleting = false;
  e->unreadable_error = 0;
  e->arc = &st.arc;
  st.hooks = face::HooksFor(e);
  const uint32_t s = ops::OpenArchive(st.arc, e->path.c_str(), ops::UnreadableHead::kReadFailure);
  if (s != acekit::kOk) return face::FailStatus(e, s, "opening", e->path);
  // The host interface always keeps the archive's window; a host of this
  // interface may choose another, which new entries of a normal archive
  // take and with which a solid archive is compressed again whole.
  if (e->dictionary_kb != 0) st.arc.solid_dict_kb = e->dictionary_kb;
  return ACEKIT_OK;
}

int Done(acekit_editor* e, face::OpState& st, const char* what) {
  // The host stopped at a file it could not read; its message is set.
  if (e->unreadable_error != 0) return e->unreadable_error;
  if (st.arc.status == acekit::kOk) return ACEKIT_OK;
  return face::FailStatus(e, st.arc.status, what, e->path);
}

int Name(acekit_editor* e, const char* name, std::string* stored) {
  std::string why;
  if (!face::StoredName(name, stored, &why)) {
    return face::Fail(e, ACEKIT_E_INVALID, why, name != nullptr ? name : "");
  }
  return ACEKIT_OK;
}

// A fresh state of the archive with `masks` selecting the entry `name`
// stands for: what deleting an entry and commenting one both start from.
// `what` names the change in a failure.
int OpenAtEntry(acekit_editor* e, const char* name, face::OpState& st,
                acekit::select::MaskList& masks, const char* what) {
  std::string stored;
  if (const int rc = Name(e, name, &stored); rc < 0) return rc;
  if (const int rc = Open(e, st); rc < 0) return rc;
  if (!AddMask(st.arc, masks, stored)) return face::Fail(e, ACEKIT_E_NOMEM, what, name);
  ArcFileList list{};
  ops::BuildArchiveList(st.Context(), &list, masks.get(), ops::ArcInfoRequest::kNever);
  bool found = false;
  for (const ArcEntry* a = list.first; a != nullptr; a = a->next) found |= a->is_file != 0;
  acekit::format::DoneEntryList(&list);
  if (st.arc.status != acekit::kOk) return face::FailStatus(e, st.arc.status, "listing", e->path);
  if (!found) return face::Fail(e, ACEKIT_E_NOT_FOUND, "no entry", name);
  return ACEKIT_OK;
}

// A comment text as the operations take it.
CommentRec CommentOf(std::string& text) {
  CommentRec rec{};
  rec.text = text.data();
  rec.length = static_cast<int32_t>(text.size() > 0x7FFFFFFF ? 0x7FFFFFFF : text.size());
  return rec;
}

}  // namespace

extern "C" {

ACEKIT_PUBLIC int acekit_editor_open(acekit_editor** out, const char* path,
                                     const acekit_options* o) {
  if (out == nullptr) return face::Fail(nullptr, ACEKIT_E_INVALID, "no handle to fill");
  *out = nullptr;
  if (path == nullptr) return face::Fail(nullptr, ACEKIT_E_INVALID, "no path");
  if (std::strlen(path) > face::kLongestRewrittenPath) {
    return face::Fail(nullptr, ACEKIT_E_TOO_LARGE, face::PathTooLongToRewrite("changing"), path);
  }
  if (o != nullptr && (o->level < 0 || o->level > 4)) {
    return face::Fail(nullptr, ACEKIT_E_INVALID, "level must be 1 to 4");
  }
  if (o != nullptr && o->threads < 0) {
    return face::Fail(nullptr, ACEKIT_E_INVALID, "threads must not be negative");
  }
  if (o != nullptr && o->dictionary_kb != 0 && o->dictionary_kb != 64 && o->dictionary_kb != 128 &&
      o->dictionary_kb != 256 && o->dictionary_kb != 512 && o->dictionary_kb != 1024) {
    return face::Fail(nullptr, ACEKIT_E_INVALID,
                      "the dictionary must be 64, 128, 256, 512 or 1024 KB");
  }
  face::OpState st;
  if (const uint32_t s = ops::OpenArchive(st.arc, path, ops::UnreadableHead::kReadFailure);
      s != acekit::kOk) {
    return face::FailStatus(nullptr, s, "opening", path);
  }
  auto* e = new (std::nothrow) acekit_editor();
  if (e == nullptr) return face::Fail(nullptr, ACEKIT_E_NOMEM, "opening", path);
  e->path = path;
  e->level = o != nullptr && o->level != 0 ? o->level : 1;
  e->dictionary_kb = o != nullptr ? o->dictionary_kb : 0;
  e->threads = o != nullptr ? o->threads : 0;
  *out = e;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_editor_add_file(acekit_editor* e, const char* disk_path,
                                         const char* name) {
  if (!Valid(e) || disk_path == nullptr) return ACEKIT_E_INVALID;
  std::string stored;
  if (const int rc = Name(e, name, &stored); rc < 0) return rc;
  if (platform::KindOf(disk_path) == platform::Kind::kMissing) {
    return face::Fail(e, ACEKIT_E_NOT_FOUND, "no such file", disk_path);
  }
  // The update takes a file by its own name from an input folder and puts
  // the stored folders in front of it.
  std::string disk(disk_path);
  while (disk.size() > 1 && (disk.back() == '/' || disk.back() == '\\')) disk.pop_back();
  const size_t sep = disk.find_last_of("/\\");
  const std::string base = sep == std::string::npos ? disk : disk.substr(sep + 1);
  const std::string folder = sep == std::string::npos ? std::string() : disk.substr(0, sep + 1);
  const size_t ssep = stored.find_last_of('\\');
  const std::string stored_base = ssep == std::string::npos ? stored : stored.substr(ssep + 1);
  const std::string relative = ssep == std::string::npos ? std::string() : stored.substr(0, ssep);
  if (base != stored_base) {
    return face::Fail(e, ACEKIT_E_INVALID, "a changed archive stores a file under its own name",
                      name);
  }
  if (folder.size() >= acekit::format::kPathSize || relative.size() >= acekit::format::kPathSize) {
    return face::Fail(e, ACEKIT_E_TOO_LARGE, "path too long for an update", disk_path);
  }
  face::OpState st;
  if (const int rc = Open(e, st); rc < 0) return rc;
  if (st.arc.read_only != 0) return face::Fail(e, ACEKIT_E_READ_ONLY, "changing", e->path);
  acekit::format::CopyText(st.settings.input_path, acekit::format::kPathSize, folder);
  acekit::format::CopyText(st.settings.relative_path, acekit::format::kPathSize, relative);
  acekit::select::MaskList masks;
  if (!AddMask(st.arc, masks, base)) return face::Fail(e, ACEKIT_E_NOMEM, "adding", disk_path);
  st.arc.status = ops::CompressFileMaskList(st.Context(), masks.get());
  return Done(e, st, "adding");
}

ACEKIT_PUBLIC int acekit_editor_add_paths(acekit_editor* e, const char* const* paths, size_t count,
                                          unsigned flags) {
  if (!Valid(e) || (paths == nullptr && count != 0)) return ACEKIT_E_INVALID;
  if ((flags & ~ACEKIT_ADD_NAMES_ONLY) != 0) {
    return face::Fail(e, ACEKIT_E_INVALID, "unknown flags", e->path);
  }
  if (count == 0) return face::Fail(e, ACEKIT_E_INVALID, "nothing to add", e->path);
  face::OpState st;
  if (const int rc = Open(e, st); rc < 0) return rc;
  if (st.arc.read_only != 0) return face::Fail(e, ACEKIT_E_READ_ONLY, "changing", e->path);
  if ((flags & ACEKIT_ADD_NAMES_ONLY) != 0) st.settings.options |= acekit::format::kOptNamesOnly;
  acekit::select::MaskList masks;
  for (size_t i = 0; i < count; ++i) {
    if (paths[i] == nullptr || paths[i][0] == '\0') {
      return face::Fail(e, ACEKIT_E_INVALID, "an empty path", e->path);
    }
    if (std::strlen(paths[i]) >= acekit::format::kPathSize) {
      return face::Fail(e, ACEKIT_E_TOO_LARGE, "path too long", paths[i]);
    }
    if (!AddMask(st.arc, masks, paths[i])) return face::Fail(e, ACEKIT_E_NOMEM, "adding", paths[i]);
  }
  st.arc.status = ops::CompressFileMaskList(st.Context(), masks.get());
  return Done(e, st, "adding to");
}

ACEKIT_PUBLIC int acekit_editor_delete(acekit_editor* e, const char* name) {
  if (!Valid(e)) return ACEKIT_E_INVALID;
  face::OpState st;
  acekit::select::MaskList masks;
  if (const int rc = OpenAtEntry(e, name, st, masks, "deleting"); rc < 0) return rc;
  st.arc.status = ops::DeleteFileMaskList(st.Context(), masks.get());
  return Done(e, st, "deleting from");
}

ACEKIT_PUBLIC int acekit_editor_delete_list(acekit_editor* e, const char* const* names,
                                            size_t count) {
  if (!Valid(e) || (names == nullptr && count != 0)) return ACEKIT_E_INVALID;
  // Names are compared whole, without regard to case; the mask rule would
  // take a folder's name for everything below it too.
  const auto key = [](std::string name) {
    while (!name.empty() && name.back() == '\\') name.pop_back();
    name.push_back('\0');
    platform::CharUpper(name.data());
    name.pop_back();
    return name;
  };
  // A sorted vector: the tree of a set would leave its template code in the
  // library's export table.
  std::vector<std::string> wanted;
  for (size_t i = 0; i < count; ++i) {
    std::string stored;
    if (const int rc = Name(e, names[i], &stored); rc < 0) return rc;
    wanted.push_back(key(stored));
  }
  std::sort(wanted.begin(), wanted.end());
  face::OpState st;
  if (const int rc = Open(e, st); rc < 0) return rc;
  // The masks take the entries by their names as listed, which mark a
  // directory with a trailing separator.
  acekit::select::MaskList masks;
  ArcFileList list{};
  ops::BuildArchiveList(st.Context(), &list, nullptr, ops::ArcInfoRequest::kNever);
  size_t entries = 0;
  size_t selected = 0;
  bool room = true;
  for (const ArcEntry* a = list.first; a != nullptr; a = a->next) {
    if (a->is_file == 0) continue;
    ++entries;
    const std::string name(a->name, strnlen(a->name, sizeof a->name));
    if (!std::binary_search(wanted.begin(), wanted.end(), key(name))) continue;
    ++selected;
    room = room && AddMask(st.arc, masks, name);
  }
  acekit::format::DoneEntryList(&list);
  if (st.arc.status != acekit::kOk) return face::FailStatus(e, st.arc.status, "listing", e->path);
  if (!room) return face::Fail(e, ACEKIT_E_NOMEM, "deleting from", e->path);
  if (selected == 0) return face::Fail(e, ACEKIT_E_NOT_FOUND, "none of the names is in", e->path);
  // An archive without entries cannot be read back.
  if (selected == entries) {
    return face::Fail(e, ACEKIT_E_INVALID, "would leave no entry; remove the archive instead",
                      e->path);
  }
  e->deleting = true;
  st.arc.status = ops::DeleteFileMaskList(st.Context(), masks.get());
  e->deleting = false;
  return Done(e, st, "deleting from");
}

ACEKIT_PUBLIC int acekit_editor_add_directory(acekit_editor* e, const char* name) {
  if (!Valid(e)) return ACEKIT_E_INVALID;
  std::string stored;
  if (const int rc = Name(e, name, &stored); rc < 0) return rc;
  // The operation takes one level; the folders in front of it go in as the
  // relative path, which the header writer and the duplicate check both
  // put back in front.
  while (!stored.empty() && stored.back() == '\\') stored.pop_back();
  const size_t sep = stored.find_last_of('\\');
  const std::string last = sep == std::string::npos ? stored : stored.substr(sep + 1);
  const std::string relative = sep == std::string::npos ? std::string() : stored.substr(0, sep);
  if (!ops::IsValidDirectoryName(last.c_str())) {
    return face::Fail(e, ACEKIT_E_INVALID, "a directory name without ?*<>:\"|", name);
  }
  if (relative.size() >= acekit::format::kPathSize) {
    return face::Fail(e, ACEKIT_E_TOO_LARGE, "name too long", name);
  }
  face::OpState st;
  if (const int rc = Open(e, st); rc < 0) return rc;
  acekit::format::CopyText(st.settings.relative_path, acekit::format::kPathSize, relative);
  st.arc.status = ops::CreateDirectoryEntry(st.Context(), last.c_str());
  return Done(e, st, "adding a directory to");
}

ACEKIT_PUBLIC int acekit_editor_set_comment(acekit_editor* e, const char* utf8) {
  if (!Valid(e)) return ACEKIT_E_INVALID;
  face::OpState st;
  if (const int rc = Open(e, st); rc < 0) return rc;
  std::string text = utf8 != nullptr ? utf8 : "";
  CommentRec rec = CommentOf(text);
  st.arc.status = ops::SetMainComment(st.Context(), &rec);
  return Done(e, st, "setting the comment of");
}

ACEKIT_PUBLIC int acekit_editor_set_entry_comment(acekit_editor* e, const char* name,
                                                  const char* utf8) {
  if (!Valid(e)) return ACEKIT_E_INVALID;
  face::OpState st;
  acekit::select::MaskList masks;
  if (const int rc = OpenAtEntry(e, name, st, masks, "commenting"); rc < 0) return rc;
  std::string text = utf8 != nullptr ? utf8 : "";
  CommentRec rec = CommentOf(text);
  st.arc.status = ops::SetFileComments(st.Context(), masks.get(), &rec);
  return Done(e, st, "setting an entry comment in");
}

ACEKIT_PUBLIC int acekit_editor_set_progress(acekit_editor* e, acekit_progress fn, void* ctx) {
  if (!Valid(e)) return ACEKIT_E_INVALID;
  e->progress = fn;
  e->progress_ctx = ctx;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_editor_set_events(acekit_editor* e, acekit_change_fn fn, void* ctx) {
  if (!Valid(e)) return ACEKIT_E_INVALID;
  e->events = fn;
  e->events_ctx = ctx;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC void acekit_editor_close(acekit_editor* e) {
  if (Valid(e)) delete e;
}

}  // extern "C"
