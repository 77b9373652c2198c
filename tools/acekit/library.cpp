#include "library.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "format.h"
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

namespace {

std::string spooled;  // the copy of standard input, once made

void RemoveSpooled() {
  if (!spooled.empty()) ::unlink(spooled.c_str());
}

}  // namespace

std::string ArchivePath(const std::string& shown) {
  if (shown != "-") return shown;
  if (!spooled.empty()) return spooled;
  struct stat st;
  if (::fstat(0, &st) == 0 && S_ISREG(st.st_mode) && ::lseek(0, 0, SEEK_CUR) == 0) {
    return spooled = "/dev/stdin", spooled;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string name = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/acekit-XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    Ui::Get().Error("-: cannot keep standard input in a temporary file: " + Reason(errno));
    return "";
  }
  spooled = name;
  std::atexit(RemoveSpooled);
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(0, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || ::write(fd, buf, static_cast<size_t>(n)) != n) {
      Ui::Get().Error("-: cannot keep standard input in a temporary file: " + Reason(errno));
      ::close(fd);
      return "";
    }
  }
  ::close(fd);
  return spooled;
}

bool Session::Open(const std::string& shown) {
  Close();
  const std::string path = ArchivePath(shown);
  if (path.empty()) return false;
  path_ = path;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    Ui::Get().Error(shown + ": cannot open the archive: " + Reason(errno));
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    Ui::Get().Error(shown + ": is a directory, not an archive");
    return false;
  }
  if (path.size() > kPathMax) {
    Ui::Get().Error(shown + ": path too long (at most " + std::to_string(kPathMax) + " bytes)");
    return false;
  }
  InitArcFile(path.c_str());
  open_ = true;
  const uint16_t st_code = GetArchiveStatus();
  if (st_code != ACEKIT_STATUS_OK) {
    Ui::Get().Error(shown + ": " + StatusMessage(st_code),
                    st_code == ACEKIT_STATUS_NO_MAIN_HEADER ? kExitError : StatusExit(st_code));
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

bool Survey::damaged() const {
  if (end.flags != 0 || !failure.empty()) return true;
  for (const SurveyEntry& e : entries) {
    if (e.damage.flags != 0) return true;
  }
  return false;
}

uint32_t ArchiveWindow(const Survey& survey) {
  uint32_t kb = 0;
  for (const SurveyEntry& e : survey.entries) {
    if (!e.info.is_dir) kb = std::max(kb, e.details.dictionary_kb);
  }
  return kb != 0 ? kb : 64;
}

acekit_reader* OpenReader(const std::string& shown) {
  Ui& ui = Ui::Get();
  const std::string path = ArchivePath(shown);
  if (path.empty()) return nullptr;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    ui.Error(shown + ": cannot open the archive: " + Reason(errno));
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    ui.Error(shown + ": is a directory, not an archive");
    return nullptr;
  }
  acekit_reader* r = nullptr;
  const int rc = acekit_reader_open(&r, path.c_str());
  if (rc == ACEKIT_OK) return r;
  if (rc == ACEKIT_E_NOT_ARCHIVE) {
    ui.Error(shown + ": not an archive (no valid main header found)");
  } else if (rc == ACEKIT_E_OPEN || rc == ACEKIT_E_READ) {
    ui.Error(shown + ": cannot open the archive: " + Reason(errno));
  } else {
    ui.Error(shown + ": " + acekit_strerror(rc),
             rc == ACEKIT_E_CORRUPT || rc == ACEKIT_E_CRC ? kExitDamaged : kExitError);
  }
  return nullptr;
}

Survey SurveyArchive(const std::string& shown, bool report_open) {
  Survey out;
  acekit_reader* r = nullptr;
  if (report_open) {
    r = OpenReader(shown);
  } else if (acekit_reader_open(&r, ArchivePath(shown).c_str()) != ACEKIT_OK) {
    r = nullptr;
  }
  if (r == nullptr) return out;
  out.opened = true;
  if (const char* c = acekit_reader_comment(r); c != nullptr) out.main_comment = c;
  acekit_reader_set_flags(r, ACEKIT_READER_SALVAGE);
  acekit_entry e;
  for (;;) {
    const int more = acekit_reader_next(r, &e);
    if (more < 0) {
      out.failure = acekit_last_error(r);
      break;
    }
    if (more == 0) {
      acekit_reader_damage(r, &out.end);
      break;
    }
    SurveyEntry s;
    s.name = e.name;
    s.info = e;
    if (e.comment != nullptr) s.comment = e.comment;
    s.info.name = nullptr;
    s.info.comment = nullptr;
    acekit_reader_details(r, &s.details);
    acekit_reader_damage(r, &s.damage);
    out.entries.push_back(std::move(s));
  }
  acekit_reader_info(r, &out.archive);
  acekit_reader_close(r);
  return out;
}

bool ReportSurvey(const std::string& archive, const Survey& survey, bool headers_are_damage) {
  Ui& ui = Ui::Get();
  const auto bytes = [](uint64_t n) { return std::to_string(n); };
  bool any = false;
  for (const SurveyEntry& e : survey.entries) {
    const acekit_damage& d = e.damage;
    if (d.flags & ACEKIT_DAMAGE_GAP) {
      ui.Error(archive + ": damaged: bytes " + bytes(d.gap_offset) + " to " +
                   bytes(d.gap_offset + d.gap_size - 1) +
                   " hold no readable header; the entries there are lost; going on at " + e.name,
               kExitDamaged);
      any = true;
    }
    if (d.flags & ACEKIT_DAMAGE_HEADER) {
      const std::string text = archive + ": " + e.name +
                               ": its header fails its CRC check (the name or other details "
                               "may be wrong)";
      headers_are_damage ? ui.Error(text, kExitDamaged) : ui.Warn(text);
      any = true;
    }
    if (d.flags & ACEKIT_DAMAGE_CUT) {
      ui.Error(archive + ": truncated at byte " + bytes(survey.end.offset) + ": " + e.name +
                   " is cut short; any entries after it are missing",
               kExitDamaged);
      any = true;
    }
  }
  const acekit_damage& end = survey.end;
  const bool cut_entry =
      !survey.entries.empty() && (survey.entries.back().damage.flags & ACEKIT_DAMAGE_CUT) != 0;
  if ((end.flags & ACEKIT_DAMAGE_TRUNCATED) && !cut_entry) {
    const std::string last = survey.entries.empty() ? "" : " after " + survey.entries.back().name;
    ui.Error(archive + ": truncated at byte " + bytes(end.offset) +
                 ": the file ends inside the "
                 "header at byte " +
                 bytes(end.gap_size > 0 ? end.gap_offset : end.offset) + last +
                 "; any entries from there on are missing",
             kExitDamaged);
    any = true;
  } else if (end.flags & ACEKIT_DAMAGE_GAP) {
    ui.Error(archive + ": damaged: bytes " + bytes(end.gap_offset) + " to the end (" +
                 bytes(end.offset) + ") hold no readable header; the entries there are lost",
             kExitDamaged);
    any = true;
  }
  if (!survey.failure.empty()) {
    ui.Error(archive + ": " + survey.failure, kExitDamaged);
    any = true;
  }
  return any;
}

bool Patterns::Selects(const std::string& name) {
  bool any = patterns_.empty();
  for (size_t i = 0; i < patterns_.size(); ++i) {
    if (PatternSelects(patterns_[i], name)) any = hit_[i] = true;
  }
  if (!any) return false;
  for (const std::string& x : excludes_) {
    if (PatternSelects(x, name)) return false;
  }
  return true;
}

bool Patterns::WarnUnmatched(const std::string& archive) const {
  bool missed = false;
  for (size_t i = 0; i < patterns_.size(); ++i) {
    if (hit_[i]) continue;
    Ui::Get().Warn(archive + ": no entry matches " + patterns_[i]);
    missed = true;
  }
  return missed;
}

void RestoreDirectories(const std::string& shown, const std::string& path,
                        std::vector<std::string> names) {
  if (names.empty()) return;
  // A parent sorts before what lies below it.
  std::sort(names.begin(), names.end());
  acekit_editor* e = nullptr;
  if (const int rc = acekit_editor_open(&e, path.c_str(), nullptr); rc != ACEKIT_OK) {
    Ui::Get().Warn(shown +
                   ": its directory entries could not be kept: " + acekit_last_error(nullptr));
    return;
  }
  for (const std::string& name : names) {
    const int rc = acekit_editor_add_directory(e, name.c_str());
    if (rc != ACEKIT_OK && rc != ACEKIT_E_EXISTS) {
      Ui::Get().Warn(shown + ": directory entry " + Printable(name) +
                     "/ could not be kept: " + acekit_last_error(e));
    }
  }
  acekit_editor_close(e);
}

int ChangeEvents::On(void* ctx, const acekit_change* event) {
  auto* self = static_cast<ChangeEvents*>(ctx);
  if (Interrupted()) return 1;
  Progress& p = Ui::Get().progress();
  switch (event->kind) {
    case ACEKIT_CHANGE_FILE:
      self->current_ = event->name;
      p.File(self->current_);
      Ui::Get().Reached(self->current_ + "/");  // -v lists a directory with its '/'

      break;
    case ACEKIT_CHANGE_BYTES:
      p.Report(0, static_cast<int32_t>(std::min<uint64_t>(event->bytes, INT32_MAX)));
      break;
    case ACEKIT_CHANGE_PHASE:
      if (std::strcmp(event->name, "unpacking") == 0) {
        p.Phase("unpacking", self->unpack_total);
      } else {
        p.Phase("compressing", self->repack_total);
      }
      break;
    case ACEKIT_CHANGE_UNREADABLE: {
      const std::string shown = event->path != nullptr ? event->path : "";
      if (self->strict) {
        self->stopped_strict_ = true;
        Ui::Get().Error(shown + ": vanished while the archive was being written (--strict)");
        return 1;
      }
      self->vanished_.push_back(shown);
      Ui::Get().Warn(shown + ": vanished while the archive was being written; left out");
      break;
    }
    default:
      break;
  }
  return 0;
}

int ChangeExit(int code) {
  if (code == ACEKIT_E_CANCELLED) return kExitCancelled;
  if (code == ACEKIT_E_CORRUPT || code == ACEKIT_E_CRC || code == ACEKIT_E_UNSUPPORTED) {
    return kExitDamaged;
  }
  return kExitError;
}

namespace {

constexpr int64_t kSampleTime = 631152000;  // 1990-01-01, within the format's range

// The packed size of `data` compressed alone into a new archive at `path`.
int64_t PackedAlone(const std::string& path, const std::string& data, uint32_t dictionary_kb,
                    int level) {
  acekit_options o{};
  o.dictionary_kb = dictionary_kb;
  o.level = level;
  acekit_writer* w = nullptr;
  if (acekit_writer_create(&w, path.c_str(), &o) != ACEKIT_OK) return -1;
  if (acekit_writer_add_memory(w, "sample", data.data(), data.size(), kSampleTime, 0) !=
      ACEKIT_OK) {
    acekit_writer_abort(w);
    return -1;
  }
  if (acekit_writer_finish(w) != ACEKIT_OK) return -1;
  acekit_reader* r = nullptr;
  int64_t packed = -1;
  if (acekit_reader_open(&r, path.c_str()) == ACEKIT_OK) {
    acekit_entry e;
    if (acekit_reader_next(r, &e) == 1) packed = static_cast<int64_t>(e.packed_size);
    acekit_reader_close(r);
  }
  ::unlink(path.c_str());
  return packed;
}

}  // namespace

int SolidLevel(const std::string& path, uint32_t dictionary_kb) {
  constexpr uint64_t kLargestSample = 4u << 20;
  acekit_reader* r = nullptr;
  if (acekit_reader_open(&r, path.c_str()) != ACEKIT_OK) return 0;
  acekit_entry e{};
  int more;
  // Directories and empty files put nothing into the stream.
  while ((more = acekit_reader_next(r, &e)) == 1 && (e.is_dir || e.size == 0)) {
  }
  std::string data;
  const bool usable =
      more == 1 && !e.is_encrypted && e.size <= kLargestSample && e.packed_size < e.size;
  const uint64_t packed = e.packed_size;
  if (usable) {
    data.reserve(e.size);
    const auto keep = [](void* ctx, const void* bytes, size_t n) {
      static_cast<std::string*>(ctx)->append(static_cast<const char*>(bytes), n);
      return 0;
    };
    if (acekit_reader_read(r, keep, &data) != ACEKIT_OK) data.clear();
  }
  acekit_reader_close(r);
  if (data.empty()) return 0;
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/acekit-XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) return 0;
  int found = 0;
  // The highest level that matches: below some size every level packs
  // alike, and then the best one costs nothing in size.
  for (int level = 4; level >= 1 && found == 0; --level) {
    const int64_t n = PackedAlone(dir + "/sample.ace", data, dictionary_kb, level);
    if (n >= 0 && static_cast<uint64_t>(n) == packed) found = level;
  }
  ::rmdir(dir.c_str());
  return found;
}

std::string EntryName(const ArcEntry& e) {
  return FromLibrary(std::string(e.name, strnlen(e.name, sizeof e.name)));
}

bool IsDirectory(const ArcEntry& e) {
  return (e.attr & 0x10) != 0;
}

}  // namespace acekit_cli
