#include "host.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "format.h"
#include "names.h"
#include "ui.h"

namespace acekit_cli {
namespace {

Host* Self(ArcContext ctx) {
  return reinterpret_cast<Host*>(ctx);
}

std::string Unrooted(const char* library_name) {
  std::string s = FromLibrary(library_name != nullptr ? library_name : "");
  while (!s.empty() && s[0] == '/') s.erase(0, 1);
  return s;
}

// The library shows a working copy of a solid archive's rebuild as the
// temporary directory with the file's last name: never a name to show.
bool IsWorkingCopy(const std::string& shown) {
  const char* env = std::getenv("TMPDIR");
  std::string dir = env != nullptr && env[0] != '\0' ? env : "/tmp";
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  dir += '/';
  std::string name = shown;
  if (!name.empty() && name[0] != '/') name.insert(0, "/");
  return name.starts_with(dir);
}

// A find-data time (100 ns ticks since 1601, UTC) as local "YYYY-MM-DD HH:MM".
std::string When(const FindTime& t) {
  const uint64_t ticks = (static_cast<uint64_t>(t.high) << 32) | t.low;
  const auto seconds =
      static_cast<time_t>(ticks / 10000000ULL) - static_cast<time_t>(11644473600LL);
  struct tm lt {};
  char buf[32] = "?";
  if (localtime_r(&seconds, &lt) != nullptr) std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &lt);
  return buf;
}

std::string Describe(const FindData& d) {
  const uint64_t size = (static_cast<uint64_t>(d.size_high) << 32) | d.size_low;
  return HumanSize(size) + ", " + When(d.last_write_time);
}

// One line from the terminal; "\x04" at the end of input, "\x03" when Ctrl-C
// came first.
std::string ReadAnswer() {
  std::string line;
  for (;;) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int r = ::poll(&p, 1, -1);
    if (Interrupted()) return "\x03";
    if (r < 0) {
      if (errno == EINTR) continue;
      return line;
    }
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n <= 0) return line.empty() ? "\x04" : line;
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace

void Host::Register() {
  const auto ctx = reinterpret_cast<ArcContext>(this);
  SetSetFileNameProc(ctx, &Host::OnFileName);
  SetSetProgressProc(ctx, &Host::OnProgress);
  SetSkipFileProc(ctx, &Host::OnSkip);
  if (ask_replace) SetOkToReplaceProc(ctx, &Host::OnReplace);
}

void Host::DiscardLast() {
  if (discard_output && !target_.empty()) ::unlink(target_.c_str());
}

int32_t ACEKIT_CALL Host::OnFileName(ArcContext ctx, const char* source, const char* target) {
  Host* h = Self(ctx);
  h->source_ = Unrooted(source);
  // In a rebuild one of the two names is a working copy; the other one is
  // the entry's.
  const bool working_source = IsWorkingCopy(FromLibrary(source != nullptr ? source : ""));
  const bool working_target = IsWorkingCopy(FromLibrary(target != nullptr ? target : ""));
  if (h->mode_ == Mode::kAdd) {
    h->current_ = working_target && !working_source ? h->source_ : Unrooted(target);
    h->target_ = working_source && !working_target ? h->current_
                                                   : FromLibrary(source != nullptr ? source : "");
  } else {
    if (h->discard_output) h->DiscardLast();
    h->current_ = working_source && !working_target ? Unrooted(target) : h->source_;
    h->target_ = FromLibrary(target != nullptr ? target : "");
  }
  Ui::Get().progress().File(h->current_);
  return 1;
}

int32_t ACEKIT_CALL Host::OnProgress(ArcContext ctx, int32_t percent, int32_t bytes) {
  Host* h = Self(ctx);
  if (Interrupted()) return 0;
  Progress& p = Ui::Get().progress();
  if (percent == -1) {
    p.Phase("unpacking", h->unpack_total);
  } else if (percent == -2) {
    p.Phase("compressing", h->repack_total);
  } else if (!(h->mode_ == Mode::kDelete && percent == 100 && bytes == 100)) {
    p.Report(percent, bytes);
  }
  return 1;
}

int32_t ACEKIT_CALL Host::OnSkip(ArcContext ctx, const char* name) {
  Host* h = Self(ctx);
  if (Interrupted()) return 2;
  const std::string shown = FromLibrary(name != nullptr ? name : "");
  if (h->strict) {
    h->stopped_strict_ = true;
    Ui::Get().Error(shown + ": vanished while the archive was being written (--strict)");
    return 0;
  }
  h->vanished_.push_back(shown);
  Ui::Get().Warn(shown + ": vanished while the archive was being written; left out");
  return 1;
}

int32_t ACEKIT_CALL Host::OnReplace(ArcContext ctx, const FindData* existing,
                                    const FindData* incoming) {
  Host* h = Self(ctx);
  if (Interrupted()) return 2;
  if (existing == nullptr || incoming == nullptr) return 1;
  return h->Replace(*existing, *incoming);
}

int32_t Host::Replace(const FindData& existing, const FindData& incoming) {
  const bool old_dir = (existing.attributes & 0x10) != 0;
  const bool new_dir = (incoming.attributes & 0x10) != 0;
  if (old_dir && new_dir) return 0;  // the directory is there already; nothing is lost
  if (old_dir != new_dir) {
    kept_.push_back(target_);
    Ui::Get().Warn(target_ + ": " + (old_dir ? "a directory" : "a file") +
                   " of that name exists; " + (new_dir ? "directory" : "file") + " not extracted");
    return 1;
  }
  switch (overwrite) {
    case Overwrite::kAll:
      return 0;
    case Overwrite::kNone:
      kept_.push_back(target_);
      return 1;
    case Overwrite::kNoneReported:
      kept_.push_back(target_);
      Ui::Get().Warn(target_ + ": exists; not overwritten (-y overwrites)");
      return 1;
    case Overwrite::kAsk:
      break;
  }
  const ProgressPause pause(Ui::Get().progress());
  return Ask(existing, incoming);
}

int32_t Host::Ask(const FindData& existing, const FindData& incoming) {
  Ui::Get().progress().Clear();
  for (;;) {
    std::fprintf(stderr,
                 "acekit: %s exists (%s)\n"
                 "  replace it with the archived file (%s)? [y]es, [n]o, [A]ll, [N]one, [q]uit: ",
                 Printable(target_).c_str(), Describe(existing).c_str(),
                 Describe(incoming).c_str());
    std::fflush(stderr);
    const std::string a = ReadAnswer();
    if (a == "\x03") {
      std::fputc('\n', stderr);
      quit_ = true;
      return 2;
    }
    if (a == "y" || a == "Y" || a == "yes") return 0;
    if (a == "n" || a == "no") {
      kept_.push_back(target_);
      return 1;
    }
    if (a == "A" || a == "a" || a == "all") {
      overwrite = Overwrite::kAll;
      return 0;
    }
    if (a == "N" || a == "none") {
      overwrite = Overwrite::kNone;
      kept_.push_back(target_);
      return 1;
    }
    if (a == "q" || a == "Q" || a == "quit") {
      quit_ = true;
      return 2;
    }
    if (a == "\x04") {
      std::fputc('\n', stderr);
      overwrite = Overwrite::kNone;
      kept_.push_back(target_);
      return 1;
    }
  }
}

}  // namespace acekit_cli
