// The entry list: one record per header of the archive, in file order,
// filtered by a selection the caller supplies. The walk starts at the first
// entry offset of ArcState and ends at the end of the file; it trusts
// HEAD_SIZE and PACK_SIZE to find the next header and does not test
// checksums.
#pragma once

#include <cstdint>

#include "common/host_types.h"
#include "format/arc_state.h"
#include "platform/platform.h"

namespace acekit::format {

// Chooses the file entries that join the list; it sees the name upper-cased in
// the ANSI page (a directory ends with `\`). Empty selects everything;
// recovery headers are always selected.
struct EntryFilter {
  bool (*fn)(void* ctx, const char* upper_name) = nullptr;
  void* ctx = nullptr;
  bool Selects(const char* upper_name) const { return fn == nullptr || fn(ctx, upper_name); }
};

// Decodes the compressed comment that starts at `offset` of `archive`.
// Returns its length (0 when there is none or it cannot be decoded) and
// points *text at the decoded bytes, which stay valid until the next call.
// The file position afterwards does not matter to the walk.
struct CommentReader {
  int32_t (*decode)(void* ctx, platform::Handle archive, uint32_t offset,
                    const char** text) = nullptr;
  void* ctx = nullptr;
};

inline constexpr int kArcInfoWords = 23;

struct ListOptions {
  EntryFilter filter;
  // Consulted for headers that announce a comment, when the state's
  // read-file-comments flag is 1; without a decoder no comment is read.
  CommentReader comments;
  // When given, the 23 information words are computed after a complete walk.
  int32_t* arc_info = nullptr;
};

void InitEntryList(ArcFileList* list);

// Empties the head (records already in it are not released), walks the
// archive named in `st` and appends a record for each selected header.
// Status afterwards: 5 the archive cannot be opened or read, 8 a record cannot be
// allocated (the records before it stay), 9964 a header of an unknown type
// (likewise), else 0. A header cut short by the end of the file is listed
// with the fields that could be read.
void BuildEntryList(ArcState& st, ArcFileList* list, const ListOptions& options);

// Releases every record and its comment; the head becomes empty.
void DoneEntryList(ArcFileList* list);

// An entry list released on every way out.
struct EntryList {
  ArcFileList list{};
  EntryList() = default;
  ~EntryList() { DoneEntryList(&list); }
  EntryList(const EntryList&) = delete;
  EntryList& operator=(const EntryList&) = delete;
};

// One step of the walk: reads the header at the state's cursor into `rec`
// (zeroed by the caller) and advances the cursor. False at the end of the
// archive (status 0) or at a header of an unknown type (status 9964). A
// field the end of the file cuts off stores 5 and reads as 0; the record is
// still returned and the step after it ends the walk with status 0. A read
// that fails outright ends the walk at once with status 5, the record
// unlisted. A name longer than 255 bytes is cut; a directory's name ends
// with `\`.
//
// `held`, when it names the cursor's offset, holds the header's first bytes
// as read from the file just before, which stands right behind them: they
// are taken from there instead of being read again.
struct HeldHeader {
  uint32_t offset = 0;
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
};
bool ReadNextHeader(ArcState& st, platform::Handle archive, ArcEntry& rec,
                    const CommentReader& comments, const HeldHeader* held = nullptr);

// The information words of a listed archive; also puts the host system code
// into every record and marks the information as valid in `st`.
void ComputeArcInfo(ArcState& st, ArcFileList* list, int32_t info[kArcInfoWords]);

// The code reported for the HOST_CREATED byte of the main header.
int32_t HostOsCode(uint32_t host_created);

// Word 12 of the information: PACK_SIZE total as a percentage of the
// ORIG_SIZE total, in the signed 32-bit arithmetic the format's readers use.
int32_t CompressionRatio(uint32_t pack_total, uint32_t orig_total);

}  // namespace acekit::format
