// Host procedures as the engines see them: a (context, procedure) pair that
// may be empty. Lower layers receive these by value; only the api layer owns
// the registered table.
#pragma once

#include "common/host_types.h"

namespace acekit {

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
  int32_t Call(const char* name) const { return proc(ctx, name); }
};

struct ReplaceHook {
  OkToReplaceProcFn proc = nullptr;
  ArcContext ctx = 0;
  explicit operator bool() const { return proc != nullptr; }
  int32_t Call(const FindData* existing, const FindData* incoming) const {
    return proc(ctx, existing, incoming);
  }
};

struct HostHooks {
  FileNameHook file_name;
  SkipHook skip;
  ProgressHook progress;
  ReplaceHook replace;
};

}  // namespace acekit
