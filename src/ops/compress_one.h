// Adding one item from disk to the archive being written: a file compressed
// (or stored when compressing does not pay), an empty file, or a directory,
// each behind its file header. Also the verbatim copy of bytes of an old
// archive into a new one, which every rebuild uses.
#pragma once

#include <cstdint>

#include "compress/compressor.h"
#include "format/arc_state.h"
#include "ops/collect.h"
#include "ops/context.h"
#include "platform/platform.h"

namespace acekit::ops {

// What an operation holds while it adds items. The operation owns the
// compressor and the output handle; the item functions leave the handle at
// the end of what they wrote.
struct ItemWriter {
  ArcState& arc;          // the status word
  const Settings& names;  // how stored names are written
  const HostHooks& hooks;
  Compressor& compressor;  // set up by the operation
  platform::Handle out;    // the archive being written
  uint16_t dict_code;      // TECH_PARM of every header
};

// Solid chaining between items: the flags the next header carries and
// whether the next file starts a fresh window.
struct SolidChain {
  uint16_t flags = 0;
  bool restart = true;
  // Takes an item's result: 1 restarts the chain, 2 continues it, anything
  // else leaves it as it was.
  void Apply(int32_t result) {
    if (result == 1) {
      flags = 0;
      restart = true;
    } else if (result == 2) {
      flags = 0x8000;
      restart = false;
    }
  }
};

// 1 on success, 0 on failure with the status word set.
int32_t CompressOneFile(ItemWriter& w, const char* source, const char* stored, uint32_t attr);
// 0 on failure; 1 when the next file must start a fresh window (this one was
// stored, or the chain had not started); 2 when it may continue.
int32_t CompressOneFileSolid(ItemWriter& w, const char* source, const char* stored, uint16_t flags,
                             bool restart, uint32_t attr);
// 1 on success or when the host chose to skip a directory that is gone.
int32_t WriteDirectoryHeader(ItemWriter& w, const char* dir, const char* stored, uint32_t attr);
// Dispatch by attributes, asking the host what to do with an item that has
// vanished. Non-zero goes on (a skip answer other than 1 and 2 is passed
// through), 0 stops.
int32_t AddOneFile(ItemWriter& w, const char* source, const char* stored);
int32_t AddOneFileSolid(ItemWriter& w, const char* source, const char* stored,
                        const SolidChain& chain);

// One item of a normal archive: where it is read from and its stored name.
struct ItemText {
  char source[kItemTextSize];
  char stored[kItemTextSize];
};
// The items in order, each after the host's file-name call, as AddOneFile
// adds them; files ahead of the one being written are opened, read and
// parsed by the compressor's workers meanwhile. False when an item failed
// (AddOneFile gave 0).
bool AddItems(ItemWriter& w, const ItemText* items, size_t count);
// A heap array of item texts; null when memory is short.
class ItemTexts {
 public:
  explicit ItemTexts(size_t count)
      : p_(static_cast<ItemText*>(platform::Alloc(count * sizeof(ItemText)))) {}
  ~ItemTexts() {
    if (p_ != nullptr) platform::Free(p_);
  }
  ItemTexts(const ItemTexts&) = delete;
  ItemTexts& operator=(const ItemTexts&) = delete;
  ItemText* get() const { return p_; }

 private:
  ItemText* p_;
};

// Copies the open source from its start to the output at its position;
// *crc gets the CRC-32 of the bytes copied. False with the status set.
bool StoreFileData(ItemWriter& w, platform::Handle source, uint32_t* crc);
// Copies `length` bytes of `archive` from `offset` to `out` at its position.
// A short read (the archive ends early) is 5, a short write 101.
bool CopyArchiveBytes(ArcState& arc, platform::Handle archive, platform::Handle out,
                      uint32_t offset, uint32_t length);

// A file time from a directory listing as packed local DOS date and time.
bool PackedLocalTime(const FindTime& t, uint32_t* packed);

}  // namespace acekit::ops
