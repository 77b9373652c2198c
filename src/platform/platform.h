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

#include "common/host_types.h"

namespace acekit::platform {

using Handle = intptr_t;
inline constexpr Handle kBadHandle = -1;

// ---- Files ---------------------------------------------------------------
// mode: 'r' read existing, 'w' create/truncate for writing, 'v' write
// existing, 'b' create read/write. Any other letter fails and creates nothing.
// A directory cannot be opened. As on Windows, a read-only file (0x01; on
// posix: owner write bit clear) cannot be opened for writing nor deleted, and
// the times of a file opened with 'r' cannot be set; posix enforces this for
// root too.
Handle Open(const char* name, char mode);
int Close(Handle h);                                       // 1 closed, 0 not
int32_t Read(void* buf, uint32_t count, Handle h);         // bytes, 0 at end, -1 error
int32_t Write(const void* buf, uint32_t count, Handle h);  // bytes written, -1 error
int32_t Seek(Handle h, int32_t offset, int origin);        // new position or -1
int32_t Tell(Handle h);
int32_t Size(Handle h);   // low 32 bits, or -1
bool Truncate(Handle h);  // cut the file at the current position

bool Delete(const char* name);
bool Move(const char* from, const char* to);  // rename; fails if target exists
bool IsExistingFile(const char* name);
bool IsExistingDirectory(const char* name);
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kNoAttributes = 0xFFFFFFFFu;
// posix: 0x10 for a directory, else 0x20, plus 0x01 when the owner write bit
// is clear. Setting 0x01 on a file clears its write bits, setting without it
// gives the owner write back; other bits, and 0x01 on a directory, are not
// kept (a directory's read-only mark would keep files out of it on posix).
uint32_t GetAttributes(const char* name);                  // kNoAttributes on failure
int SetAttributes(const char* name, uint32_t attributes);  // 0 or system error
// Sets a file's attributes to 0x20 alone; a directory or a missing name is
// left as it is.
void MakeReplaceable(const char* name);

bool CreateDir(const char* name);
bool RemoveDir(const char* name);
// The system temporary directory, ending with `\`. False when unavailable or
// when it does not fit in size (terminator included). On posix it is $TMPDIR,
// else /tmp, written with `\` separators ("\tmp\").
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
// A FILETIME-style UTC value to a packed local DOS date and time (as a
// directory's header packs its listing's creation time). False when DOS
// cannot express it (before 1980 or after 2107).
bool FileTimeToDosTime(const FindTime& time, uint32_t* packed);

// ---- Directory listing ---------------------------------------------------
// Behaves like find-first/find-next: the pattern's last part may hold `*` and
// `?`; "*.*" matches every name, names without a dot included. The entries
// "." and ".." are reported like the system reports them (first, in every
// directory but the root). A last part without wildcards names one entry.
// posix: letters match regardless of ASCII case, entries come in case-blind
// name order, the creation time is the birth time where the file system keeps
// one (else the last-write time), and a dangling link is listed as itself.
using FindHandle = intptr_t;
inline constexpr FindHandle kBadFind = -1;
FindHandle FindFirst(const char* pattern, FindData* out);
bool FindNext(FindHandle h, FindData* out);
void FindClose(FindHandle h);

// ---- Code pages ----------------------------------------------------------
// "ANSI" is the system code page (UTF-8 on posix); "OEM" is CP437 on posix.
// (<windows.h> defines CharToOem, OemToChar and CharUpper as macros: a file
// that includes it must #undef them before calling these.)
// Both convert in place or into dst; dst_size includes the terminator and
// the result is always terminated and never longer than dst_size - 1.
void CharToOem(const char* src, char* dst, size_t dst_size);
void OemToChar(const char* src, char* dst, size_t dst_size);
void CharUpper(char* text);  // in place

// ---- Memory --------------------------------------------------------------
// Heap blocks for the library's buffers and the list items shared with the
// host: the process heap on Windows (HeapAlloc), malloc on posix. A size of 0
// still gives a block. Null on failure (or an injected one).
void* Alloc(size_t size);
void* AllocZeroed(size_t size);
void Free(void* p);

// ---- Fault injection -----------------------------------------------------
// A test arms one primitive so that its n-th call from now fails (n >= 1),
// once; then it is disarmed again. Open fails without creating anything,
// Read/Seek return -1 without moving, Move/Delete/CreateDir return false
// without acting, Alloc and AllocZeroed (one counter) return null. Tell and
// the other primitives are not counted. Unarmed, each primitive pays one
// predictable branch; counting starts with the first ArmFault/DisarmFaults.
enum class Fault : int {
  kOpen,
  kRead,
  kWrite,  // the write stores half of what was asked (a short write)
  kSeek,
  kRename,
  kDelete,
  kCreateDir,
  kAlloc,
  kSize,  // the file size cannot be read
  kCount
};
void ArmFault(Fault which, uint32_t nth);
void DisarmFaults();
// Calls of a primitive since the last DisarmFaults(), to size a sweep.
uint32_t FaultCalls(Fault which);

}  // namespace acekit::platform
