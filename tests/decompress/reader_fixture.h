// A BitInput over bytes produced by the test BitWriter.
#pragma once

#include <vector>

#include "decompress/bit_input.h"
#include "stream_builder.h"

namespace acekit::decompress::test {

struct Reader {
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kWordBufferBytes, 0);
  MemorySource source;
  BitFeed feed;
  BitInput in;

  explicit Reader(std::vector<uint8_t> bytes, uint32_t max_read = 0xFFFFFFFFu)
      : source(std::move(bytes), max_read) {
    feed.source = &source;
    feed.buffer = buffer.data();
    in.Start(feed);
  }
};

}  // namespace acekit::decompress::test
