// win32 backend: DOS dates and times (local) over the kernel32 time calls.
#include "platform/win32/win.h"

namespace acekit::platform {

using win32::ToHandle;

namespace {

// The system's last error, never 0: a call that fails without setting one
// must still read as a failure to the caller.
int LastError() {
  const DWORD e = GetLastError();
  return e != 0 ? static_cast<int>(e) : ERROR_INVALID_PARAMETER;
}

FILETIME ToFileTime(const FindTime& t) {
  FILETIME ft;
  ft.dwLowDateTime = t.low;
  ft.dwHighDateTime = t.high;
  return ft;
}

}  // namespace

int GetFileTime(Handle h, uint16_t* dos_date, uint16_t* dos_time) {
  FILETIME utc;
  FILETIME local;
  WORD date = 0;
  WORD time = 0;
  if (!::GetFileTime(ToHandle(h), nullptr, nullptr, &utc)) return LastError();
  if (!FileTimeToLocalFileTime(&utc, &local)) return LastError();
  if (!FileTimeToDosDateTime(&local, &date, &time)) return LastError();
  if (dos_date != nullptr) *dos_date = date;
  if (dos_time != nullptr) *dos_time = time;
  return 0;
}

int SetFileTime(Handle h, uint16_t dos_date, uint16_t dos_time) {
  FILETIME local;
  FILETIME utc;
  SetLastError(NO_ERROR);
  if (!DosDateTimeToFileTime(dos_date, dos_time, &local)) return LastError();
  LocalFileTimeToFileTime(&local, &utc);  // not checked, as the original does
  if (!::SetFileTime(ToHandle(h), nullptr, nullptr, &utc)) return LastError();
  return 0;
}

void CurrentPackedTime(uint32_t* packed) {
  if (packed == nullptr) return;
  SYSTEMTIME st;
  FILETIME utc;
  FILETIME local;
  WORD date = 0x21;  // 1 January 1980, should a step fail
  WORD time = 0;
  GetSystemTime(&st);
  if (SystemTimeToFileTime(&st, &utc) && FileTimeToLocalFileTime(&utc, &local)) {
    FileTimeToDosDateTime(&local, &date, &time);
  }
  *packed = (static_cast<uint32_t>(date) << 16) | time;
}

bool DosTimeToFileTime(uint32_t packed, FindTime* out) {
  FILETIME local;
  FILETIME utc;
  if (!DosDateTimeToFileTime(static_cast<WORD>(packed >> 16), static_cast<WORD>(packed), &local)) {
    return false;
  }
  if (!LocalFileTimeToFileTime(&local, &utc)) return false;
  if (out != nullptr) *out = FindTime{utc.dwLowDateTime, utc.dwHighDateTime};
  return true;
}

bool FileTimeToDosTime(const FindTime& time, uint32_t* packed) {
  const FILETIME utc = ToFileTime(time);
  FILETIME local;
  WORD d = 0;
  WORD t = 0;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &d, &t)) {
    return false;
  }
  if (packed != nullptr) *packed = (static_cast<uint32_t>(d) << 16) | t;
  return true;
}

}  // namespace acekit::platform
