// LZ77 match finder: hash chains over 3-byte strings, a short-range chain for
// 2-byte matches, per-hash flags that redirect searches in overloaded chains
// to a later string of the lookahead, and one step of lazy evaluation.
//
// One algorithm serves the five window sizes; each size is a compile-time
// instance chosen when the compressor is set up.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "compress/huffman.h"
#include "compress/stream_io.h"

namespace acekit::compress {

inline constexpr int kWindowSizes = 5;  // 64, 128, 256, 512, 1024 KB
inline constexpr uint32_t kWindowSpare = 600;
inline constexpr uint32_t kAheadRing = 512;

// Window geometry of one size.
struct WindowShape {
  uint32_t log2_size;  // D = 2^log2_size bytes
  uint32_t hash_shift;
  uint32_t hash_bits;
};
inline constexpr WindowShape kWindowShapes[kWindowSizes] = {
    {16, 6, 15}, {17, 6, 17}, {18, 6, 18}, {19, 7, 19}, {20, 7, 20}};

// Bytes per chain link. Up to a 64 KB window a link holds the distance to
// the older string, which fits 16 bits; larger windows link by position.
constexpr size_t LinkBytes(const WindowShape& ws) {
  return ws.log2_size <= 16 ? 2 : 4;
}

// Whether the finder keeps a summary of every chain beside its head (see
// MatchState::head3). Only the smallest window has one: for the larger
// ones it would outgrow their memory budget.
constexpr bool HasChainSummary(const WindowShape& ws) {
  return ws.log2_size <= 16;
}

// Where the window and the tables lie in the finder's single block: one
// base address reaches them all, which spares the coding loop a register per
// table.
struct BlockLayout {
  size_t head3_stride, head3, prev3, longchain3, head2, prev2, size;
};
constexpr BlockLayout LayoutOf(const WindowShape& ws) {
  const size_t d = size_t{1} << ws.log2_size;
  const size_t hashes = size_t{1} << ws.hash_bits;
  BlockLayout b{};
  b.head3_stride = HasChainSummary(ws) ? 2 * sizeof(uint32_t) : sizeof(uint32_t);
  b.head3 = (2 * d + kWindowSpare + 63) / 64 * 64;
  b.prev3 = b.head3 + hashes * b.head3_stride;
  b.longchain3 = b.prev3 + d * LinkBytes(ws);
  b.head2 = b.longchain3 + hashes;
  b.prev2 = b.head2 + 256 * sizeof(uint32_t);
  b.size = b.prev2 + 256 * sizeof(uint32_t);
  return b;
}

// Everything the finder keeps between calls; it survives from file to file in
// a solid run. Positions index the window; 0 means "none".
struct MatchState {
  // The block; the window (2D + kWindowSpare) comes first and input enters
  // at [D, 2D). The table pointers below point into it.
  uint8_t* window = nullptr;
  // The chain tables hold positions plus `offset`. A fresh start or a slide
  // raises the offset instead of clearing or rebasing them, so entries of
  // earlier runs and entries that slid out come out at or below 0 and end a
  // chain just as a cleared entry does.
  // Per 3-byte hash: the newest position, every head3_stride bytes. Where
  // the window has chain summaries, the word after it tells what a walk of
  // the chain could find; it is written when a position joins the chain
  // while matches are rare (see the finder) and counts only while its
  // generation equals summary_gen, which moves on whenever bytes or chains
  // may have changed behind the summaries' backs. 0 is never current.
  uint32_t* head3 = nullptr;
  // Per position mod D, the older position with the same hash: as a
  // position plus `offset`, or as a distance (LinkBytes) that saturates at
  // 0xFFFF, which is out of reach from anywhere.
  uint8_t* prev3 = nullptr;
  uint8_t* longchain3 = nullptr;  // per hash: equal to flag_gen when the last walk
                                  // used up its budget
  uint32_t offset = 0;
  uint32_t offset_limit = 1u << 30;  // lowered by tests to reach the reset paths
  uint8_t flag_gen = 1;
  uint32_t summary_gen = 1;
  // The coding loop's choice of search variant when it last stopped: true
  // where matches were rare.
  bool sparse = false;
  uint32_t* head2 = nullptr;  // 256 entries
  uint32_t* prev2 = nullptr;  // 256 entries
  // Hashes of the strings ahead of P, so that probes need not roll them one
  // byte at a time. Entries below ahead_end are valid; any change of the
  // window's contents drops them.
  uint32_t ahead[kAheadRing] = {};
  uint32_t ahead_end = 0;
  // Positions in [flagged_lo, flagged_hi) whose strings' chains were flagged
  // when last probed. Flags only get cleared by a chain that ends, a skipped
  // probe, a slide or a new start, and each of those empties the range.
  uint32_t flagged_lo = 0;
  uint32_t flagged_hi = 0;

  int shape = 0;     // index into kWindowShapes
  uint32_t pos = 0;  // current position P
  // Window position of the run's first byte (0 once it has slid out). Bytes
  // below it are left over from earlier runs and no decoder has them.
  uint32_t base = 0;
  int32_t lookahead = 0;  // valid bytes at P and after, never past 2D
  uint32_t h3 = 0;
  uint32_t h2 = 0;
  int32_t best = 0;  // best length b
  uint32_t match_pos = 0;
  int32_t budget = 6;  // chain budget G
};

// Takes the block for shape, zeroed. False when memory is short; then
// nothing is held.
bool AllocMatchBuffers(MatchState& m, int shape);
void FreeMatchBuffers(MatchState& m);

// Chain budget of a compression level (1 to 4; anything else counts as 1).
int32_t LevelBudget(int32_t level);

// The literals and matches of a parse that runs apart from the block coder
// (on a worker), in the order the coder would take them. A literal is its
// byte, 0xFF doubled for 0xFF itself; a match is 0xFF, length - 1 (1 to
// 255) and distance - 1 in three bytes, least significant first.
struct ParseRecord {
  uint8_t* data = nullptr;
  size_t size = 0;
  // Slides the parse passes before it stops in front of the next one; -1
  // runs to the end of the input.
  int32_t slides_left = -1;
  // size when each slide that was passed read its bytes (kNoMark: none).
  static constexpr size_t kNoMark = ~size_t{0};
  static constexpr int kMaxMarks = 6;
  size_t slide_mark[kMaxMarks] = {kNoMark, kNoMark, kNoMark, kNoMark, kNoMark, kNoMark};
  int slides = 0;
  bool stopped = false;  // stopped in front of a slide
  const std::atomic<bool>* abort = nullptr;

  // Record bytes a parse of n positions may need at most.
  static constexpr size_t BytesFor(size_t positions) { return positions * 5 / 2 + 16; }
  void PutLiteral(uint8_t byte) {
    data[size++] = byte;
    if (byte == 0xFF) data[size++] = 0;
  }
  void PutMatch(uint32_t length, uint32_t distance) {
    const uint32_t d = distance - 1;
    uint8_t* const at = data + size;
    at[0] = 0xFF;
    at[1] = static_cast<uint8_t>(length - 1);
    at[2] = static_cast<uint8_t>(d);
    at[3] = static_cast<uint8_t>(d >> 8);
    at[4] = static_cast<uint8_t>(d >> 16);
    size += 5;
  }
};

// The entry points of one window size.
struct CoderEntry {
  // Fresh start: clears the tables, fills [D, 2D) and inserts the first
  // position.
  void (*start)(MatchState&, StreamIo&);
  // Next file of a solid run: keeps window, chains and P.
  void (*resume)(MatchState&, StreamIo&);
  // Codes the rest of the input into `blocks`.
  void (*run)(MatchState&, StreamIo&, BlockCoder&);
  // The parse of run into a record instead, for a parse on a worker: it
  // goes on from wherever the state stands, passes `slides_left` slides and
  // stops in front of the next one (with the literal of the position before
  // it recorded), or runs to the end of the input.
  void (*record)(MatchState&, StreamIo&, ParseRecord&);
  // Puts a state of any history where the coder stands one position before
  // a slide, given the D bytes before that slide: the chains are rebuilt by
  // inserting every one of them, as the coder would have. The next D bytes
  // are read at the slide by `record`. Reads exactly D bytes.
  void (*warm_up)(MatchState&, StreamIo&);
  // For the parse of a solid run from a file start (see the compressor's
  // solid path). `before_slide` puts a state of any history where the coder
  // stands one position before a slide whose D bytes before it already lie
  // in [D, 2D): nothing is inserted yet and nothing is read. `skip` then
  // does what `run` does to window and chains, without searching: it
  // inserts every position up to the end of the input, sliding and reading
  // as `run` would.
  void (*before_slide)(MatchState&);
  void (*skip)(MatchState&, StreamIo&);
  // Like `before_slide`, but one position before [D, 2D)'s position
  // D + `from`, with the first `filled` bytes of [D, 2D) read so far (what
  // follows them is what the window held there before): `skip` then
  // inserts from D + `from` on. A parse that starts less than D bytes past
  // that position never reaches the positions left out, so it sees what
  // the serial coder sees. Needs 2 <= from <= filled <= D: the first two
  // positions past a slide are inserted with the hashes of the zeros rolled
  // in before it.
  void (*before_at)(MatchState&, uint32_t from, uint32_t filled);
};
const CoderEntry& CoderFor(int shape);

}  // namespace acekit::compress
