#include "library.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "names.h"
#include "ui.h"

namespace acekit_cli {

std::string StatusMessage(uint16_t status) {
  switch (status) {
    case ACEKIT_STATUS_OK:
      return "success";
    case ACEKIT_STATUS_NOT_FOUND:
      return "archive not found";
    case ACEKIT_STATUS_OPEN_FAILED:
      return "a file could not be opened, read or created";
    case ACEKIT_STATUS_SIZE_FAILED:
      return "the archive's size could not be read";
    case ACEKIT_STATUS_NO_MEMORY:
      return "out of memory";
    case ACEKIT_STATUS_SHORT_WRITE:
      return "a write came up short (is the disk full?)";
    case ACEKIT_STATUS_CANCELLED:
      return "cancelled";
    case ACEKIT_STATUS_WORK_DIR_FAILED:
      return "no working directory could be made in the temporary directory";
    case ACEKIT_STATUS_WORK_DIR_SHORT_WRITE:
      return "the temporary directory ran out of space while unpacking";
    case ACEKIT_STATUS_DIR_EXISTS:
      return "a directory entry of that name is already in the archive";
    case ACEKIT_STATUS_BAD_DIR_NAME:
      return "not a valid directory name";
    case ACEKIT_STATUS_READ_ONLY_ARCHIVE:
      return "the archive is locked against changes";
    case ACEKIT_STATUS_FILE_COMMENT_TOO_LONG:
      return "a file comment may hold at most 4096 bytes";
    case ACEKIT_STATUS_MAIN_COMMENT_TOO_LONG:
      return "the main comment may hold at most 32766 bytes";
    case ACEKIT_STATUS_ENCRYPTED_REBUILD:
    case ACEKIT_STATUS_ENCRYPTED_ENTRY:
      return "the archive holds encrypted entries, which are not supported";
    case ACEKIT_STATUS_UNSUPPORTED:
      return "unsupported compression method or archive version";
    case ACEKIT_STATUS_CRC_MISMATCH:
      return "damaged: the data fails its CRC check";
    case ACEKIT_STATUS_CORRUPT:
      return "damaged: corrupt header or compressed data";
    case ACEKIT_STATUS_NOTHING_TO_ADD:
      return "nothing to add";
    case ACEKIT_STATUS_NO_MAIN_HEADER:
      return "not an archive (no valid main header found)";
    case ACEKIT_STATUS_NOT_SUPPORTED:
      return "not supported";
    default:
      return "failed with status " + std::to_string(status);
  }
}

bool IsDamage(uint16_t status) {
  return status == ACEKIT_STATUS_CRC_MISMATCH || status == ACEKIT_STATUS_CORRUPT ||
         status == ACEKIT_STATUS_UNSUPPORTED;
}

int StatusExit(uint16_t status) {
  if (status == ACEKIT_STATUS_OK) return kExitOk;
  if (status == ACEKIT_STATUS_CANCELLED) return kExitCancelled;
  if (IsDamage(status)) return kExitDamaged;
  return kExitError;
}

bool Session::Open(const std::string& path) {
  Close();
  path_ = path;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    Ui::Get().Error(path + ": cannot open the archive: " + Reason(errno));
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    Ui::Get().Error(path + ": is a directory, not an archive");
    return false;
  }
  if (path.size() > kPathMax) {
    Ui::Get().Error(path + ": path too long (at most " + std::to_string(kPathMax) + " bytes)");
    return false;
  }
  InitArcFile(path.c_str());
  open_ = true;
  const uint16_t st_code = GetArchiveStatus();
  if (st_code != ACEKIT_STATUS_OK) {
    Ui::Get().Error(path + ": " + StatusMessage(st_code),
                    st_code == ACEKIT_STATUS_NO_MAIN_HEADER ? kExitError : StatusExit(st_code));
    return false;
  }
  return true;
}

bool Session::Create(const std::string& path) {
  Close();
  path_ = path;
  if (path.size() > kPathMax) {
    Ui::Get().Error(path + ": path too long (at most " + std::to_string(kPathMax) + " bytes)");
    return false;
  }
  CreateArcFile(path.c_str());
  open_ = true;
  const uint16_t st_code = GetArchiveStatus();
  if (st_code != ACEKIT_STATUS_OK) {
    Ui::Get().Error(path + ": cannot create: " + StatusMessage(st_code));
    return false;
  }
  return true;
}

void Session::Close() {
  if (open_) DoneArcFile();
  open_ = false;
}

bool Masks::Add(const std::string& mask) {
  return AppendFileMask(mask.c_str(), &list_) != 0;
}

uint16_t Entries::Build(Masks& masks) {
  DoneArcFileList(&list_);
  // A code left by an earlier call would end the walk before its first entry.
  SetArchiveStatus(ACEKIT_STATUS_OK);
  BuildArcFileList(&list_, masks.get());
  return GetArchiveStatus();
}

std::vector<const ArcEntry*> Entries::all() const {
  std::vector<const ArcEntry*> out;
  for (const ArcEntry* e = list_.first; e != nullptr; e = e->next) out.push_back(e);
  return out;
}

std::string MainComment() {
  CommentRec rec{};
  GetMainCommentArc(&rec);
  std::string text;
  if (rec.text != nullptr && rec.length > 0) text.assign(rec.text, static_cast<size_t>(rec.length));
  // The text was taken from the process heap and is ours to release.
  std::free(rec.text);
  return text;
}

void ReadFileComments() {
  int32_t features[12] = {};
  features[1] = 1;
  SetExtraFeaturesArc(features);
}

int ReportWalkFailure(const std::string& archive, uint16_t status, const Entries& partial) {
  Ui& ui = Ui::Get();
  const auto listed = partial.all();
  if (status == ACEKIT_STATUS_CORRUPT && listed.empty()) {
    ui.Error(archive +
                 ": no entry can be read: the archive is empty, or its first header is "
                 "damaged",
             kExitDamaged);
  } else if (status == ACEKIT_STATUS_CORRUPT) {
    ui.Error(archive + ": damaged: corrupt header after entry " + EntryName(*listed.back()),
             kExitDamaged);
  } else {
    ui.Error(archive + ": " + StatusMessage(status), StatusExit(status));
  }
  return ui.exit_code();
}

std::string EntryName(const ArcEntry& e) {
  return FromLibrary(std::string(e.name, strnlen(e.name, sizeof e.name)));
}

bool IsDirectory(const ArcEntry& e) {
  return (e.attr & 0x10) != 0;
}

}  // namespace acekit_cli
