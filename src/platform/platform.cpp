// The primitives shared by both backends: the fault-checked wrappers around
// the backend calls, the heap, and the helpers built from other primitives.
#include "platform/platform.h"

#include <cstring>
#include <string>

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

Handle OpenToRead(const char* name, ReadFacts* facts) {
  *facts = ReadFacts{};
  if (name == nullptr) return kBadHandle;
  const Handle h = FaultFires(Fault::kOpen) ? kBadHandle : sys::OpenToRead(name, facts);
  if (h == kBadHandle) {
    // Whether the name is missing, a directory or a file that cannot be
    // read decides what the caller does next.
    if (facts->attributes == kNoAttributes) facts->attributes = GetAttributes(name);
    facts->time_ok = false;
    facts->size = -1;
    return kBadHandle;
  }
  if (FaultFires(Fault::kSize)) facts->size = -1;
  return h;
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

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// The part of a path that is never made: a drive, leading separators, or
// the server and share of a network path.
size_t RootLength(const std::string& p) {
  size_t i = 0;
  if (p.size() >= 2 && p[1] == ':' &&
      ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) {
    i = 2;
  }
  if (i == 0 && p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
    // \\server\share: both parts belong to the root.
    i = 2;
    for (int part = 0; part < 2; ++part) {
      while (i < p.size() && !IsSeparator(p[i])) ++i;
      if (part == 0 && i < p.size()) ++i;
    }
  }
  while (i < p.size() && IsSeparator(p[i])) ++i;
  return i;
}

std::string Join(const std::string& dir, const char* name) {
  std::string out = dir;
  if (!out.empty() && !IsSeparator(out.back())) out += '\\';
  return out += name;
}

}  // namespace

bool CreateDirChain(const char* path) {
  if (path == nullptr) return false;
  const std::string p(path);
  if (p.empty() || IsExistingDirectory(path)) return true;
  size_t i = RootLength(p);
  for (;;) {
    size_t end = i;
    while (end < p.size() && !IsSeparator(p[end])) ++end;
    if (end > i) {
      const std::string prefix = p.substr(0, end);
      if (!IsExistingDirectory(prefix.c_str()) && !CreateDir(prefix.c_str())) return false;
    }
    if (end >= p.size()) return true;
    i = end + 1;
  }
}

SafeDir::Result SafeDir::Open(const char* base, const char* below, bool create, size_t* link_end) {
  Close();
  if (base == nullptr || below == nullptr) return Result::kFailed;
  path_ = base;
  if (path_.empty()) path_ = ".";
  if (FaultFires(Fault::kOpen)) return Result::kFailed;
  Result r = sys::OpenBaseDir(path_.c_str(), &dir_);
  if (r == Result::kMissing && create) {
    if (!CreateDirChain(path_.c_str())) return Result::kFailed;
    r = sys::OpenBaseDir(path_.c_str(), &dir_);
    if (r == Result::kMissing) r = Result::kFailed;
  }
  if (r != Result::kOk) return r == Result::kMissing ? r : Result::kFailed;
  const std::string rest(below);
  size_t i = 0;
  while (i < rest.size()) {
    size_t end = i;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::string part = rest.substr(i, end - i);
    i = end + 1;
    if (part.empty()) continue;
    if (part == "." || part == "..") return Result::kFailed;
    if (FaultFires(Fault::kOpen)) return Result::kFailed;
    intptr_t next = -1;
    r = sys::OpenDirBelow(dir_, path_, part.c_str(), &next);
    if (r == Result::kMissing && create) {
      if (FaultFires(Fault::kCreateDir)) return Result::kFailed;
      // Another process making the same directory at the same moment is
      // not a failure; whatever stands there is looked at again.
      sys::MakeDirBelow(dir_, path_, part.c_str());
      r = sys::OpenDirBelow(dir_, path_, part.c_str(), &next);
      if (r == Result::kMissing) r = Result::kFailed;
    }
    if (r == Result::kLink && link_end != nullptr) *link_end = end;
    if (r != Result::kOk) return r;
    sys::CloseDir(dir_);
    dir_ = next;
    path_ = Join(path_, part.c_str());
  }
  return Result::kOk;
}

void SafeDir::Close() {
  if (dir_ != -1) sys::CloseDir(dir_);
  dir_ = -1;
  mask_ = kNoMask;
}

SafeDir::Kind SafeDir::Lookup(const char* name) const {
  return sys::LookupBelow(dir_, path_, name);
}

void SafeDir::SetAttributes(uint32_t attributes) const {
  sys::SetDirAttributes(dir_, path_, attributes);
}

void sys::RandomNamePart(char* out, size_t count, uint64_t& seed) {
  static constexpr char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (size_t k = 0; k < count; ++k) {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    out[k] = kLetters[seed % (sizeof kLetters - 1)];
  }
  out[count] = '\0';
}

Handle SafeDir::CreateTemp(char (&name)[kTempNameSize], uint32_t attributes) {
  if (FaultFires(Fault::kOpen)) return kBadHandle;
  uint64_t seed = sys::NameSeed();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::memcpy(name, ".acekit-", 8);
    sys::RandomNamePart(name + 8, kTempNameSize - 9, seed);
    const Handle h = sys::CreateFileBelow(dir_, path_, name, attributes);
    if (h != kBadHandle) return h;
    if (sys::LookupBelow(dir_, path_, name) == Kind::kNone) break;  // not a name clash
  }
  name[0] = '\0';
  return kBadHandle;
}

Handle SafeDir::CreateNew(const char* name, uint32_t attributes) {
  if (FaultFires(Fault::kOpen)) return kBadHandle;
  return sys::CreateFileBelow(dir_, path_, name, attributes);
}

void SafeDir::FinishNew(Handle h, const char* name, uint32_t attributes, uint32_t packed_time) {
  Finish(h, attributes, packed_time);
  sys::SetFileAttributesBelow(dir_, path_, name, attributes);
}

void SafeDir::Finish(Handle h, uint32_t attributes, uint32_t packed_time) {
  // Read once per folder opened: on posix it costs four calls, as many as
  // the rest of a small file's finish.
  if (mask_ == kNoMask) mask_ = sys::CreationMask();
  sys::FinishFile(h, attributes, mask_, packed_time);
}

bool SafeDir::Replace(const char* temp, const char* name, uint32_t attributes) {
  if (FaultFires(Fault::kRename)) return false;
  return sys::ReplaceBelow(dir_, path_, temp, name, attributes);
}

bool SafeDir::Remove(const char* name) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!FaultFires(Fault::kDelete) && sys::DeleteBelow(dir_, path_, name)) return true;
  }
  return false;
}

void* Alloc(size_t size) {
  if (FaultFires(Fault::kAlloc)) return nullptr;
  return sys::Alloc(size != 0 ? size : 1);
}

void* AllocZeroed(size_t size) {
  if (FaultFires(Fault::kAlloc)) return nullptr;
  return sys::AllocZeroed(size != 0 ? size : 1);
}

void BackPages(void* block, size_t from, size_t to) {
  constexpr size_t kPage = 4096;
  auto* const bytes = static_cast<uint8_t*>(block);
  // An atomic OR of zero is a write to the processor, so the page fault it
  // may take is a write fault, and it changes no byte whatever the block
  // holds (and whatever another thread is doing to it).
  for (size_t at = from; at < to; at = (at | (kPage - 1)) + 1) {
    __atomic_fetch_or(bytes + at, uint8_t{0}, __ATOMIC_RELAXED);
  }
}

void Free(void* p) {
  if (p != nullptr) sys::Free(p);
}

}  // namespace acekit::platform
