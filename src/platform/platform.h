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
#include <string>

#include "common/host_types.h"

namespace acekit::platform {

// The longest path, in characters, that the library builds or hands to the
// system. Every buffer that holds a path has room for it and a terminator;
// a path that would be longer is refused, never cut. Windows: MAX_PATH of
// the system's ANSI file calls; posix: PATH_MAX. Both count the terminator.
#ifdef _WIN32
inline constexpr size_t kMaxPath = 260 - 1;
#else
inline constexpr size_t kMaxPath = 4096 - 1;
#endif

// Turns the separators a host of this system writes into the library's `\`,
// in place. posix hosts write `/`, which the path routines would not see as
// one; on Windows the text is left as the host gave it.
void HostSeparators(char* text);

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

// What reading a file needs to know of it: its attributes (as
// GetAttributes gives them), its packed time (time_ok false when DOS cannot
// express it, as GetPackedFileTime fails) and its size (as Size gives it).
struct ReadFacts {
  uint32_t attributes = kNoAttributes;
  uint32_t packed_time = 0;
  bool time_ok = false;
  int32_t size = -1;
};
// Opens `name` with 'r' and fills `facts` as GetAttributes, Open,
// GetPackedFileTime and Size would one after the other, in fewer system
// calls (they add up when an archive is made of many small files). A directory is not opened
// (kBadHandle, its attributes filled in); a name that cannot be opened gets the attributes
// GetAttributes gives, kNoAttributes when it is missing. Counted as an Open and, once open, as a
// Size by the fault seam (an injected Size fault leaves size -1).
Handle OpenToRead(const char* name, ReadFacts* facts);

bool CreateDir(const char* name);
// True where the system takes some names (CON, AUX, COM1, ...) for devices
// in every directory: Windows.
bool DeviceNamesReserved();
bool RemoveDir(const char* name);
// The system temporary directory, ending with `\`. False when unavailable or
// when it does not fit in size (terminator included). On posix it is $TMPDIR,
// else /tmp, written with `\` separators ("\tmp\").
bool TempPath(char* buf, size_t size);

// Makes every missing directory of `path`, absolute or relative, level by
// level (`\` and `/` both separate levels). A drive ("C:") and the server
// and share of a network path are never made. Stops at the first level that
// cannot be made, keeping the ones before; an empty path is the current
// directory and gives true.
bool CreateDirChain(const char* path);

// ---- Writing below a directory without following links -------------------
// Extraction writes only below the output directory the host named, and
// names from an archive must not be redirected by what already lies there.
// Below that base every part of a path is taken as it is on disk: a part that
// is a symbolic link (posix) or carries a reparse point (Windows) stops the
// walk and is reported instead of followed. The posix backend holds each
// directory open and works relative to it, so a link swapped in while the
// walk runs is met as a link too. Files are never written in place: new
// content goes to a temporary file beside the target, which replaces the
// target's directory entry (never what a link there points to) once it is
// complete.
//
// Opening a directory counts as an Open for fault injection, making one as a
// CreateDir, the replacement as a Rename and removing a temporary file as a
// Delete.
class SafeDir {
 public:
  enum class Result {
    kOk,
    kLink,     // a part below the base is a link
    kMissing,  // a part (or the base) does not exist; only without create
    kFailed,   // a part is not a directory, or a system call failed
  };
  enum class Kind { kNone, kFile, kDirectory, kLink, kOther };
  // ".acekit-" and six letters or digits, and the terminator.
  static constexpr size_t kTempNameSize = 15;

  SafeDir() = default;
  ~SafeDir() { Close(); }
  SafeDir(const SafeDir&) = delete;
  SafeDir& operator=(const SafeDir&) = delete;

  // Opens `base` as it is (a link in it is followed: the host chose it) and
  // then every part of `below` (split at `\` and `/`, empty parts skipped)
  // without following links. With `create`, a missing base gets every
  // missing level made and a missing part below it is made. On kLink,
  // `*link_end` is the offset in `below` where the linked part ends. A part
  // "." or ".." is refused with kFailed.
  Result Open(const char* base, const char* below, bool create, size_t* link_end = nullptr);
  void Close();
  // The opened directory's path, with `\` between the parts below the base.
  const std::string& path() const { return path_; }

  // What `name` in the directory is, not following a link.
  Kind Lookup(const char* name) const;
  // Sets the opened directory's attributes (posix keeps none on directories).
  void SetAttributes(uint32_t attributes) const;
  // Creates a new, empty temporary file for writing, exclusively, for a
  // file that is to have `attributes` (posix: made with its final mode, so
  // that the finish has no mode to set); `name` receives its name.
  // kBadHandle on failure.
  Handle CreateTemp(char (&name)[kTempNameSize], uint32_t attributes);
  // Creates `name` itself, exclusively and not through a link, for a file
  // that is to have `attributes` (made as CreateTemp makes its file).
  // kBadHandle when anything stands there or the file cannot be made.
  Handle CreateNew(const char* name, uint32_t attributes);
  // Closes `h`, made by CreateNew at `name`, and gives the file the
  // attributes and time Commit gives.
  void FinishNew(Handle h, const char* name, uint32_t attributes, uint32_t packed_time);
  // Closes `h`, gives the file the attributes an extracted file with
  // `attributes` has (posix: the mode a new file gets under the umask, write
  // bits cleared for 0x01) and the packed DOS time (0: the time stays), and
  // puts it in place of `name`, replacing what is there. `attributes` are
  // those the file was made with. A read-only file there is not replaced
  // (as on Windows). On failure the temporary file is still there.
  bool Commit(Handle h, const char* temp, const char* name, uint32_t attributes,
              uint32_t packed_time) {
    Finish(h, attributes, packed_time);
    return Replace(temp, name, attributes);
  }
  // The two halves of Commit, for a writer that works on the closed file by
  // its name before putting it in place.
  void Finish(Handle h, uint32_t attributes, uint32_t packed_time);
  bool Replace(const char* temp, const char* name, uint32_t attributes);
  // Deletes a file in the directory; tries twice.
  bool Remove(const char* name);

 private:
  static constexpr uint32_t kNoMask = UINT32_MAX;
  intptr_t dir_ = -1;  // posix: the open directory
  std::string path_;
  uint32_t mask_ = kNoMask;  // the creation mask, once a file is finished here
};

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

// ---- Rebuilding a file in place of another ------------------------------
// Who may do what with a file: on posix the permission bits (0777) and the
// owner and group, on Windows the attribute word (mode; owner and group 0).
struct FileAccess {
  uint32_t mode = 0;
  uint32_t owner = 0;
  uint32_t group = 0;
};
// The access of an existing file, a link followed. False when it cannot be
// looked at.
bool GetFileAccess(const char* name, FileAccess* out);
// The file a name stands for: a symbolic link is resolved to the absolute
// name of its final target, anything else comes back as it was given (also a
// dangling link). False only when the result does not fit in size. Windows
// gives every name back unchanged.
bool ResolveLink(const char* name, char* out, size_t size);
// Creates a file for writing that did not exist before, in `dir` (ending
// with a separator, or "" for the current directory) under `prefix`
// followed by six letters or digits; its full name goes to `name`. It never
// grants more than `access` (null: owner only) and has it from the start,
// owner and group where the process may set them, except that its owner may
// always write it, so that a failed rebuild can remove it again. Counted as
// an Open by the fault seam.
Handle CreateTempFile(const char* dir, const char* prefix, const FileAccess* access, char* name,
                      size_t size);
// Renames `from` over `to` in one step, replacing the file there, so that a
// file of that name exists at every moment (Windows: MoveFileExA, replace
// existing; a read-only target is not replaced). Then `to` gets `access`
// exactly (when given: the write bit its owner had during the rebuild may
// go). Counted as a rename by the fault seam.
bool RenameOver(const char* from, const char* to, const FileAccess* access);
// Creates a new directory only its owner may enter, named `prefix` and six
// letters or digits, in the system temporary directory; posix: $TMPDIR or
// /tmp, made like mkdtemp (mode 0700). Its name goes to `out` with `\`
// separators and no trailing one. Counted as a CreateDir by the fault seam.
bool MakeTempDir(const char* prefix, char* out, size_t size);

// ---- Memory --------------------------------------------------------------
// Heap blocks for the library's buffers and the list items shared with the
// host: the process heap on Windows (HeapAlloc), malloc on posix. A size of 0
// still gives a block. Null on failure (or an injected one).
void* Alloc(size_t size);
void* AllocZeroed(size_t size);
void Free(void* p);
// Gives every page of block[from, to) memory of its own, leaving its bytes
// as they are. For a zeroed block that is read before it is written (a
// decoder's window just ahead of the output, a coder's hash heads): a page
// first read maps the system's shared zero page, and the first write then
// replaces it, which makes the kernel interrupt every core running one of
// the process's threads to flush its TLB. With workers running, those
// interruptions cost more than the pages; a page first written costs none.
void BackPages(void* block, size_t from, size_t to);

// ---- Fault injection -----------------------------------------------------
// A test arms one primitive so that its n-th call from now fails (n >= 1),
// once; then it is disarmed again. Open and CreateTempFile fail without
// creating anything, Read/Seek return -1 without moving, Move, RenameOver,
// Delete, CreateDir and MakeTempDir return false without acting, Alloc and
// AllocZeroed (one counter) return null. Tell and the other primitives are
// not counted. Unarmed, each primitive pays one predictable branch; counting
// starts with the first ArmFault/DisarmFaults.
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
