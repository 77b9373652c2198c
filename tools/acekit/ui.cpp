#include "ui.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "format.h"

namespace acekit_cli {
namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
  g_interrupted = 1;
}

int TerminalWidth() {
  winsize ws{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 20) return ws.ws_col;
  return 80;
}

// Display width in columns, counting each UTF-8 character as one.
size_t Columns(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

// Keeps the last `width` columns of s, marking the cut with "...".
std::string KeepTail(const std::string& s, size_t width) {
  if (Columns(s) <= width) return s;
  if (width <= 3) return std::string(width, '.');
  size_t drop = Columns(s) - (width - 3);
  size_t i = 0;
  while (drop > 0 && i < s.size()) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    --drop;
  }
  return "..." + s.substr(i);
}

}  // namespace

std::string Reason(int err) {
  if (err == ELOOP) return "a link loop (too many levels of symbolic links)";
  return std::strerror(err);
}

std::string WhyNotRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Reason(errno);
  ::close(fd);
  return "";
}

std::string WhyNotCreated(const std::string& target) {
  std::string path = target;
  while (path.size() > 1 && path.ends_with('/')) path.pop_back();
  // The way down: the first part that is not a directory, or the last
  // directory that exists, where the missing rest would have been made.
  std::string last_dir = path.starts_with('/') ? "/" : ".";
  struct stat st;
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::stat(part.c_str(), &st) != 0) {
      if (errno != ENOENT) return part + ": " + Reason(errno);
      break;
    }
    if (!S_ISDIR(st.st_mode)) return part + " is not a directory";
    last_dir = part;
  }
  if (::access(last_dir.c_str(), W_OK | X_OK) != 0) return last_dir + ": " + Reason(errno);
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode) != target.ends_with('/')) {
      return S_ISDIR(st.st_mode) ? Reason(EISDIR) : "a file of that name is in the way";
    }
    if (::access(path.c_str(), W_OK) != 0) return Reason(errno);
  }
  return "";
}

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART | SA_RESETHAND;
  // A closed terminal or a polite kill cancels as cleanly as Ctrl-C does.
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
}

bool Interrupted() {
  return g_interrupted != 0;
}

void Progress::Begin(uint64_t total) {
  total_ = total;
  done_ = 0;
  percent_ = 0;
  label_.clear();
  file_.clear();
  start_ = std::chrono::steady_clock::now();
  last_draw_ = {};
}

void Progress::File(const std::string& name) {
  // Made printable only when drawn: most names are never shown.
  file_ = name;
  Ui::Get().Reached(name);
  percent_ = 0;
  Draw(false);
}

void Progress::Report(int32_t percent, int32_t bytes) {
  percent_ = std::clamp(percent, 0, 100);
  if (bytes > 0) done_ += static_cast<uint64_t>(bytes);
  Draw(false);
}

void Progress::Pause() {
  if (paused_) return;
  paused_ = true;
  paused_at_ = std::chrono::steady_clock::now();
}

void Progress::Resume() {
  if (!paused_) return;
  paused_ = false;
  start_ += std::chrono::steady_clock::now() - paused_at_;
}

void Progress::Phase(const std::string& label, uint64_t total) {
  label_ = label;
  total_ = total;
  done_ = 0;
  start_ = std::chrono::steady_clock::now();
  Draw(true);
}

void Progress::Draw(bool force) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::string sizes = "  " + HumanSize(done_);
  if (total_ > 0) sizes += " / " + HumanSize(std::max(total_, done_));
  std::string rate_text;
  std::string eta_text;
  // Early on a rate is mostly noise; once everything is done it is the
  // honest figure for the whole job, however short that was.
  const bool finished = total_ > 0 && done_ >= total_;
  if (done_ > 0 && (seconds > 0.05 || (finished && seconds > 0))) {
    const double rate = static_cast<double>(done_) / seconds;
    rate_text = "  " + HumanSize(static_cast<uint64_t>(rate)) + "/s";
    if (total_ > done_) {
      const auto left = static_cast<uint64_t>(static_cast<double>(total_ - done_) / rate + 0.5);
      char eta[40];
      std::snprintf(eta, sizeof eta, "  ETA %" PRIu64 ":%02" PRIu64, left / 60, left % 60);
      eta_text = eta;
    }
  }
  // The bar and the percentage are of the whole operation by bytes, when its
  // size is known; else the percentage is the current file's.
  const int32_t percent =
      total_ > 0 ? static_cast<int32_t>(std::min<uint64_t>(done_, total_) * 100 / total_)
                 : percent_;
  char pct[8];
  std::snprintf(pct, sizeof pct, "%3d%% ", percent);
  std::string head = label_.empty() ? pct : label_ + " " + pct;
  if (total_ > 0) {
    constexpr size_t kBar = 20;
    const size_t filled = static_cast<size_t>(std::min<uint64_t>(done_, total_) * kBar / total_);
    head = "[" + std::string(filled, '#') + std::string(kBar - filled, '.') + "] " + head;
  }
  const size_t width = static_cast<size_t>(TerminalWidth()) - 1;
  // The name keeps room for up to 24 columns: the time left goes first, then the rate.
  const std::string file = Printable(file_);
  const size_t room = std::min<size_t>(Columns(file), 24);
  std::string tail = sizes + rate_text + eta_text;
  if (Columns(head) + Columns(tail) + room > width) tail = sizes + rate_text;
  if (Columns(head) + Columns(tail) + room > width) tail = sizes;
  const size_t used = Columns(head) + Columns(tail);
  const std::string name = used < width ? KeepTail(file, width - used) : "";
  const std::string line = "\r\033[K" + head + name + tail;
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

Ui& Ui::Get() {
  static Ui ui;
  return ui;
}

void Ui::Init(bool quiet, bool verbose) {
  quiet_ = quiet;
  verbose_ = verbose;
  stdin_tty_ = isatty(STDIN_FILENO) == 1;
  stderr_tty_ = isatty(STDERR_FILENO) == 1;
  progress_.Enable(stderr_tty_ && !quiet_);
}

void Ui::ListWhenReached(const std::vector<std::string>& names) {
  to_list_.clear();
  if (!verbose_) return;
  for (const std::string& name : names) {
    to_list_.emplace(name, name);
    // The library names a directory with or without its trailing '/'.
    if (name.ends_with('/')) to_list_.emplace(name.substr(0, name.size() - 1), name);
  }
}

void Ui::Reached(const std::string& name) {
  const auto it = to_list_.find(name);
  if (it == to_list_.end()) return;
  const std::string shown = it->second;
  to_list_.erase(it);
  to_list_.erase(shown);
  if (shown.ends_with('/')) to_list_.erase(shown.substr(0, shown.size() - 1));
  progress_.Clear();
  std::printf("%s\n", Printable(shown).c_str());
  std::fflush(stdout);
}

void Ui::Warn(const std::string& message) {
  Raise(kExitWarnings);
  if (quiet_) return;
  progress_.Clear();
  std::fprintf(stderr, "acekit: warning: %s\n", Printable(message).c_str());
}

void Ui::Error(const std::string& message, int code) {
  progress_.Clear();
  std::fprintf(stderr, "acekit: %s\n", Printable(message).c_str());
  Raise(code);
}

void Ui::Say(const std::string& message) {
  if (quiet_) return;
  progress_.Clear();
  std::fprintf(stdout, "%s\n", Printable(message).c_str());
  std::fflush(stdout);
}

void Ui::Raise(int code) {
  exit_ = std::max(exit_, code);
}

}  // namespace acekit_cli
