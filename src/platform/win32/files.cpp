// win32 backend: files, directories and attributes over kernel32.
#include <cstring>

#include "platform/backend.h"
#include "platform/win32/win.h"

namespace acekit::platform {

using win32::ToHandle;

namespace {

// A 32-bit result of SetFilePointer or GetFileSize: all ones is a failure
// only when the system's last error says so.
int32_t Checked(DWORD r) {
  if (r == 0xFFFFFFFFu && GetLastError() != NO_ERROR) return -1;
  return static_cast<int32_t>(r);
}

}  // namespace

namespace sys {

Handle Open(const char* name, char mode) {
  DWORD access = 0;
  DWORD share = 0;
  DWORD disposition = 0;
  switch (mode) {
    case 'b':
      access = GENERIC_READ | GENERIC_WRITE;  // 0xC0000000
      share = FILE_SHARE_READ | FILE_SHARE_WRITE;
      disposition = CREATE_ALWAYS;
      break;
    case 'r':
      access = GENERIC_READ;
      share = FILE_SHARE_READ;
      disposition = OPEN_EXISTING;
      break;
    case 'v':
      access = GENERIC_WRITE;
      share = FILE_SHARE_READ;
      disposition = OPEN_EXISTING;
      break;
    case 'w':
      access = GENERIC_WRITE;
      share = FILE_SHARE_READ;
      disposition = CREATE_ALWAYS;
      break;
    default:
      return kBadHandle;
  }
  const HANDLE h =
      CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  return h == INVALID_HANDLE_VALUE ? kBadHandle : reinterpret_cast<Handle>(h);
}

int32_t Read(void* buf, uint32_t count, Handle h) {
  DWORD n = 0;
  if (!ReadFile(ToHandle(h), buf, count, &n, nullptr)) return -1;
  return static_cast<int32_t>(n);
}

int32_t Write(const void* buf, uint32_t count, Handle h) {
  DWORD n = 0;
  if (!WriteFile(ToHandle(h), buf, count, &n, nullptr)) return -1;
  return static_cast<int32_t>(n);
}

int32_t Seek(Handle h, int32_t offset, int origin) {
  static constexpr DWORD kMethod[3] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
  SetLastError(NO_ERROR);
  return Checked(SetFilePointer(ToHandle(h), offset, nullptr, kMethod[origin]));
}

bool Delete(const char* name) {
  return DeleteFileA(name) != 0;
}

bool Move(const char* from, const char* to) {
  return MoveFileA(from, to) != 0;
}

bool CreateDir(const char* name) {
  return CreateDirectoryA(name, nullptr) != 0;
}

void* Alloc(size_t size) {
  return HeapAlloc(GetProcessHeap(), 0, size);
}

void* AllocZeroed(size_t size) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void Free(void* p) {
  HeapFree(GetProcessHeap(), 0, p);
}

}  // namespace sys

int Close(Handle h) {
  if (h == kBadHandle || h == 0) return 0;
  return CloseHandle(ToHandle(h)) ? 1 : 0;
}

int32_t Tell(Handle h) {
  SetLastError(NO_ERROR);
  return Checked(SetFilePointer(ToHandle(h), 0, nullptr, FILE_CURRENT));
}

int32_t sys::Size(Handle h) {
  SetLastError(NO_ERROR);
  return Checked(GetFileSize(ToHandle(h), nullptr));
}

Handle sys::OpenToRead(const char* name, ReadFacts* facts) {
  // Opening a directory fails here, so the attributes come first.
  facts->attributes = GetAttributes(name);
  if (facts->attributes == kNoAttributes || (facts->attributes & kAttrDirectory) != 0) {
    return kBadHandle;
  }
  const Handle h = sys::Open(name, 'r');
  if (h == kBadHandle) return kBadHandle;
  facts->time_ok = GetPackedFileTime(h, &facts->packed_time) == 0;
  facts->size = sys::Size(h);
  return h;
}

bool Truncate(Handle h) {
  return SetEndOfFile(ToHandle(h)) != 0;
}

uint32_t GetAttributes(const char* name) {
  if (name == nullptr) return kNoAttributes;
  return GetFileAttributesA(name);  // INVALID_FILE_ATTRIBUTES is kNoAttributes
}

int SetAttributes(const char* name, uint32_t attributes) {
  if (name == nullptr) return ERROR_INVALID_PARAMETER;
  if (SetFileAttributesA(name, attributes)) return 0;
  const DWORD e = GetLastError();
  return e != 0 ? static_cast<int>(e) : ERROR_INVALID_PARAMETER;
}

bool DeviceNamesReserved() {
  return true;
}

bool RemoveDir(const char* name) {
  return name != nullptr && RemoveDirectoryA(name) != 0;
}

void HostSeparators(char*) {}

bool TempPath(char* buf, size_t size) {
  if (buf == nullptr || size == 0) return false;
  const DWORD cap = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(size);
  const DWORD r = GetTempPathA(cap, buf);
  if (r == 0 || r >= cap) {
    buf[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace acekit::platform
