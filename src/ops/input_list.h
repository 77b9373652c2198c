// The files an operation is about to compress, and their order for solid
// archives: files that resemble each other should follow each other in one
// stream, so the list is ordered by a key derived from the extension and
// then by base name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/status.h"
#include "format/arc_state.h"

namespace acekit::ops {

// A disk path may be a working directory in front of a full stored name, so
// it gets the room of any path, more than a name the archive can hold.
inline constexpr size_t kInputPathSize = format::kPathSize;
inline constexpr size_t kInputNameSize = 256;

struct InputFile {
  char* path;                 // where the bytes are read from; the sort key
  char name[kInputNameSize];  // what the archive calls it
  InputFile* next;
  // The path's text follows in the same block, as long as it needs: a list
  // of many files does not pay for the longest path each.
};

// Owns its entries; they are released on destruction as well as by
// FreeInputFileList, so every early return of an operation cleans up.
struct InputFileList {
  int32_t count = 0;
  InputFile* first = nullptr;
  InputFile* last = nullptr;

  InputFileList() = default;
  InputFileList(const InputFileList&) = delete;
  InputFileList& operator=(const InputFileList&) = delete;
  ~InputFileList();
};

void InitInputFileList(InputFileList& list);  // forgets the entries
void FreeInputFileList(InputFileList& list);
// kOk, or kNoMemory with the list unchanged; kOpenFailed, unchanged too, for
// a path longer than a path may be. A name that does not fit is cut.
Status AppendInputFile(InputFileList& list, std::string_view path, std::string_view name);
// Orders by CompareByType; lists of fewer than three stay as they are, and
// entries that compare equal keep their order, so a solid archive built
// twice from the same files comes out the same.
void SortInputFileList(InputFileList& list);
// Negative, zero or positive as `a` sorts before, with or after `b`.
int CompareByType(const char* a, const char* b);
// Fills order[0..n) with the positions of `paths` in the order of
// CompareByType, equal ones in their given order. False, with `order` left
// as it was, when memory is short.
bool OrderByType(const char* const* paths, size_t n, size_t* order);

// The group key of an upper-cased extension (dot included; empty for none).
// Returns the key's length; the key is cut to fit `size`.
size_t GroupKey(std::string_view ext, char* out, size_t size);

}  // namespace acekit::ops
