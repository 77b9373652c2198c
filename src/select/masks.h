// Mask lists: the host's way of naming files. Each mask is kept split into
// directory, file name and extension, and matched part by part.
//
// The matching rule is narrower than a shell's: `*` means "anything" only as
// the first character of the name or extension part (what follows it is not
// looked at) and is an ordinary character elsewhere; `?` is exactly one
// character; case is ignored. A mask without a directory matches only names
// without one, except that an all-files mask (name and extension both
// starting with `*`) reaches into subdirectories as described at MatchMask.
#pragma once

#include <cstdint>

#include "common/host_types.h"
#include "format/arc_state.h"
#include "format/entry_list.h"

namespace acekit::select {

void InitMaskList(FileMaskList* list);

// Splits `mask` (`/` counts as `\`) and appends it. Returns nonzero on
// success; 0 when memory runs out, after storing 8 in the status when the
// directory text could not be allocated; 0 with status 5 when the mask is
// longer than a path or its name or extension longer than 255 characters
// (an item is never cut into the name of another file). Items appended
// before stay.
int32_t AppendMask(format::ArcState& st, const char* mask, FileMaskList* list);

// Releases every item and its directory text; the head becomes empty.
void DoneMaskList(FileMaskList* list);

// A mask list released on every way out.
class MaskList {
 public:
  MaskList() { InitMaskList(&list_); }
  ~MaskList() { DoneMaskList(&list_); }
  MaskList(const MaskList&) = delete;
  MaskList& operator=(const MaskList&) = delete;
  FileMaskList* get() { return &list_; }

 private:
  FileMaskList list_{};
};

// One item against one name. An all-files mask with an empty directory
// matches every name; with a directory D it matches a name whose directory
// contains D, provided D's last character also stands at the same position
// of the name's directory (so DOCS\*.* reaches DOCS\SUB\ and X\DOCS\, but not
// XDOCS\). Every other mask needs the directories to be equal.
bool MatchMask(const char* name, const FileMask& mask);

// True when the list is empty or any item matches.
bool MatchMaskList(const char* name, const FileMaskList* list);

// The selection of the entry walk by a mask list.
format::EntryFilter MaskFilter(const FileMaskList* list);

}  // namespace acekit::select
