// Helpers of the posix backend (internal).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "common/host_types.h"

namespace acekit::platform::posix {

// A library path as the system wants it: every `\` becomes `/` and a leading
// drive ("C:") is dropped, since there is one root. No length limit.
std::string NativePath(const char* name);

// Attribute word of a stat result: 0x10 directory, else 0x20; 0x01 when the
// owner write bit is clear.
uint32_t AttributesOf(const struct stat& st);

// Local DOS date and time of a moment; false when DOS cannot express it.
bool UnixToDos(time_t t, uint16_t* dos_date, uint16_t* dos_time);
// The moment of a local DOS date and time; false when the fields are invalid.
bool DosToUnix(uint16_t dos_date, uint16_t dos_time, time_t* t);
// Sets the last-write time of an open file to a local DOS date and time,
// leaving its access time: 0 or an error code.
int SetDosWriteTime(int fd, uint16_t dos_date, uint16_t dos_time);

FindTime UnixToFileTime(int64_t seconds, int64_t nanoseconds);

}  // namespace acekit::platform::posix
