#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "stream_builder.h"

namespace acekit::decompress::test {
namespace {

// The reader as the format describes it: a register formed from two
// adjacent buffer words at a bit position, words 1022 and 1023 moving to the
// front when the reader reaches word 1022. The reader must see exactly these
// bits, also where the source comes up short and the buffer holds what
// earlier data left there.
class Model {
 public:
  Model(MemorySource& source, uint8_t* buffer) {
    feed_.source = &source;
    feed_.buffer = buffer;
    feed_.Fill(0, kWordBufferBytes);
  }
  uint32_t Register() const { return Ahead(0); }
  // The 32 bits `ahead` bits past the register's first; the words before
  // 1022 reach at most 64 bits ahead, which stays inside the buffer.
  uint32_t Ahead(uint32_t ahead) const {
    const uint32_t index = index_ + (pos_ + ahead) / 32;
    const uint32_t pos = (pos_ + ahead) % 32;
    return pos == 0 ? Word(index) : Word(index) << pos | Word(index + 1) >> (32 - pos);
  }
  void Skip(uint32_t n) {
    pos_ += n;
    if (pos_ >= 32) {
      pos_ -= 32;
      if (++index_ == 1022) {
        feed_.Refill();
        index_ = 0;
      }
    }
  }
  bool Overrun() const {
    const uint64_t consumed = (feed_.base_word + index_) * 32 + pos_;
    return feed_.ended && consumed > feed_.valid_end * 8;
  }

 private:
  uint32_t Word(uint32_t i) const {
    const uint8_t* p = feed_.buffer + 4 * i;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
  }
  BitFeed feed_;
  uint32_t index_ = 0;
  uint32_t pos_ = 0;
};

// Random fields and skips over streams of several lengths, delivered whole,
// in small pieces and cut short, with stale bytes in the buffer.
TEST(BitInputModel, ReaderSeesTheModelsBits) {
  struct Case {
    size_t bytes;
    uint32_t piece;
  };
  const Case cases[] = {{20000, 0xFFFFFFFFu}, {20000, 1000},   {5000, 0xFFFFFFFFu}, {3001, 7},
                        {9000, 4088},         {0, 0xFFFFFFFFu}};
  std::mt19937 rng(11);
  for (const Case& c : cases) {
    std::vector<uint8_t> data(c.bytes);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> stale(kWordBufferBytes);
    for (uint8_t& b : stale) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> model_buffer = stale;
    std::vector<uint8_t> reader_buffer = stale;
    MemorySource model_source(data, c.piece);
    MemorySource reader_source(data, c.piece);
    Model model(model_source, model_buffer.data());
    BitFeed feed;
    feed.source = &reader_source;
    feed.buffer = reader_buffer.data();
    BitInput in;
    in.Start(feed);
    // Twice the stream's length, so that every case runs past its end.
    for (uint64_t bits = 0; bits < c.bytes * 16 + 70000;) {
      ASSERT_EQ(in.Register(), model.Register()) << c.bytes << "/" << c.piece << " at " << bits;
      ASSERT_EQ(in.Overrun(), model.Overrun()) << bits;
      uint32_t n = rng() % 33;
      if (rng() % 2 == 0) {
        in.Skip(static_cast<int>(n));
      } else {
        // A top-up holds enough for several fields at once.
        in.Fill();
        const uint32_t ahead = model.Ahead(BitInput::kFilled - 32);
        ASSERT_EQ(in.PeekBelow(BitInput::kFilled - 32, 0, 31), ahead) << bits;
        ASSERT_EQ(in.PeekBelow(BitInput::kFilled - 32, 1, 32), 1u << 31 | ahead >> 1) << bits;
        const uint32_t more = rng() % (BitInput::kFilled - 32 + 1);
        in.Drop(n);
        in.Drop(more);
        in.Fill();
        model.Skip(n);
        n = more;
      }
      model.Skip(n);
      bits += n;
    }
  }
}

}  // namespace
}  // namespace acekit::decompress::test
