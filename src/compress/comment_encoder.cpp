#include "compress/comment_encoder.h"

#include <cstring>

#include "compress/huffman.h"
#include "platform/platform.h"

namespace acekit::compress {
namespace {

// Everything one encoding needs besides the output block, taken in one piece.
struct CommentTables {
  HuffmanCode code;
  HuffmanCode code_length;
  HuffmanWork work;
  uint16_t symbols[kCommentMaxText];
};

void SendCodeLengths(const HuffmanCode& code, HuffmanCode& cl, HuffmanWork& work,
                     MemBitWriter& out) {
  const int highest = code.highest;
  uint8_t diffs[kMainSymbols];
  BuildCodeLengthCode(code, diffs, cl, work);

  out.PutBits(9, static_cast<uint32_t>(highest));
  out.PutBits(4, 0);   // lower limit
  out.PutBits(4, 12);  // modulus; the run symbol 12 is never sent
  for (int s = 0; s < kCodeLengthSymbols; ++s) out.PutBits(3, cl.len[s]);
  for (int i = 0; i <= highest; ++i) out.PutBits(cl.len[diffs[i]], cl.code[diffs[i]]);
}

}  // namespace

void MemBitWriter::PutWord(uint32_t word) {
  if (status_ != kOk) return;
  if (fill_ + 4 > capacity_) {
    status_ = kNoMemory;
    return;
  }
  uint8_t* p = block_ + fill_;
  p[0] = static_cast<uint8_t>(word);
  p[1] = static_cast<uint8_t>(word >> 8);
  p[2] = static_cast<uint8_t>(word >> 16);
  p[3] = static_cast<uint8_t>(word >> 24);
  fill_ += 4;
}

void MemBitWriter::PutBits(uint32_t n, uint32_t value) {
  if (n == 0 || status_ != kOk) return;
  const uint32_t c = bits_;
  if (c + n <= 32) {
    acc_ = n == 32 ? value : (acc_ << n) | value;
    bits_ = c + n;
  } else if (c == 32) {
    PutWord(acc_);
    acc_ = value;
    bits_ = n;
  } else {
    const uint32_t rest = c + n - 32;
    PutWord((acc_ << (32 - c)) | (value >> rest));
    bits_ = rest;
    acc_ = value & ((1u << rest) - 1);
  }
}

void MemBitWriter::Finish() {
  if (bits_ != 32) PutBits(32 - bits_, 0);
  PutWord(acc_);
  acc_ = 0;
  bits_ = 0;
}

uint32_t ParseComment(const uint8_t* text, uint32_t n, uint16_t* symbols) {
  uint16_t hash[kCommentHashSlots] = {};
  uint32_t count = 0;
  uint32_t p = 0;
  while (p < n) {
    uint32_t m = 0;
    if (p >= 2) {
      const uint32_t h = static_cast<uint32_t>(text[p - 2]) + text[p - 1];
      const uint32_t c = hash[h];
      hash[h] = static_cast<uint16_t>(p);
      // No copy starts within the last 24 bytes, so a copy never needs to
      // look past the end of the text.
      if (n - p > kCommentMaxCopy && c < p) {
        while (m < kCommentMaxCopy && text[c + m] == text[p + m]) ++m;
      }
    }
    if (m >= kCommentMinCopy) {
      symbols[count++] = static_cast<uint16_t>(m + kCommentCopyBase);
      p += m;
    } else {
      symbols[count++] = text[p];
      ++p;
    }
  }
  return count;
}

void EncodedComment::Release() {
  if (bytes_ != nullptr) platform::Free(bytes_);
  bytes_ = nullptr;
  size_ = 0;
}

Status EncodeComment(const void* text, uint32_t n, EncodedComment& out) {
  out.Release();
  if (n > kCommentMaxText || (n != 0 && text == nullptr)) return kNoMemory;
  auto* t = static_cast<CommentTables*>(platform::AllocZeroed(sizeof(CommentTables)));
  if (t == nullptr) return kNoMemory;
  // Twice the text plus room for the code lengths: more than any code of at
  // most 11 bits a symbol can need.
  const uint32_t capacity = 2 * n + 512;
  auto* block = static_cast<uint8_t*>(platform::Alloc(capacity));
  if (block == nullptr) {
    platform::Free(t);
    return kNoMemory;
  }

  MemBitWriter bits(block, capacity);
  bits.PutBits(15, n);
  const uint32_t count = ParseComment(static_cast<const uint8_t*>(text), n, t->symbols);
  for (uint32_t i = 0; i < count; ++i) ++t->code.freq[t->symbols[i]];
  BuildHuffmanCode(t->code, kCommentSymbols, kMaxCodeLength, t->work);
  SendCodeLengths(t->code, t->code_length, t->work, bits);
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t s = t->symbols[i];
    bits.PutBits(t->code.len[s], t->code.code[s]);
  }
  bits.Finish();
  platform::Free(t);

  if (bits.status() != kOk) {
    platform::Free(block);
    return bits.status();
  }
  out.bytes_ = block;
  out.size_ = bits.size();
  return kOk;
}

}  // namespace acekit::compress
