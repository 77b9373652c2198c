// posix backend: DOS dates and times (local time) and file times.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix/native.h"

namespace acekit::platform {

namespace {

// Seconds from 1 January 1601 (the FILETIME epoch) to 1 January 1970.
constexpr int64_t kEpochDelta = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

int FdOf(Handle h) {
  return (h < 0 || h > 0x7FFFFFFF) ? -1 : static_cast<int>(h);
}

bool IsLeap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

int64_t FileTimeToUnix(const FindTime& ft, int64_t* nanoseconds) {
  const uint64_t ticks = (static_cast<uint64_t>(ft.high) << 32) | ft.low;
  const auto t = static_cast<int64_t>(ticks / kTicksPerSecond) - kEpochDelta;
  if (nanoseconds != nullptr) *nanoseconds = static_cast<int64_t>(ticks % kTicksPerSecond) * 100;
  return t;
}

}  // namespace

namespace posix {

bool UnixToDos(time_t t, uint16_t* dos_date, uint16_t* dos_time) {
  struct tm lt;
  if (::localtime_r(&t, &lt) == nullptr) return false;
  const int year = lt.tm_year + 1900;
  if (year < 1980 || year > 2107) return false;
  const int sec = lt.tm_sec > 59 ? 59 : lt.tm_sec;  // a leap second
  *dos_date = static_cast<uint16_t>(((year - 1980) << 9) | ((lt.tm_mon + 1) << 5) | lt.tm_mday);
  *dos_time = static_cast<uint16_t>((lt.tm_hour << 11) | (lt.tm_min << 5) | (sec / 2));
  return true;
}

// The local offset from UTC, in seconds, in force at `t`.
bool OffsetAt(time_t t, long* offset) {
  struct tm lt;
  if (::localtime_r(&t, &lt) == nullptr) return false;
  *offset = lt.tm_gmtoff;
  return true;
}

// Not mktime: it looks the zone file up again on every call, one more
// system call for each file an extraction writes, where localtime_r reads
// the zone once (and again after the host calls tzset). The local fields
// are read as UTC and shifted back by the offset in force; a second step
// settles a switch to or from summer time between the two instants. A time
// in the hour a switch skips or repeats takes one of the two offsets around
// it, as mktime also picks one.
bool DosToUnix(uint16_t dos_date, uint16_t dos_time, time_t* t) {
  const int year = 1980 + (dos_date >> 9);
  const int month = (dos_date >> 5) & 0x0F;
  const int day = dos_date & 0x1F;
  const int hour = dos_time >> 11;
  const int minute = (dos_time >> 5) & 0x3F;
  const int second = (dos_time & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return false;
  }
  struct tm fields = {};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  const time_t as_utc = ::timegm(&fields);
  if (as_utc == static_cast<time_t>(-1)) return false;
  // In 64 bits: a 32-bit clock near its end must not wrap.
  const auto shifted = [as_utc](long offset, time_t* out) {
    const int64_t v = static_cast<int64_t>(as_utc) - offset;
    *out = static_cast<time_t>(v);
    return static_cast<int64_t>(*out) == v;
  };
  long first = 0;
  long second_offset = 0;
  time_t guess = 0;
  return OffsetAt(as_utc, &first) && shifted(first, &guess) && OffsetAt(guess, &second_offset) &&
         shifted(second_offset, t);
}

int SetDosWriteTime(int fd, uint16_t dos_date, uint16_t dos_time) {
  time_t t = 0;
  if (!DosToUnix(dos_date, dos_time, &t)) return EINVAL;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // access time stays
  times[1].tv_sec = t;
  times[1].tv_nsec = 0;
  return ::futimens(fd, times) == 0 ? 0 : errno;
}

FindTime UnixToFileTime(int64_t seconds, int64_t nanoseconds) {
  int64_t ticks = (seconds + kEpochDelta) * kTicksPerSecond + nanoseconds / 100;
  if (ticks < 0) ticks = 0;
  const auto u = static_cast<uint64_t>(ticks);
  return FindTime{static_cast<uint32_t>(u), static_cast<uint32_t>(u >> 32)};
}

}  // namespace posix

int GetFileTime(Handle h, uint16_t* dos_date, uint16_t* dos_time) {
  const int fd = FdOf(h);
  if (fd < 0) return EBADF;
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  uint16_t date = 0;
  uint16_t time = 0;
  if (!posix::UnixToDos(st.st_mtime, &date, &time)) return EINVAL;
  if (dos_date != nullptr) *dos_date = date;
  if (dos_time != nullptr) *dos_time = time;
  return 0;
}

int SetFileTime(Handle h, uint16_t dos_date, uint16_t dos_time) {
  const int fd = FdOf(h);
  if (fd < 0) return EBADF;
  // Like the Windows call, a handle opened for reading only may not change
  // the file's times.
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0) return errno;
  if ((fl & O_ACCMODE) == O_RDONLY) return EACCES;
  return posix::SetDosWriteTime(fd, dos_date, dos_time);
}

void CurrentPackedTime(uint32_t* packed) {
  if (packed == nullptr) return;
  uint16_t date = 0;
  uint16_t time = 0;
  if (!posix::UnixToDos(::time(nullptr), &date, &time)) {
    date = 0x21;  // 1 January 1980, should the clock be far off
    time = 0;
  }
  *packed = (static_cast<uint32_t>(date) << 16) | time;
}

bool DosTimeToFileTime(uint32_t packed, FindTime* out) {
  time_t t = 0;
  if (!posix::DosToUnix(static_cast<uint16_t>(packed >> 16), static_cast<uint16_t>(packed), &t)) {
    return false;
  }
  if (out != nullptr) *out = posix::UnixToFileTime(t, 0);
  return true;
}

bool FileTimeToDosTime(const FindTime& time, uint32_t* packed) {
  const int64_t seconds = FileTimeToUnix(time, nullptr);
  uint16_t d = 0;
  uint16_t t = 0;
  if (!posix::UnixToDos(static_cast<time_t>(seconds), &d, &t)) return false;
  if (packed != nullptr) *packed = (static_cast<uint32_t>(d) << 16) | t;
  return true;
}

}  // namespace acekit::platform
