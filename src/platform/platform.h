// File, directory, time and code-page primitives. Everything the library does
// to the file system goes through here; the posix and win32 backends
// implement the same contract.
//
// Conventions kept from the archive world the library serves: offsets and
// sizes are 32-bit, a failed call returns -1 (or a system error code where
// said), names use `\` between parts (the posix backend turns them into `/`
// and drops a drive prefix before each system call), and DOS times are local.
#pragma once

#include <cstddef>
#include <cstdint>

#include "api/exports.h"

namespace acekit::platform {

using Handle = intptr_t;
inline constexpr Handle kBadHandle = -1;

// ---- Files ---------------------------------------------------------------
// mode: 'r' read existing, 'w' create/truncate for writing, 'v' write
// existing, 'b' create read/write. Any other letter fails and creates nothing.
Handle Open(const char* name, char mode);
int Close(Handle h);                                   // 1 closed, 0 not
int32_t Read(void* buf, uint32_t count, Handle h);     // bytes, 0 at end, -1 error
int32_t Write(const void* buf, uint32_t count, Handle h);  // bytes written, -1 error
int32_t Seek(Handle h, int32_t offset, int origin);    // new position or -1
int32_t Tell(Handle h);
int32_t Size(Handle h);                                // low 32 bits, or -1
bool Truncate(Handle h);                               // cut the file at the current position

bool Delete(const char* name);
bool Move(const char* from, const char* to);           // rename; fails if target exists
bool IsExistingFile(const char* name);
bool IsExistingDirectory(const char* name);
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kNoAttributes = 0xFFFFFFFFu;
uint32_t GetAttributes(const char* name);              // kNoAttributes on failure
int SetAttributes(const char* name, uint32_t attributes);  // 0 or system error
void MakeReplaceable(const char* name);

bool CreateDir(const char* name);
bool RemoveDir(const char* name);
// The system temporary directory, ending with `\`. False when unavailable.
bool TempPath(char* buf, size_t size);

// ---- Times ---------------------------------------------------------------
// Packed DOS time: DOS time in the low 16 bits, DOS date in the high 16 bits.
int GetFileTime(Handle h, uint16_t* dos_date, uint16_t* dos_time);  // 0 or error code
int GetPackedFileTime(Handle h, uint32_t* packed);                  // 0 or -1
int SetFileTime(Handle h, uint16_t dos_date, uint16_t dos_time);    // 0 or error code
int SetPackedFileTime(Handle h, uint32_t packed);                   // 0 or -1
void CurrentPackedTime(uint32_t* packed);
// DOS date/time (local) to a FILETIME-style UTC value (100 ns since 1601).
bool DosTimeToFileTime(uint32_t packed, FindTime* out);

// ---- Directory listing ---------------------------------------------------
// Behaves like find-first/find-next: the pattern's last part may hold `*` and
// `?`; "*.*" matches every name, names without a dot included. The entries
// "." and ".." are reported like the system reports them.
using FindHandle = intptr_t;
inline constexpr FindHandle kBadFind = -1;
FindHandle FindFirst(const char* pattern, FindData* out);
bool FindNext(FindHandle h, FindData* out);
void FindClose(FindHandle h);

// ---- Code pages ----------------------------------------------------------
// "ANSI" is the system code page (UTF-8 on posix); "OEM" is CP437 on posix.
// Both convert in place or into dst; dst_size includes the terminator and
// the result is always terminated and never longer than dst_size - 1.
void CharToOem(const char* src, char* dst, size_t dst_size);
void OemToChar(const char* src, char* dst, size_t dst_size);
void CharUpper(char* text);  // in place

// ---- Memory --------------------------------------------------------------
// Heap blocks for the library's buffers. Null on failure (or an injected one).
void* Alloc(size_t size);
void* AllocZeroed(size_t size);
void Free(void* p);

// ---- Fault injection -----------------------------------------------------
// A test arms one primitive so that its n-th call from now fails (n >= 1).
// Unarmed, each primitive pays one predictable branch.
enum class Fault : int {
  kOpen,
  kRead,
  kWrite,  // the write stores half of what was asked (a short write)
  kSeek,
  kRename,
  kDelete,
  kCreateDir,
  kAlloc,
  kCount
};
void ArmFault(Fault which, uint32_t nth);
void DisarmFaults();
// Calls of a primitive since the last DisarmFaults(), to size a sweep.
uint32_t FaultCalls(Fault which);

}  // namespace acekit::platform
