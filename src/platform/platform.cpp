// The primitives shared by both backends: the fault-checked wrappers around
// the backend calls, the heap, and the helpers built from other primitives.
#include "platform/platform.h"

#include "platform/backend.h"
#include "platform/fault.h"

namespace acekit::platform {

using detail::FaultFires;

Handle Open(const char* name, char mode) {
  if (name == nullptr) return kBadHandle;
  if (mode != 'b' && mode != 'r' && mode != 'v' && mode != 'w') return kBadHandle;
  if (FaultFires(Fault::kOpen)) return kBadHandle;
  return sys::Open(name, mode);
}

int32_t Read(void* buf, uint32_t count, Handle h) {
  if (FaultFires(Fault::kRead)) return -1;
  return sys::Read(buf, count, h);
}

int32_t Write(const void* buf, uint32_t count, Handle h) {
  // The injected fault is a short write: half of what was asked is stored.
  if (FaultFires(Fault::kWrite)) count /= 2;
  return sys::Write(buf, count, h);
}

int32_t Seek(Handle h, int32_t offset, int origin) {
  if (origin < 0 || origin > 2) return -1;
  if (FaultFires(Fault::kSeek)) return -1;
  return sys::Seek(h, offset, origin);
}

int32_t Size(Handle h) {
  if (FaultFires(Fault::kSize)) return -1;
  return sys::Size(h);
}

bool Delete(const char* name) {
  if (name == nullptr) return false;
  if (FaultFires(Fault::kDelete)) return false;
  return sys::Delete(name);
}

bool Move(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  if (FaultFires(Fault::kRename)) return false;
  return sys::Move(from, to);
}

bool CreateDir(const char* name) {
  if (name == nullptr) return false;
  if (FaultFires(Fault::kCreateDir)) return false;
  return sys::CreateDir(name);
}

Handle CreateTempFile(const char* dir, const char* prefix, const FileAccess* access, char* name,
                      size_t size) {
  if (dir == nullptr || prefix == nullptr || name == nullptr || size == 0) return kBadHandle;
  name[0] = '\0';
  if (FaultFires(Fault::kOpen)) return kBadHandle;
  return sys::CreateTempFile(dir, prefix, access, name, size);
}

bool RenameOver(const char* from, const char* to, const FileAccess* access) {
  if (from == nullptr || to == nullptr) return false;
  if (FaultFires(Fault::kRename)) return false;
  return sys::RenameOver(from, to, access);
}

bool MakeTempDir(const char* prefix, char* out, size_t size) {
  if (prefix == nullptr || out == nullptr || size == 0) return false;
  out[0] = '\0';
  if (FaultFires(Fault::kCreateDir)) return false;
  return sys::MakeTempDir(prefix, out, size);
}

bool IsExistingFile(const char* name) {
  const uint32_t a = GetAttributes(name);
  return a != kNoAttributes && (a & kAttrDirectory) == 0;
}

bool IsExistingDirectory(const char* name) {
  const uint32_t a = GetAttributes(name);
  return a != kNoAttributes && (a & kAttrDirectory) != 0;
}

void MakeReplaceable(const char* name) {
  if (IsExistingFile(name)) SetAttributes(name, kAttrArchive);
}

int GetPackedFileTime(Handle h, uint32_t* packed) {
  uint16_t date = 0;
  uint16_t time = 0;
  if (GetFileTime(h, &date, &time) != 0) return -1;
  if (packed != nullptr) *packed = (static_cast<uint32_t>(date) << 16) | time;
  return 0;
}

int SetPackedFileTime(Handle h, uint32_t packed) {
  return SetFileTime(h, static_cast<uint16_t>(packed >> 16), static_cast<uint16_t>(packed)) == 0
             ? 0
             : -1;
}

void* Alloc(size_t size) {
  if (FaultFires(Fault::kAlloc)) return nullptr;
  return sys::Alloc(size != 0 ? size : 1);
}

void* AllocZeroed(size_t size) {
  if (FaultFires(Fault::kAlloc)) return nullptr;
  return sys::AllocZeroed(size != 0 ? size : 1);
}

void Free(void* p) {
  if (p != nullptr) sys::Free(p);
}

}  // namespace acekit::platform
