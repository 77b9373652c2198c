// Changing an existing archive: every call runs one of the rebuilding
// operations of the host interface on a state of the handle's own, so the
// archive changes exactly as the host interface would change it, and a
// failure leaves it as it was.
#include <cstring>
#include <new>
#include <string>

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
  st.hooks.progress = face::ProgressFor(e);
  const uint32_t s = ops::OpenArchive(st.arc, e->path.c_str(), ops::UnreadableHead::kReadFailure);
  if (s != acekit::kOk) return face::FailStatus(e, s, "opening", e->path);
  return ACEKIT_OK;
}

int Done(acekit_editor* e, face::OpState& st, const char* what) {
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
  face::OpState st;
  if (const uint32_t s = ops::OpenArchive(st.arc, path, ops::UnreadableHead::kReadFailure);
      s != acekit::kOk) {
    return face::FailStatus(nullptr, s, "opening", path);
  }
  auto* e = new (std::nothrow) acekit_editor();
  if (e == nullptr) return face::Fail(nullptr, ACEKIT_E_NOMEM, "opening", path);
  e->path = path;
  e->level = o != nullptr && o->level != 0 ? o->level : 1;
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

ACEKIT_PUBLIC int acekit_editor_delete(acekit_editor* e, const char* name) {
  if (!Valid(e)) return ACEKIT_E_INVALID;
  face::OpState st;
  acekit::select::MaskList masks;
  if (const int rc = OpenAtEntry(e, name, st, masks, "deleting"); rc < 0) return rc;
  st.arc.status = ops::DeleteFileMaskList(st.Context(), masks.get());
  return Done(e, st, "deleting from");
}

ACEKIT_PUBLIC int acekit_editor_add_directory(acekit_editor* e, const char* name) {
  if (!Valid(e)) return ACEKIT_E_INVALID;
  std::string stored;
  if (const int rc = Name(e, name, &stored); rc < 0) return rc;
  if (!ops::IsValidDirectoryName(stored.c_str())) {
    return face::Fail(e, ACEKIT_E_INVALID, "a directory entry of one level, without ?*<>:\"|",
                      name);
  }
  face::OpState st;
  if (const int rc = Open(e, st); rc < 0) return rc;
  st.arc.status = ops::CreateDirectoryEntry(st.Context(), stored.c_str());
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

ACEKIT_PUBLIC void acekit_editor_close(acekit_editor* e) {
  if (Valid(e)) delete e;
}

}  // extern "C"
