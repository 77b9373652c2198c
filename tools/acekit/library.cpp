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

}  // namespace acekit_cli
