// win32 backend: directory listing over FindFirstFileA/FindNextFileA.
#include <cstring>

#include "platform/win32/win.h"

namespace acekit::platform {

namespace {

void Fill(const WIN32_FIND_DATAA& w, FindData* out) {
  if (out == nullptr) return;
  std::memset(out, 0, sizeof(*out));
  out->attributes = w.dwFileAttributes;
  out->creation_time = FindTime{w.ftCreationTime.dwLowDateTime, w.ftCreationTime.dwHighDateTime};
  out->last_access_time =
      FindTime{w.ftLastAccessTime.dwLowDateTime, w.ftLastAccessTime.dwHighDateTime};
  out->last_write_time =
      FindTime{w.ftLastWriteTime.dwLowDateTime, w.ftLastWriteTime.dwHighDateTime};
  out->size_high = w.nFileSizeHigh;
  out->size_low = w.nFileSizeLow;
  out->reserved0 = w.dwReserved0;
  out->reserved1 = w.dwReserved1;
  static_assert(sizeof(out->name) == sizeof(w.cFileName));
  static_assert(sizeof(out->short_name) == sizeof(w.cAlternateFileName));
  std::memcpy(out->name, w.cFileName, sizeof(out->name));
  out->name[sizeof(out->name) - 1] = '\0';
  std::memcpy(out->short_name, w.cAlternateFileName, sizeof(out->short_name));
  out->short_name[sizeof(out->short_name) - 1] = '\0';
}

}  // namespace

FindHandle FindFirst(const char* pattern, FindData* out) {
  if (pattern == nullptr) return kBadFind;
  WIN32_FIND_DATAA w;
  const HANDLE h = FindFirstFileA(pattern, &w);
  if (h == INVALID_HANDLE_VALUE) return kBadFind;
  Fill(w, out);
  return reinterpret_cast<FindHandle>(h);
}

bool FindNext(FindHandle h, FindData* out) {
  if (h == kBadFind || h == 0) return false;
  WIN32_FIND_DATAA w;
  if (!FindNextFileA(reinterpret_cast<HANDLE>(h), &w)) return false;
  Fill(w, out);
  return true;
}

void FindClose(FindHandle h) {
  if (h == kBadFind || h == 0) return;
  ::FindClose(reinterpret_cast<HANDLE>(h));
}

}  // namespace acekit::platform
