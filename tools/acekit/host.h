// The procedures the library calls back during an operation: file names,
// progress (and with it Ctrl-C), files that vanished, and the question
// whether an existing file may be replaced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exports.h"

namespace acekit_cli {

// kNone keeps existing files quietly (-n); kNoneReported keeps them and
// reports each one (the default without a terminal).
enum class Overwrite { kAsk, kAll, kNone, kNoneReported };

class Host {
 public:
  enum class Mode { kAdd, kExtract, kTest, kDelete };

  explicit Host(Mode mode) : mode_(mode) {}
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // After InitArcFile or CreateArcFile, which clear every registration.
  void Register();

  // Settings.
  Overwrite overwrite = Overwrite::kNoneReported;
  bool ask_replace = false;  // register the replace question (extraction)
  bool strict = false;       // a vanished input stops the operation
  // Totals for the solid rebuild passes (unpacking, then compressing again).
  uint64_t unpack_total = 0;
  uint64_t repack_total = 0;
  // Extraction into a scratch directory only to check the data: each file
  // is deleted as soon as the next one starts.
  bool discard_output = false;

  // What the operation met.
  const std::string& current() const { return current_; }  // stored name, '/' separators
  const std::string& target() const { return target_; }    // disk path of an extraction
  // The first name of the last report, '/' separators: the file being added,
  // or the entry being extracted or unpacked for a rebuild.
  const std::string& source() const { return source_; }
  const std::vector<std::string>& vanished() const { return vanished_; }
  const std::vector<std::string>& kept() const { return kept_; }
  bool stopped_strict() const { return stopped_strict_; }
  bool quit() const { return quit_; }
  void DiscardLast();

 private:
  static int32_t ACEKIT_CALL OnFileName(ArcContext ctx, const char* source, const char* target);
  static int32_t ACEKIT_CALL OnProgress(ArcContext ctx, int32_t percent, int32_t bytes);
  static int32_t ACEKIT_CALL OnSkip(ArcContext ctx, const char* name);
  static int32_t ACEKIT_CALL OnReplace(ArcContext ctx, const FindData* existing,
                                       const FindData* incoming);
  int32_t Replace(const FindData& existing, const FindData& incoming);
  int32_t Ask(const FindData& existing, const FindData& incoming);

  Mode mode_;
  std::string current_;
  std::string target_;
  std::string source_;
  std::vector<std::string> vanished_;
  std::vector<std::string> kept_;
  bool stopped_strict_ = false;
  bool quit_ = false;
};

}  // namespace acekit_cli
