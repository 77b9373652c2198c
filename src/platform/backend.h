// What the common code of the platform layer asks of a backend (internal).
// The public primitives that can be made to fail (platform.cpp) check the
// fault seam and then call these; every other public primitive is defined by
// the backend itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace acekit::platform::sys {

Handle Open(const char* name, char mode);  // mode is one of b, r, v, w
int32_t Read(void* buf, uint32_t count, Handle h);
int32_t Write(const void* buf, uint32_t count, Handle h);
int32_t Seek(Handle h, int32_t offset, int origin);  // origin is 0, 1 or 2
int32_t Size(Handle h);
// Open(name, 'r') with what OpenToRead reports (see platform.h); on failure
// the attributes are filled in only where they came with the attempt.
Handle OpenToRead(const char* name, ReadFacts* facts);
bool Delete(const char* name);
bool Move(const char* from, const char* to);
bool CreateDir(const char* name);
Handle CreateTempFile(const char* dir, const char* prefix, const FileAccess* access, char* name,
                      size_t size);
bool RenameOver(const char* from, const char* to, const FileAccess* access);
bool MakeTempDir(const char* prefix, char* out, size_t size);
// The parts of SafeDir (see platform.h). `dir` and `path` are the opened
// directory (posix: its descriptor; Windows: -1 and the path alone); `name`
// is one part, never "." nor "..".
SafeDir::Result OpenBaseDir(const char* path, intptr_t* dir);
SafeDir::Result OpenDirBelow(intptr_t dir, const std::string& path, const char* name,
                             intptr_t* out);
bool MakeDirBelow(intptr_t dir, const std::string& path, const char* name);
void CloseDir(intptr_t dir);
SafeDir::Kind LookupBelow(intptr_t dir, const std::string& path, const char* name);
void SetDirAttributes(intptr_t dir, const std::string& path, uint32_t attributes);
// Creates `name` exclusively for writing (posix: with the mode a file with
// `attributes` ends up with, before the mask); kBadHandle when it exists or
// cannot be made.
Handle CreateFileBelow(intptr_t dir, const std::string& path, const char* name,
                       uint32_t attributes);
// The mask new files are made under (posix: the umask; 0 where the system
// has none), read without changing it.
uint32_t CreationMask();
// Closes `h`, made with the same `attributes`, and gives the file its final
// attributes where the system sets them through the handle (posix: the mode
// under `mask`), and first the packed DOS time unless it is 0.
void FinishFile(Handle h, uint32_t attributes, uint32_t mask, uint32_t packed_time);
// Renames `from` over `to`, both in the directory; then sets `attributes`
// where the system sets them by name (Windows).
bool ReplaceBelow(intptr_t dir, const std::string& path, const char* from, const char* to,
                  uint32_t attributes);
// Sets `attributes` on a finished file where the system sets them by name
// (Windows); nothing where FinishFile has set them (posix).
void SetFileAttributesBelow(intptr_t dir, const std::string& path, const char* name,
                            uint32_t attributes);
bool DeleteBelow(intptr_t dir, const std::string& path, const char* name);
// A few bytes that differ from call to call and from process to process.
uint64_t NameSeed();
// Writes `count` characters of [0-9a-z] drawn from `seed`, which it advances,
// and a terminating zero: the varying part of every temporary name. One
// case only, so that a name differs from another on every file system.
void RandomNamePart(char* out, size_t count, uint64_t& seed);

// Heap blocks (the process heap on Windows, so that a block handed to the
// host can be released by it); size is at least 1.
void* Alloc(size_t size);
void* AllocZeroed(size_t size);
void Free(void* p);

}  // namespace acekit::platform::sys
