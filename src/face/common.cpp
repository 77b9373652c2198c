// Errors, names, times and temporary names shared by the handles.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "face/face.h"
#include "format/records.h"
#include "ops/compress_one.h"
#include "platform/beneath.h"
#include "platform/platform.h"

namespace acekit::face {
namespace {

// Failed opens and creates leave no handle to ask, so their message is kept
// per thread.
thread_local std::string g_thread_error;

constexpr int64_t kEpochDelta = 11644473600LL;  // 1601-01-01 to 1970-01-01
constexpr uint64_t kTicksPerSecond = 10000000ULL;

int32_t ACEKIT_CALL ProgressTrampoline(ArcContext ctx, int32_t percent, int32_t) {
  auto* h = reinterpret_cast<Handle*>(ctx);
  if (percent < 0 || h->progress == nullptr) return 1;  // phase announcements
  return h->progress(h->progress_ctx, percent) != 0 ? 0 : 1;
}

int32_t ACEKIT_CALL EventProgress(ArcContext ctx, int32_t percent, int32_t bytes) {
  auto* h = reinterpret_cast<Handle*>(ctx);
  if (percent == -1 || percent == -2) {
    acekit_change ev{};
    ev.kind = ACEKIT_CHANGE_PHASE;
    ev.name = percent == -1 ? "unpacking" : "compressing";
    return Tell(h, ev) ? 0 : 1;
  }
  // A deletion reports each removed entry as (100, 100): no input taken in.
  if (bytes > 0 && !(h->deleting && percent == 100 && bytes == 100)) {
    acekit_change ev{};
    ev.kind = ACEKIT_CHANGE_BYTES;
    ev.bytes = static_cast<uint64_t>(bytes);
    if (Tell(h, ev)) return 0;
  }
  return ProgressTrampoline(ctx, percent, bytes);
}

// The engines name an entry as (source, target): a disk file or a working
// copy and the stored name when adding, the stored name and its working
// copy when a rebuild unpacks, which puts them all in the state's folder.
int32_t ACEKIT_CALL EventFileName(ArcContext ctx, const char* source, const char* target) {
  auto* h = reinterpret_cast<Handle*>(ctx);
  const char* work = h->arc != nullptr ? h->arc->temp_path : "";
  const bool unpacking =
      work[0] != '\0' && target != nullptr && std::strncmp(target, work, std::strlen(work)) == 0;
  const char* stored = unpacking ? source : target;
  if (stored == nullptr) return 1;
  while (*stored == '\\' || *stored == '/') ++stored;
  const std::string name = NameFromStored(stored, std::strlen(stored));
  acekit_change ev{};
  ev.kind = ACEKIT_CHANGE_FILE;
  ev.name = name.c_str();
  // A writer's sources are the host's own files; an editor's may be
  // working copies, which are no business of the host.
  if (h->magic == kWriterMagic && source != nullptr && source != stored) ev.path = source;
  Tell(h, ev);  // the engines do not ask about names; a cancel waits for the bytes
  return 1;
}

int32_t ACEKIT_CALL EventSkip(ArcContext ctx, const char* name) {
  auto* h = reinterpret_cast<Handle*>(ctx);
  acekit_change ev{};
  ev.kind = ACEKIT_CHANGE_UNREADABLE;
  ev.path = name != nullptr ? name : "";
  ev.error =
      platform::KindOf(ev.path) == platform::Kind::kMissing ? ACEKIT_E_NOT_FOUND : ACEKIT_E_OPEN;
  if (!Tell(h, ev)) return kSkipLeaveOut;
  h->unreadable_error = ev.error;
  Fail(h, ev.error, "cannot read", ev.path);
  return 0;  // ends the operation; the status stays as it was
}

}  // namespace

bool Tell(Handle* h, const acekit_change& event) {
  return h->events != nullptr && h->events(h->events_ctx, &event) != 0;
}

HostHooks HooksFor(Handle* h) {
  HostHooks hooks;
  hooks.progress = ProgressFor(h);
  if (h->events == nullptr) return hooks;
  const auto ctx = reinterpret_cast<ArcContext>(h);
  hooks.progress.proc = &EventProgress;
  hooks.file_name.proc = &EventFileName;
  hooks.file_name.ctx = ctx;
  hooks.skip.proc = &EventSkip;
  hooks.skip.ctx = ctx;
  return hooks;
}

int CodeOf(uint32_t status) {
  switch (status) {
    case kOk:
      return ACEKIT_OK;
    case kNotFound:
      return ACEKIT_E_NOT_FOUND;
    case kOpenFailed:
    case kWorkDirFailed:
      return ACEKIT_E_OPEN;
    case kSizeFailed:
      return ACEKIT_E_READ;
    case kNoMemory:
      return ACEKIT_E_NOMEM;
    case kShortWrite:
    case kWorkDirShortWrite:
      return ACEKIT_E_WRITE;
    case kCancelled:
      return ACEKIT_E_CANCELLED;
    case kDirExists:
      return ACEKIT_E_EXISTS;
    case kBadDirName:
    case kNothingToAdd:
      return ACEKIT_E_INVALID;
    case kReadOnlyArchive:
      return ACEKIT_E_READ_ONLY;
    case kFileCommentTooLong:
    case kMainCommentTooLong:
      return ACEKIT_E_TOO_LARGE;
    case kEncryptedRebuild:
    case kEncryptedEntry:
      return ACEKIT_E_ENCRYPTED;
    case kCrcMismatch:
      return ACEKIT_E_CRC;
    case kNoMainHeader:
      return ACEKIT_E_NOT_ARCHIVE;
    case kUnsupported:
    case kNotSupported:
      return ACEKIT_E_UNSUPPORTED;
    default:
      return ACEKIT_E_CORRUPT;
  }
}

int Fail(Handle* h, int code, const std::string& what, const std::string& path, bool with_reason) {
  std::string msg = what;
  if (!path.empty()) msg += " '" + path + "'";
  msg += ": ";
  std::string reason = with_reason ? platform::SystemReason() : std::string();
  msg += reason.empty() ? std::string(acekit_strerror(code)) : reason;
  (h != nullptr ? h->error : g_thread_error) = std::move(msg);
  return code;
}

void KeepForThread(const std::string& message) {
  g_thread_error = message;
}

int FailStatus(Handle* h, uint32_t status, const std::string& what, const std::string& path) {
  const int code = CodeOf(status);
  const bool system = code == ACEKIT_E_OPEN || code == ACEKIT_E_READ || code == ACEKIT_E_WRITE;
  return Fail(h, code, what, path, system);
}

ProgressHook ProgressFor(Handle* h) {
  // Installed whether or not a callback is set yet: the engines take the
  // hook when they are set up, the callback may come later.
  ProgressHook hook;
  hook.proc = &ProgressTrampoline;
  hook.ctx = reinterpret_cast<ArcContext>(h);
  return hook;
}

OpState::~OpState() {
  platform::Free(arc.main_comment);
}

bool StoredName(const char* utf8, std::string* stored, std::string* why) {
  if (utf8 == nullptr) return *why = "no name", false;
  std::string name(utf8);
  std::string out;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part == "..") return *why = "a name may not climb out with '..'", false;
    if (part.find('\\') != std::string::npos) return *why = "'\\' in a name", false;
    if (part.size() >= 2 && part[1] == ':' && start == 0) {
      return *why = "a name may not start with a drive", false;
    }
    if (!part.empty() && part != ".") {
      if (!out.empty()) out += '\\';
      out += part;
    }
    start = end + 1;
  }
  if (out.empty()) return *why = "empty name", false;
  std::vector<char> oem(out.size() + 1);
  platform::CharToOem(out.c_str(), oem.data(), oem.size());
  if (std::strlen(oem.data()) > format::kStoredNameMax) {
    return *why = "a name longer than 255 bytes as stored", false;
  }
  *stored = std::move(out);
  return true;
}

std::string NameFromStored(const char* raw, size_t n) {
  const size_t len = static_cast<size_t>(std::find(raw, raw + n, '\0') - raw);
  // A field that fills its size has no terminator of its own.
  std::string whole;
  const char* oem = raw;
  if (len == n) {
    whole.assign(raw, len);
    oem = whole.c_str();
  }
  std::string name(len * 3 + 1, '\0');
  platform::OemToChar(oem, name.data(), name.size());
  name.resize(std::strlen(name.c_str()));
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  while (!name.empty() && name.back() == '/') name.pop_back();
  return name;
}

bool PackTime(int64_t unix_seconds, uint32_t* packed) {
  if (unix_seconds < 0 || unix_seconds > 5000000000LL) return false;
  const auto ticks = static_cast<uint64_t>(unix_seconds + kEpochDelta) * kTicksPerSecond;
  const FindTime t{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
  return ops::PackedLocalTime(t, packed);
}

int64_t UnpackTime(uint32_t packed) {
  FindTime t{};
  if (!platform::DosTimeToFileTime(packed, &t)) return 0;
  const uint64_t ticks = (static_cast<uint64_t>(t.high) << 32) | t.low;
  return static_cast<int64_t>(ticks / kTicksPerSecond) - kEpochDelta;
}

std::string DirectoryOf(const std::string& path) {
  const size_t sep = path.find_last_of("/\\");
  if (sep == std::string::npos) return {};
  return path.substr(0, sep + 1);
}

std::string PathTooLongToRewrite(const char* for_what, size_t limit) {
  // snprintf rather than std::to_string, whose helpers a debug build would
  // otherwise export from the shared library beside the interface.
  char text[96];
  std::snprintf(text, sizeof text, "%s needs a path of at most %zu bytes", for_what, limit);
  return text;
}

}  // namespace acekit::face

using acekit::face::Handle;

extern "C" {

ACEKIT_PUBLIC const char* acekit_version(void) {
  return ACEKIT_VERSION_TEXT;
}

ACEKIT_PUBLIC const char* acekit_strerror(int code) {
  switch (code) {
    case ACEKIT_OK:
      return "success";
    case ACEKIT_E_INVALID:
      return "invalid argument";
    case ACEKIT_E_NOMEM:
      return "out of memory";
    case ACEKIT_E_OPEN:
      return "cannot open or create the file";
    case ACEKIT_E_READ:
      return "read error";
    case ACEKIT_E_WRITE:
      return "write error (disk full?)";
    case ACEKIT_E_NOT_ARCHIVE:
      return "not an archive";
    case ACEKIT_E_CORRUPT:
      return "damaged archive";
    case ACEKIT_E_CRC:
      return "checksum mismatch";
    case ACEKIT_E_ENCRYPTED:
      return "encrypted entry";
    case ACEKIT_E_UNSUPPORTED:
      return "unsupported method or archive";
    case ACEKIT_E_CANCELLED:
      return "cancelled";
    case ACEKIT_E_EXISTS:
      return "entry exists";
    case ACEKIT_E_NOT_FOUND:
      return "not found";
    case ACEKIT_E_UNSAFE:
      return "unsafe path";
    case ACEKIT_E_TOO_LARGE:
      return "too large for the archive format";
    case ACEKIT_E_READ_ONLY:
      return "archive is locked";
    default:
      return "unknown error";
  }
}

ACEKIT_PUBLIC const char* acekit_last_error(const void* handle) {
  if (handle == nullptr) return acekit::face::g_thread_error.c_str();
  const auto* h = static_cast<const Handle*>(handle);
  if (h->magic != acekit::face::kReaderMagic && h->magic != acekit::face::kWriterMagic &&
      h->magic != acekit::face::kEditorMagic) {
    return "not an acekit handle";
  }
  return h->error.c_str();
}

}  // extern "C"
