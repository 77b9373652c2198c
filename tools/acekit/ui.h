// What the person at the terminal sees: one-line messages on stderr, the
// progress line, and the exit status that sums up the run.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace acekit_cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitWarnings = 1,
  kExitError = 2,
  kExitDamaged = 3,
  kExitCancelled = 130,
};

// The progress line on stderr. It is drawn only while stderr is a terminal
// and -q was not given; every message clears it first so that nothing is
// printed over it.
class Progress {
 public:
  void Enable(bool on) { enabled_ = on; }
  bool enabled() const { return enabled_; }
  // A new operation moving `total` bytes (0 when unknown).
  void Begin(uint64_t total);
  void SetTotal(uint64_t total) { total_ = total; }
  void File(const std::string& name);
  // The library's report: the current file's percentage and the bytes done
  // since its previous report.
  void Report(int32_t percent, int32_t bytes);
  // Time between Pause and Resume (a question waiting for its answer) does
  // not count in the throughput or the time left.
  void Pause();
  void Resume();
  void Phase(const std::string& label, uint64_t total);
  void Clear();
  void End() { Clear(); }

 private:
  void Draw(bool force);

  bool enabled_ = false;
  bool drawn_ = false;
  std::string label_;
  std::string file_;
  int32_t percent_ = 0;
  uint64_t done_ = 0;
  uint64_t total_ = 0;
  std::chrono::steady_clock::time_point start_{};
  std::chrono::steady_clock::time_point last_draw_{};
  std::chrono::steady_clock::time_point paused_at_{};
  bool paused_ = false;
};

// Holds the progress clock while a question waits.
class ProgressPause {
 public:
  explicit ProgressPause(Progress& p) : p_(p) { p_.Pause(); }
  ~ProgressPause() { p_.Resume(); }
  ProgressPause(const ProgressPause&) = delete;
  ProgressPause& operator=(const ProgressPause&) = delete;

 private:
  Progress& p_;
};

class Ui {
 public:
  static Ui& Get();
  // -q: no progress line, no summary and no warnings; -v: each file's name
  // on stdout as it is processed.
  void Init(bool quiet, bool verbose);

  bool quiet() const { return quiet_; }
  bool verbose() const { return verbose_; }
  // With -v: the names (as the library reports them, '/' between parts, a
  // directory with a trailing '/') that are listed when the operation
  // reaches them. The library also reports working files and entries it only
  // passes on the way, which are not listed.
  void ListWhenReached(const std::vector<std::string>& names);
  // Lists the name if it is one of them and was not listed yet.
  void Reached(const std::string& name);
  bool interactive() const { return stdin_tty_ && stderr_tty_; }
  Progress& progress() { return progress_; }

  // A warning raises the exit status to 1 even when -q keeps it off the screen.
  void Warn(const std::string& message);
  void Error(const std::string& message, int code = kExitError);
  // A line of normal output on stdout, unless -q.
  void Say(const std::string& message);
  void Raise(int code);
  int exit_code() const { return exit_; }

 private:
  bool quiet_ = false;
  bool verbose_ = false;
  std::unordered_map<std::string, std::string> to_list_;  // reported name -> shown name
  bool stdin_tty_ = false;
  bool stderr_tty_ = false;
  int exit_ = kExitOk;
  Progress progress_;
};

// The system's reason for an errno value, as strerror gives it, but a loop
// of symbolic links is called a link loop.
std::string Reason(int err);
// Why the file at `path` cannot be read, or why nothing can be created
// there: the library reports only that it failed, so the reason is found by
// trying again. Empty when no reason is found.
std::string WhyNotRead(const std::string& path);
std::string WhyNotCreated(const std::string& path);

// Ctrl-C: the first SIGINT (or SIGTERM, or SIGHUP) asks the running
// operation to stop cleanly (the host procedures then answer "stop"); a
// second one ends the program at once.
void InstallInterruptHandler();
bool Interrupted();

}  // namespace acekit_cli
