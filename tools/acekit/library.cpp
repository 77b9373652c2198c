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
    case 0:
      return "success";
    case 2:
      return "archive not found";
    case 5:
      return "a file could not be opened, read or created";
    case 6:
      return "the archive's size could not be read";
    case 8:
      return "out of memory";
    case 101:
      return "a write came up short (is the disk full?)";
    case 2926:
      return "cancelled";
    case 8902:
      return "no working directory could be made in the temporary directory";
    case 8903:
      return "the temporary directory ran out of space while unpacking";
    case 8904:
      return "a directory entry of that name is already in the archive";
    case 8906:
      return "not a valid directory name";
    case 9954:
      return "the archive is locked against changes";
    case 9957:
      return "a file comment may hold at most 4096 bytes";
    case 9958:
      return "the main comment may hold at most 32766 bytes";
    case 9959:
    case 9961:
      return "the archive holds encrypted entries, which are not supported";
    case 9960:
      return "unsupported compression method or archive version";
    case 9962:
      return "damaged: the data fails its CRC check";
    case 9964:
      return "damaged: corrupt header or compressed data";
    case 9967:
      return "nothing to add";
    case 9976:
      return "not an archive (no valid main header found)";
    case 32770:
      return "not supported";
    default:
      return "failed with status " + std::to_string(status);
  }
}

bool IsDamage(uint16_t status) {
  return status == kStatusCrc || status == kStatusCorrupt || status == kStatusUnsupported;
}

int StatusExit(uint16_t status) {
  if (status == kStatusOk) return kExitOk;
  if (status == kStatusCancelled) return kExitCancelled;
  if (IsDamage(status)) return kExitDamaged;
  return kExitError;
}

bool Session::Open(const std::string& path) {
  Close();
  path_ = path;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    Ui::Get().Error(path + ": cannot open the archive: " + std::strerror(errno));
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
  if (st_code != kStatusOk) {
    Ui::Get().Error(path + ": " + StatusMessage(st_code),
                    st_code == kStatusNotArchive ? kExitError : StatusExit(st_code));
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
  if (st_code != kStatusOk) {
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
  SetArchiveStatus(kStatusOk);
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
  if (status == kStatusCorrupt && listed.empty()) {
    ui.Error(archive +
                 ": no entry can be read: the archive is empty, or its first header is "
                 "damaged",
             kExitDamaged);
  } else if (status == kStatusCorrupt) {
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
