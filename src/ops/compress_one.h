// Adding one item from disk to the archive being written: a file compressed
// (or stored when compressing does not pay), an empty file, or a directory,
// each behind its file header. Also the verbatim copy of bytes of an old
// archive into a new one, which every rebuild uses.
#pragma once

#include <cstdint>

#include "compress/compressor.h"
#include "format/arc_state.h"
#include "format/records.h"
#include "ops/collect.h"
#include "ops/context.h"
#include "platform/platform.h"

namespace acekit::ops {

// What an operation holds while it adds items. The operation owns the
// compressor and the output handle; the item functions leave the handle at
// the end of what they wrote.
struct ItemWriter {
  format::ArcState& arc;          // the status word
  const format::Settings& names;  // how stored names are written
  const HostHooks& hooks;
  compress::Compressor& compressor;  // set up by the operation
  platform::Handle out;              // the archive being written
  uint16_t dict_code;                // TECH_PARM of every header
};

// The result of adding one item: whether the operation goes on and, in a
// solid chain, whether the next file may continue this one's window. A skip
// procedure's answer other than 1 and 2 is handed through as it is: 0 stops
// the operation without a status, anything else goes on and leaves the
// chain as it was.
enum ItemStep : int32_t {
  kStepStop = 0,      // ends the operation; see StopReason
  kStepRestart = 1,   // the next file starts a fresh window
  kStepContinue = 2,  // the next file continues this one's window
};

// Why a step stopped the operation: the failure the item functions keep in
// the writer's status word (the one place an operation stores a status on
// its way), or kStopped when the host's skip procedure ended it without one.
Status StopReason(const ItemWriter& w);

// Solid chaining between items: the flags the next header carries and
// whether the next file starts a fresh window.
struct SolidChain {
  uint16_t flags = 0;
  bool restart = true;
  // Takes an item's result; a result other than a restart or a
  // continuation leaves the chain as it was.
  void Apply(ItemStep step) {
    if (step == kStepRestart) {
      flags = 0;
      restart = true;
    } else if (step == kStepContinue) {
      flags = format::kFileFlagSolid;
      restart = false;
    }
  }
};

// Room where a small file's header and coded bytes meet, so that they go out
// in one write once the header is final, with no seek back over the data.
// Taken on first use and kept for the files after; without it (or when it
// cannot be had) a file goes out as placeholder header, data, final header.
class ItemStage {
 public:
  ItemStage() = default;
  ~ItemStage();
  ItemStage(const ItemStage&) = delete;
  ItemStage& operator=(const ItemStage&) = delete;
  // Files up to this size are staged; their output may pass it by a flush.
  static constexpr uint32_t kFileBytes = 256 * 1024;
  static constexpr uint32_t kBytes = kFileBytes + 32 * 1024 + format::kFileHeaderMaxBytes;
  uint8_t* get();  // null when memory is short

 private:
  uint8_t* buf_ = nullptr;
};

// kStepRestart on success, kStepStop on failure with the status word set.
ItemStep CompressOneFile(ItemWriter& w, const char* source, const char* stored, uint32_t attr);
// kStepStop on failure; kStepRestart when the next file must start a fresh
// window (this one was stored, or the chain had not started); kStepContinue
// when it may continue.
ItemStep CompressOneFileSolid(ItemWriter& w, const char* source, const char* stored, uint16_t flags,
                              bool restart, uint32_t attr);
// kStepRestart on success or when the host chose to leave out a directory
// that is gone.
ItemStep WriteDirectoryHeader(ItemWriter& w, const char* dir, const char* stored, uint32_t attr);
// Dispatch by attributes, asking the host what to do with an item that has
// vanished.
ItemStep AddOneFile(ItemWriter& w, const char* source, const char* stored,
                    ItemStage* stage = nullptr);
ItemStep AddOneFileSolid(ItemWriter& w, const char* source, const char* stored,
                         const SolidChain& chain, ItemStage* stage = nullptr);

// One item of a normal archive: where it is read from and its stored name.
struct ItemText {
  const char* source;
  const char* stored;
};
// The items in order, each after the host's file-name call, as AddOneFile
// adds them; files ahead of the one being written are opened, read and
// coded by the compressor's workers meanwhile. When an item stops the run
// (AddOneFile gave 0), its StopReason.
[[nodiscard]] Status AddItems(ItemWriter& w, const ItemText* items, size_t count);
// A heap array of item texts, the texts packed in blocks of their own
// (paths are mostly far shorter than the longest); null when memory is
// short.
class ItemTexts {
 public:
  explicit ItemTexts(size_t count)
      : p_(static_cast<ItemText*>(platform::Alloc(count * sizeof(ItemText) + 1))) {}
  ~ItemTexts();
  ItemTexts(const ItemTexts&) = delete;
  ItemTexts& operator=(const ItemTexts&) = delete;
  ItemText* get() const { return p_; }
  // Copies both texts in as item i; false when memory is short.
  bool Set(size_t i, const char* source, const char* stored);

 private:
  struct Block;
  ItemText* p_;
  Block* blocks_ = nullptr;
};

// One item of a solid list: where it is read from, its stored name, and
// the source name the host's file-name call shows.
struct SolidItem {
  const char* path;
  const char* stored;
  const char* shown;
};
// The items in order, each after the host's file-name call, as
// AddOneFileSolid adds them in one chain; files ahead of the one being
// written are read and parsed by the compressor's workers meanwhile. When
// an item stops the run, its StopReason.
Status AddSolidItems(ItemWriter& w, const SolidItem* items, size_t count);

// Copies the open source from its start to the output at its position;
// *crc gets the CRC-32 of the bytes copied.
Status StoreFileData(ItemWriter& w, platform::Handle source, uint32_t* crc);
// Copies `length` bytes of `archive` from `offset` to `out` at its position.
// A short read (the archive ends early) is 5, a short write 101.
Status CopyArchiveBytes(platform::Handle archive, platform::Handle out, uint32_t offset,
                        uint32_t length);

// A file time from a directory listing as packed local DOS date and time.
bool PackedLocalTime(const FindTime& t, uint32_t* packed);

}  // namespace acekit::ops
