// What the common code of the platform layer asks of a backend (internal).
// The public primitives that can be made to fail (platform.cpp) check the
// fault seam and then call these; every other public primitive is defined by
// the backend itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace acekit::platform::sys {

Handle Open(const char* name, char mode);  // mode is one of b, r, v, w
int32_t Read(void* buf, uint32_t count, Handle h);
int32_t Write(const void* buf, uint32_t count, Handle h);
int32_t Seek(Handle h, int32_t offset, int origin);  // origin is 0, 1 or 2
int32_t Size(Handle h);
bool Delete(const char* name);
bool Move(const char* from, const char* to);
bool CreateDir(const char* name);
Handle CreateTempFile(const char* dir, const char* prefix, const FileAccess* access, char* name,
                      size_t size);
bool RenameOver(const char* from, const char* to, const FileAccess* access);
bool MakeTempDir(const char* prefix, char* out, size_t size);
// Heap blocks (the process heap on Windows, so that a block handed to the
// host can be released by it); size is at least 1.
void* Alloc(size_t size);
void* AllocZeroed(size_t size);
void Free(void* p);

}  // namespace acekit::platform::sys
