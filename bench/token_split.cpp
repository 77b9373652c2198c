// The decoder's two stages timed apart: the symbol stage (bits to tokens)
// and the window stage (tokens to bytes, with the CRC), each alone on one
// thread, against the fused loop, over every compressed entry of an
// archive in its order (a solid archive's window carries over).
//
//   cmake --preset bench && cmake --build --preset bench --target acekit_token_split
//   build/bench/bench/acekit_token_split ARCHIVE [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "decompress/decoder.h"
#include "format/header_search.h"
#include "format/records.h"
#include "ops/entry_walk.h"
#include "ops_session.h"
#include "platform/platform.h"

using namespace acekit;
using Clock = std::chrono::steady_clock;

namespace {

class MemorySource final : public platform::ByteSource {
 public:
  MemorySource(const std::vector<uint8_t>& data, size_t at) : data_(data), at_(at) {}
  int32_t Read(void* buf, uint32_t count) override {
    const size_t n = std::min<size_t>(count, data_.size() - at_);
    std::memcpy(buf, data_.data() + at_, n);
    at_ += n;
    return static_cast<int32_t>(n);
  }

 private:
  const std::vector<uint8_t>& data_;
  size_t at_;
};

struct Item {
  size_t data_at;
  int32_t size;
  uint32_t method;
  uint32_t crc;
};

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  bench::OpsSession s;
  std::snprintf(s.arc.archive_name, sizeof s.arc.archive_name, "%s", argv[1]);
  const platform::Handle h = platform::Open(s.arc.archive_name, 'r');
  format::FindMainHeader(h, s.arc);
  format::FindFirstFileHeader(h, s.arc);
  platform::Close(h);
  format::EntryList list;
  if (ops::BuildArchiveList(s.ctx, &list.list, nullptr, ops::ArcInfoRequest::kNever) != kOk) {
    return 1;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
  const bool solid = s.arc.solid != 0;
  std::vector<Item> items;
  size_t bytes = 0;
  for (const ArcEntry* e = list.list.first; e != nullptr; e = e->next) {
    if (e->head_type != format::kHeadFile || (e->attr & platform::kAttrDirectory) != 0) continue;
    items.push_back({e->header_offset + e->head_size + 4u, static_cast<int32_t>(e->orig_size),
                     e->tech_type, e->crc32});
    bytes += e->orig_size;
  }
  decompress::DecoderPtr fused = decompress::NewDecoder();
  decompress::DecoderPtr sym = decompress::NewDecoder();
  decompress::DecoderPtr app = decompress::NewDecoder();
  // Tokens of every entry with each chunk's word count and bytes.
  std::vector<uint32_t> tokens;
  std::vector<uint32_t> chunk_words;
  std::vector<uint32_t> chunk_bytes;
  double best[3] = {1e9, 1e9, 1e9};
  size_t token_words = 0;
  double densest = 0;  // token bytes per byte, of entries of 4 KB and more
  for (int round = 0; round < rounds; ++round) {
    uint32_t n = 1;
    auto t0 = Clock::now();
    for (const Item& it : items) {
      MemorySource src(data, it.data_at);
      decompress::DecoderStart(*fused, &src, it.size, solid, n++, it.method);
      if (decompress::DecodeEntry(*fused, it.method, nullptr) != kOk || fused->crc != it.crc) {
        std::fprintf(stderr, "fused: entry %u fails\n", n - 1);
        return 1;
      }
    }
    auto t1 = Clock::now();
    tokens.clear();
    chunk_words.clear();
    chunk_bytes.clear();
    size_t at = 0;
    n = 1;
    for (const Item& it : items) {
      if (it.method != decompress::kMethodLz77) continue;
      MemorySource src(data, it.data_at);
      const size_t entry_at = at;
      decompress::DecoderStart(*sym, &src, it.size, solid, n++, it.method);
      while (sym->remaining > 0 && sym->status == kOk) {
        if (tokens.size() < at + decompress::kTokenChunkWords + decompress::kTokenSlackWords) {
          tokens.resize((at + decompress::kTokenChunkWords) * 2);
        }
        uint32_t words = 0;
        const uint32_t got = decompress::DecodeTokens(*sym, tokens.data() + at, &words);
        if (sym->status != kOk || got == 0) return 1;
        chunk_words.push_back(words);
        chunk_bytes.push_back(got);
        at += words;
      }
      if (it.size >= 4096) densest = std::max(densest, 4.0 * (at - entry_at) / it.size);
    }
    auto t2 = Clock::now();
    token_words = at;
    size_t c = 0;
    at = 0;
    n = 1;
    for (const Item& it : items) {
      if (it.method != decompress::kMethodLz77) continue;
      decompress::DecoderStart(*app, nullptr, it.size, solid, n++, decompress::kMethodStored);
      while (app->remaining > 0) {
        decompress::ApplyTokens(*app, tokens.data() + at, chunk_words[c], chunk_bytes[c], nullptr);
        at += chunk_words[c++];
      }
      if (app->crc != it.crc) {
        std::fprintf(stderr, "split: entry %u fails\n", n - 1);
        return 1;
      }
    }
    auto t3 = Clock::now();
    const double ms[3] = {Ms(t1 - t0), Ms(t2 - t1), Ms(t3 - t2)};
    for (int i = 0; i < 3; ++i) best[i] = std::min(best[i], ms[i]);
  }
  std::printf("%s: %zu entries, %.1f MB, tokens %.1f MB\n", argv[1], items.size(), bytes / 1e6,
              token_words * 4 / 1e6);
  std::printf("best of %d: fused %.1f ms, symbol stage %.1f ms, window stage %.1f ms\n", rounds,
              best[0], best[1], best[2]);
  std::printf("densest entry: %.2f token bytes per byte\n", densest);
  std::printf("two threads, ideal overlap: %.2fx the fused loop\n",
              std::max(best[1], best[2]) / best[0]);
  return 0;
}
