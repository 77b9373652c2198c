#include "compress/huffman.h"

#include <algorithm>
#include <cstring>

#include "common/sort_by_length.h"
#include "platform/platform.h"

namespace acekit::compress {

void BuildHuffmanCode(HuffmanCode& t, int n, int max_len, HuffmanWork& w) {
  // Heap entries are frequency, depth and node in one word; comparisons look
  // at frequency and depth alone (ties go to the shallower subtree, which
  // keeps the tree flat), so equal keys stay in heap order. Depths wrap at
  // 256 as the depth table does.
  constexpr int kNodeBits = 16;
  constexpr int kDepthBits = 8;
  auto entry = [](uint32_t freq, uint32_t depth, int node) {
    return (uint64_t{freq} << kDepthBits | (depth & 0xFF)) << kNodeBits |
           static_cast<uint32_t>(node);
  };
  auto precedes = [](uint64_t a, uint64_t b) { return (a >> kNodeBits) <= (b >> kNodeBits); };
  uint64_t* const heap = w.heap;

  int size = 0;
  int highest = -1;
  for (int s = 0; s < n; ++s) {
    t.depth[s] = 0;
    t.len[s] = 0;
    if (t.freq[s] != 0) {
      heap[++size] = entry(t.freq[s], 0, s);
      highest = s;
    }
  }
  // A code needs two leaves; the partner is chosen so that the decoder's
  // table for a lone symbol looks the same whichever side builds it.
  while (size < 2) {
    const int node = highest < 2 ? ++highest : 0;
    t.freq[node] = 1;
    t.depth[node] = 0;
    heap[++size] = entry(1, 0, node);
  }

  // A key above every entry follows the last one, so the right child can be
  // compared without checking that it exists.
  constexpr uint64_t kPastEnd = ~uint64_t{0};
  heap[size + 1] = kPastEnd;
  auto sift_down = [&](int k) {
    const uint64_t v = heap[k];
    int j = 2 * k;
    while (j <= size) {
      j += precedes(heap[j + 1], heap[j]) ? 1 : 0;
      if (precedes(v, heap[j])) break;
      heap[k] = heap[j];
      k = j;
      j *= 2;
    }
    heap[k] = v;
  };
  for (int k = size / 2; k >= 1; --k) sift_down(k);

  int top = kMaxNodes;
  int node = n;
  while (size >= 2) {
    const uint64_t ea = heap[1];
    heap[1] = heap[size];
    heap[size--] = kPastEnd;
    sift_down(1);
    const uint64_t eb = heap[1];
    const uint16_t a = static_cast<uint16_t>(ea);
    const uint16_t b = static_cast<uint16_t>(eb);
    w.order[--top] = a;
    w.order[--top] = b;
    const uint32_t freq = static_cast<uint32_t>(ea >> (kNodeBits + kDepthBits)) +
                          static_cast<uint32_t>(eb >> (kNodeBits + kDepthBits));
    const uint32_t depth = std::max(static_cast<uint32_t>(ea >> kNodeBits) & 0xFF,
                                    static_cast<uint32_t>(eb >> kNodeBits) & 0xFF) +
                           1;
    t.freq[node] = freq;
    t.depth[node] = static_cast<uint8_t>(depth);
    t.parent[a] = t.parent[b] = static_cast<uint16_t>(node);
    heap[1] = entry(freq, depth, node);
    sift_down(1);
    ++node;
  }
  const int root = --top;
  w.order[root] = static_cast<uint16_t>(heap[1]);
  AssignCodes(t, root, highest, max_len, w);
}

void AssignCodes(HuffmanCode& t, int root, int highest, int max_len, HuffmanWork& w) {
  // Parents come before their children in `order`, so one pass sets depths.
  for (int l = 0; l <= max_len; ++l) w.count[l] = 0;
  int overflow = 0;
  t.len[w.order[root]] = 0;
  for (int i = root + 1; i < kMaxNodes; ++i) {
    const int v = w.order[i];
    int l = t.len[t.parent[v]] + 1;
    if (l > max_len) {
      l = max_len;
      ++overflow;
    }
    t.len[v] = static_cast<uint8_t>(l);
    if (v <= highest) ++w.count[l];
  }

  if (overflow > 0) {
    // Each step moves a leaf from the deepest level up next to a shallower
    // one, splitting that leaf's place in two.
    do {
      int l = max_len - 1;
      while (l > 0 && w.count[l] == 0) --l;
      if (l == 0) break;
      --w.count[l];
      w.count[l + 1] += 2;
      --w.count[max_len];
      overflow -= 2;
    } while (overflow > 0);
    // Hand the lengths out again, longest to the least frequent symbols.
    int i = kMaxNodes - 1;
    for (int l = max_len; l >= 1; --l) {
      for (int c = w.count[l]; c > 0;) {
        const int v = w.order[i--];
        if (v > highest) continue;
        t.len[v] = static_cast<uint8_t>(l);
        --c;
      }
    }
  }

  int next[kMaxCodeLength + 2];
  uint32_t code = 0;
  for (int l = 1; l <= max_len; ++l) {
    code = (code + static_cast<uint32_t>(w.count[l - 1])) << 1;
    next[l] = static_cast<int>(code);
  }
  // The decoder rebuilds codes from the lengths alone, in the order this
  // sort leaves; equal lengths are numbered in reverse sorted order.
  for (int s = 0; s <= highest; ++s) {
    w.sort_len[s] = t.len[s];
    w.sort_sym[s] = static_cast<uint16_t>(s);
  }
  // Only symbols with a code take part below, and for those the sort that
  // skips the others leaves the same order.
  SortUsedByLength(w.sort_len, w.sort_sym, highest);
  for (int i = highest; i >= 0; --i) {
    const int l = w.sort_len[i];
    if (l != 0) t.code[w.sort_sym[i]] = static_cast<uint16_t>(next[l]++);
  }
  t.highest = highest;
}

bool BlockCoder::AllocTables() {
  FreeTables();
  t_ = static_cast<Tables*>(platform::AllocZeroed(sizeof(Tables)));
  if (t_ == nullptr) return false;
  syms_ = t_->syms;
  main_count_ = t_->main.freq;
  length_count_ = t_->length.freq;
  ResetSymbolBuffer();
  return true;
}

void BlockCoder::FreeTables() {
  if (t_ != nullptr) platform::Free(t_);
  t_ = nullptr;
  syms_ = nullptr;
  main_count_ = nullptr;
  length_count_ = nullptr;
  count_ = 0;
}

void BlockCoder::ResetSymbolBuffer() {
  count_ = 0;
  ClearCounts();
  for (uint32_t& v : rep_) v = 0;
  r_ = 0;
}

void BuildCodeLengthCode(const HuffmanCode& code, uint8_t* diffs, HuffmanCode& cl,
                         HuffmanWork& work) {
  // Differences modulo 12 turn runs of equal lengths into runs of 0, which
  // the code-length code then makes cheap.
  const int highest = code.highest;
  diffs[0] = code.len[0];
  for (int i = 1; i <= highest; ++i) {
    int d = code.len[i] - code.len[i - 1];
    if (d < 0) d += 12;
    diffs[i] = static_cast<uint8_t>(d);
  }
  for (int s = 0; s < kCodeLengthSymbols; ++s) cl.freq[s] = 1;
  for (int i = 0; i <= highest; ++i) ++cl.freq[diffs[i]];
  BuildHuffmanCode(cl, kCodeLengthSymbols, kMaxCodeLengthLength, work);
}

void BlockCoder::SendCodeLengths(const HuffmanCode& code, StreamIo& out) {
  HuffmanCode& cl = t_->code_length;
  const int highest = code.highest;
  uint8_t diffs[kMainSymbols];
  BuildCodeLengthCode(code, diffs, cl, t_->work);

  StreamIo::Bits bits = out.SaveBits();
  out.PutBits(bits, 9, static_cast<uint32_t>(highest));
  out.PutBits(bits, 4, 0);   // lowest length
  out.PutBits(bits, 4, 12);  // modulus, and the unused run symbol
  for (int s = 0; s < kCodeLengthSymbols; ++s) out.PutBits(bits, 3, cl.len[s]);
  for (int i = 0; i <= highest; ++i) out.PutBits(bits, cl.len[diffs[i]], cl.code[diffs[i]]);
  out.RestoreBits(bits);
}

void BlockCoder::EmitBlock(StreamIo& out) {
  // The counts of this block's symbols are in the codes' frequencies.
  HuffmanCode& main = t_->main;
  HuffmanCode& len = t_->length;
  BuildHuffmanCode(main, kMainSymbols, kMaxCodeLength, t_->work);
  SendCodeLengths(main, out);
  BuildHuffmanCode(len, kLengthSymbols, kMaxCodeLength, t_->work);
  SendCodeLengths(len, out);
  out.PutBits(15, count_);
  SendSymbols(out);
  count_ = 0;
  ClearCounts();
}

void BlockCoder::ClearCounts() {
  std::memset(main_count_, 0, sizeof(uint32_t) * kMainSymbols);
  std::memset(length_count_, 0, sizeof(uint32_t) * kLengthSymbols);
}

void BlockCoder::SendSymbols(StreamIo& out) {
  const HuffmanCode& main = t_->main;
  const HuffmanCode& len = t_->length;
  uint32_t* const main_field = t_->main_field;
  uint32_t* const length_field = t_->length_field;
  for (int c = 0; c < kMainSymbols; ++c) {
    main_field[c] = static_cast<uint32_t>(main.len[c]) << 16 | main.code[c];
  }
  for (int c = 0; c < kLengthSymbols; ++c) {
    length_field[c] = static_cast<uint32_t>(len.len[c]) << 16 | len.code[c];
  }
  uint32_t matches = 0;
  for (int c = 256; c < kMainSymbols; ++c) matches += main.freq[c];
  // Where matches are rare (incompressible data) a branch on them is cheaper
  // than a second, mostly empty field per symbol.
  if (matches < count_ / 16) {
    SendSymbolsAs<true>(out);
  } else {
    SendSymbolsAs<false>(out);
  }
}

template <bool kRareMatches>
void BlockCoder::SendSymbolsAs(StreamIo& out) {
  const uint32_t* const main_field = t_->main_field;
  const uint32_t* const length_field = t_->length_field;
  // Each symbol is two fields: the main code with the distance bits behind
  // it (at most 11 + 19 bits), then the length code, empty for literals.
  StreamIo::Bits bits = out.SaveBits();
  uint8_t* at = out.direct();
  const uint8_t* const end = out.direct_end();
  const BlockSymbol* const syms = syms_;
  const uint32_t count = count_;
  for (uint32_t i = 0; i < count; ++i) {
    const BlockSymbol s = syms[i];
    const uint32_t m = main_field[s.symbol];
    if constexpr (kRareMatches) {
      // A literal is its code alone.
      if (s.symbol < 256 && at <= end) [[likely]] {
        StreamIo::PutBitsDirect(bits, at, m >> 16, m & 0xFFFF);
        continue;
      }
    }
    const uint32_t n = (m >> 16) + s.extra_bits;
    const uint32_t v = (m & 0xFFFF) << s.extra_bits | s.extra;
    // All ones for matches (symbols 256 and up), zero for literals.
    const uint32_t is_match = 0u - static_cast<uint32_t>(s.symbol >> 8);
    if (at <= end) [[likely]] {
      StreamIo::PutBitsDirect(bits, at, n, v);
      if constexpr (kRareMatches) {
        const uint32_t l = length_field[s.length];
        StreamIo::PutBitsDirect(bits, at, l >> 16, l & 0xFFFF);
      } else {
        const uint32_t l = length_field[s.length] & is_match;
        StreamIo::PutBitsDirect(bits, at, l >> 16, l & 0xFFFF);
      }
    } else {
      // Near the buffer's end the flushes take over.
      const uint32_t l = length_field[s.length] & is_match;
      out.set_direct(at);
      out.PutBits(bits, n, v);
      if (l != 0) out.PutBits(bits, l >> 16, l & 0xFFFF);
      at = out.direct();
    }
  }
  out.set_direct(at);
  out.RestoreBits(bits);
}

void BlockCoder::CloseStream(StreamIo& out) {
  EmitBlock(out);
  out.FinishBits();
}

}  // namespace acekit::compress
