// The handle-based interface (include/acekit/acekit.h) over the operations
// and engines (internal). Every handle carries its own archive state,
// settings and hooks; nothing here touches the process-wide state of the
// host interface, so handles work side by side on any threads.
#pragma once

#include <cstdint>
#include <string>

#include "acekit/acekit.h"
#include "common/callbacks.h"
#include "common/status.h"
#include "format/arc_state.h"
#include "ops/context.h"

namespace acekit::face {

// What every handle starts with, so acekit_last_error can take any of them.
struct Handle {
  uint32_t magic;
  std::string error;
  acekit_progress progress = nullptr;
  void* progress_ctx = nullptr;
  // Writers and editors: the host's events, and where the engine stands.
  acekit_change_fn events = nullptr;
  void* events_ctx = nullptr;
  const format::ArcState* arc = nullptr;  // of the operation running, which may name working copies
  bool deleting = false;                  // the engine marks each deleted entry as a full step
  int unreadable_error = 0;               // the error of a file the host chose not to leave out
  explicit Handle(uint32_t m) : magic(m) {}
};
inline constexpr uint32_t kReaderMagic = 0x52454b41;  // "AKER"
inline constexpr uint32_t kWriterMagic = 0x57454b41;
inline constexpr uint32_t kEditorMagic = 0x45454b41;

// Records a failure in `h` (or, without a handle, for the calling thread)
// and returns `code`. `what` names the step, `path` the file involved; the
// system's reason is appended when `with_reason`.
int Fail(Handle* h, int code, const std::string& what, const std::string& path = {},
         bool with_reason = false);
// Keeps a finished message for the calling thread (a handle that is gone).
void KeepForThread(const std::string& message);
// The same for an engine status word.
int FailStatus(Handle* h, uint32_t status, const std::string& what, const std::string& path = {});
int CodeOf(uint32_t status);

// The progress hook an engine calls for a handle: percent reports go to the
// handle's callback, whose non-zero answer cancels.
ProgressHook ProgressFor(Handle* h);

// Every hook of an engine for a writer or an editor: progress as above,
// and, while the handle has events, file names, byte counts and unreadable
// files turned into events.
HostHooks HooksFor(Handle* h);
// Hands an event to the handle's host; true when the host answers non-zero.
bool Tell(Handle* h, const acekit_change& event);

// A per-handle operation state in the shape the operations take.
struct OpState {
  format::ArcState arc;
  format::Settings settings;
  HostHooks hooks;
  int32_t arc_info[23] = {};
  int32_t extra_features[12] = {};
  OpState() { settings.desc = format::kArcerDefaults; }
  ~OpState();
  OpState(const OpState&) = delete;
  OpState& operator=(const OpState&) = delete;
  ops::Context Context() { return ops::Context{arc, settings, hooks, arc_info, extra_features}; }
};

// Names: UTF-8 with '/' outside, the stored form (code-page converted, '\')
// inside. False when the name is empty, absolute, has a ".." part or does not
// fit a header.
bool StoredName(const char* utf8, std::string* stored, std::string* why);
std::string NameFromStored(const char* raw, size_t n);

// The operations that rewrite an archive keep its name and the names of
// their temporary files in fixed buffers of kPathSize; a name that leaves
// less than this much room is refused before anything is changed.
inline constexpr size_t kRoomForTemporaries = 16;
// The longest archive path such an operation takes, and the failure text
// that states the limit a host can act on.
inline constexpr size_t kLongestRewrittenPath = format::kPathSize - 1 - kRoomForTemporaries;
std::string PathTooLongToRewrite(const char* for_what, size_t limit = kLongestRewrittenPath);

// Unix seconds and packed local DOS time.
bool PackTime(int64_t unix_seconds, uint32_t* packed);
int64_t UnpackTime(uint32_t packed);

// The folder part of `path`, its separator kept ("" when there is none).
std::string DirectoryOf(const std::string& path);

}  // namespace acekit::face
