// Host procedures as the engines see them: a (context, procedure) pair that
// may be empty. Lower layers receive these by value; only the api layer owns
// the registered table.
#pragma once

#include "common/host_types.h"

namespace acekit {

// The overwrite procedure's answers. Any other value counts as a replace,
// except that the library then leaves a read-only mark alone.
enum ReplaceAnswer : int32_t {
  kAnswerReplace = ACEKIT_REPLACE_YES,
  kAnswerKeep = ACEKIT_REPLACE_KEEP,
  kAnswerStop = ACEKIT_REPLACE_STOP,
};

// The skip procedure's answers about an item that cannot be reached. Any
// other value becomes the result of that item's step: 0 ends the operation
// (leaving the status word as it is), anything else goes on.
enum SkipAnswer : int32_t {
  kSkipLeaveOut = 1,
  kSkipStop = 2,
};

struct ProgressHook {
  SetProgressProcFn proc = nullptr;
  ArcContext ctx = 0;
  int32_t Call(int32_t percent, int32_t bytes) const { return proc(ctx, percent, bytes); }
  explicit operator bool() const { return proc != nullptr; }
};

struct FileNameHook {
  SetFileNameProcFn proc = nullptr;
  ArcContext ctx = 0;
  void Call(const char* source, const char* target) const {
    if (proc) proc(ctx, source, target);
  }
};

struct SkipHook {
  SkipFileProcFn proc = nullptr;
  ArcContext ctx = 0;
  explicit operator bool() const { return proc != nullptr; }
  SkipAnswer Call(const char* name) const { return static_cast<SkipAnswer>(proc(ctx, name)); }
};

struct ReplaceHook {
  OkToReplaceProcFn proc = nullptr;
  ArcContext ctx = 0;
  explicit operator bool() const { return proc != nullptr; }
  ReplaceAnswer Call(const FindData* existing, const FindData* incoming) const {
    return static_cast<ReplaceAnswer>(proc(ctx, existing, incoming));
  }
};

struct HostHooks {
  FileNameHook file_name;
  SkipHook skip;
  ProgressHook progress;
  ReplaceHook replace;
};

}  // namespace acekit
