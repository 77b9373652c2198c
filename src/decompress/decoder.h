// The entry decoder: turns one archive entry's packed data back into its
// bytes, for stored (method 0) and LZ77+Huffman (method 1) entries.
//
// Use per operation:
//   DecoderPtr d = NewDecoder();        // caller-owned; no global state
//   if (!d) ...                         // kNoMemory
//   d->progress.hook = hooks.progress;  // optional; also pending_phase
//   for each entry, in archive order:
//     source positioned at the entry's packed data
//     DecoderStart(*d, &source, orig_size, solid, entry_number, method);
//     Status st = DecodeEntry(*d, method, decode_only ? nullptr : &sink);
//     st == kOk && d->crc != stored_crc -> the caller reports kCrcMismatch
//   (the buffers go with d)
//
// The CRC comparison is the caller's: d.crc holds the running CRC-32 (started
// at kCrcInit, never inverted) of everything the entry produced.
//
// Damaged input always ends: every chunk either produces bytes or fails, and
// the entry's declared size bounds the work. A source that runs out early,
// a chunk that produces nothing while bytes remain and a chunk that produces
// more than remains all end the entry with kCrcMismatch (the status for
// damaged data); a code set that cannot be built ends it with kCorrupt.
// A compressed entry notices the end of its data only when the source ends,
// so a source bounded to the entry's packed size catches truncation at once;
// otherwise the CRC comparison does.
#pragma once

#include <cstdint>
#include <memory>

#include "common/progress.h"
#include "common/status.h"
#include "decompress/bit_input.h"
#include "decompress/huffman_table.h"
#include "platform/stream.h"

namespace acekit::decompress {

inline constexpr uint32_t kWindowSize = 1u << 20;  // covers every dictionary size
inline constexpr uint32_t kWindowMask = kWindowSize - 1;
inline constexpr uint32_t kChunkSize = 2048;
inline constexpr uint32_t kMaxMatch = 259;
inline constexpr int kMainHighest = 282;
inline constexpr int kLengthHighest = 255;

inline constexpr uint32_t kMethodStored = 0;
inline constexpr uint32_t kMethodLz77 = 1;

struct Decoder {
  // Heap buffers from DecoderAlloc.
  uint8_t* window = nullptr;  // kWindowSize bytes, circular
  uint8_t* words = nullptr;   // kWordBufferBytes: bit input, and stored data in transit
  uint8_t* out = nullptr;     // kChunkSize: the chunk handed to the sink

  uint32_t pos = 0;     // window write position
  uint32_t backed = 0;  // window[0, backed) has pages of its own: see BackWindow
  uint32_t dist[4] = {};
  uint32_t dist_index = 0;
  uint32_t block_left = 0;  // main symbols left in the current block

  int32_t size = 0;       // the entry's declared size, the total for progress
  int32_t remaining = 0;  // bytes of the entry still to produce
  int32_t processed = 0;  // bytes produced so far, for progress
  uint32_t crc = 0;
  Status status = kOk;  // first failure of the current entry

  ProgressState progress;
  BitFeed feed;
  BitInput bits;
  bool stream_open = false;  // the entry was started as a compressed one

  // For a caller that decodes an entry of a normal archive apart from the
  // entries before it (in a window of its own): set own_only, and a match
  // that reaches before the entry's first byte, which only damage makes and
  // whose bytes would be the earlier entries', sets reached_back. The bytes
  // decoded from then on are not the ones the shared window would give.
  bool own_only = false;
  bool reached_back = false;
  // With own_only, for a caller whose window lacks the earlier entries'
  // bytes until someone needs them: called before the first byte from
  // before the entry's start is read, with the entry's bytes so far (all of
  // them from window position 0 on), to put those bytes in place. It may be
  // called again; the caller clears it once it has done its work.
  struct BeforeReach {
    void (*call)(void* context, uint32_t at) = nullptr;
    void* context = nullptr;
  };
  BeforeReach before_reach;

  // Block tables per 11-bit prefix (main: see ReadMainCodeLengths; length: symbol
  // and code length packed), and the code lengths they were built from.
  uint32_t main_table[1u << kMainTableWidth] = {};
  uint16_t length_table[1u << kMainTableWidth] = {};
  uint8_t main_lengths[kMainHighest + 1] = {};
  uint8_t length_lengths[kLengthHighest + 1] = {};
};

// Takes the window, word buffer and output buffer. kNoMemory on failure, with
// nothing held.
Status DecoderAlloc(Decoder& d);
void DecoderFree(Decoder& d);

// Call before reading window bytes from `from` on (count of them, wrapping)
// that have not been written yet: their pages get memory of their own first
// (platform::BackPages), so that no later write has to swap out the
// system's zero page with every core interrupted. The window is allocated
// zeroed and lazily, so a decoder that sees only small entries never pays
// for the rest of it.
void BackWindow(Decoder& d, uint32_t from, uint32_t count);

// Frees a decoder that NewDecoder made: its buffers, then the decoder.
struct DecoderDelete {
  void operator()(Decoder* d) const;
};
using DecoderPtr = std::unique_ptr<Decoder, DecoderDelete>;

// A decoder on the heap (its tables are too big for some hosts' stacks)
// with its buffers taken; null when memory runs out (kNoMemory), with
// nothing held. What an operation uses; DecoderAlloc and DecoderFree serve a
// decoder that something else holds.
DecoderPtr NewDecoder();

// Prepares one entry. `source` is positioned at the entry's packed data and
// must stay valid while the entry is decoded. `entry_number` counts the
// entries decoded in this operation from 1; in a solid archive every entry
// after the first continues the previous entries' window.
void DecoderStart(Decoder& d, platform::ByteSource* source, int32_t size, bool solid,
                  uint32_t entry_number, uint32_t method);

// Decodes the rest of the entry in chunks, reporting progress after each and
// writing it to `sink` (null: decode only, as for tests and for skipped
// entries of a solid archive). Returns the entry's status: kOk, kCancelled,
// kShortWrite, kUnsupported, kCorrupt or kCrcMismatch. The first `skip`
// chunks are decoded without a report or a write, for a caller that has
// made those already from another decoder's chunks.
Status DecodeEntry(Decoder& d, uint32_t method, platform::ByteSink* sink, uint32_t skip = 0);

// Produces the next chunk into buf (at most capacity bytes; a compressed chunk
// needs capacity above kMaxMatch and uses at most half the window) and adds
// it to d.crc unless `crc` is false; a null buf leaves the chunk in the
// window only, for a caller that needs nothing but the CRC. Returns the
// byte count; failures are left in d.status.
uint32_t DecodeChunk(Decoder& d, uint8_t* buf, uint32_t capacity, uint32_t method, bool crc = true);

// Chunks decoded with `crc` false whose bytes d.crc does not hold yet: the
// `count` window bytes from position `from`. A caller that starts a span at
// d.pos, calls FoldCrc before each chunk and adds the chunk's count after
// it, and calls FoldCrc with `all` at the end, has d.crc take the bytes a
// span at a time, which costs less per byte than a chunk at a time.
struct CrcSpan {
  uint32_t from = 0;
  uint32_t count = 0;
};
void FoldCrc(Decoder& d, CrcSpan& span, bool all);

// The symbol stage of a compressed entry on its own, so that it can run on
// another thread than the stage that needs the window: DecodeTokens turns
// the chunk DecodeChunk would produce (capacity kChunkSize) into tokens and
// leaves the window alone; ApplyTokens makes the chunk from them in the
// window of a decoder holding the entry's earlier bytes (for a solid
// archive, the earlier entries' too). Together they give DecodeChunk's
// bytes, status and state.
//
// A token is one 32-bit word: a match is kTokenMatch | length << 20 |
// distance (masked to the window; 0 copies nothing); any other word counts
// the literal bytes that follow it, packed four to a word.
inline constexpr uint32_t kTokenMatch = 1u << 31;
// Words a chunk may need (a literal and a shortest match in turn), and the
// slack the token buffer needs behind the last chunk, which ApplyTokens
// reads in whole blocks.
inline constexpr uint32_t kTokenChunkWords = kChunkSize + 8;
inline constexpr uint32_t kTokenSlackWords = 8;

// Tokens of the entry's next chunk at `tokens` (kTokenChunkWords words
// free, and the slack); sets *words to the count written and returns the
// chunk's byte count, as DecodeChunk would, failures in d.status. The
// decoder must have been started for a compressed entry.
uint32_t DecodeTokens(Decoder& d, uint32_t* tokens, uint32_t* words);

// Applies one chunk of `bytes` (what DecodeTokens returned for it) at d.pos
// and adds it to d.crc; copies it to `buf` too when that is not null.
void ApplyTokens(Decoder& d, const uint32_t* tokens, uint32_t words, uint32_t bytes, uint8_t* buf);

}  // namespace acekit::decompress
