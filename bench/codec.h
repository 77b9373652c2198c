// What the benchmark needs from a compressor and its decompressor. Each
// implementation drives its engine directly on memory, so that the figures
// measure coding and not file access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/stream.h"

namespace bench {

// Writes into a block the benchmark took before the timed run, so that the
// run's own allocations are the engine's alone. Running out of room is a
// short write, which the engines report like a full disk.
class MemorySink final : public acekit::platform::ByteSink {
 public:
  MemorySink(uint8_t* data, size_t capacity) : data_(data), capacity_(capacity) {}
  int32_t Write(const void* buf, uint32_t count) override;
  size_t size() const { return size_; }
  const uint8_t* data() const { return data_; }
  // For a codec that writes in place: the free room, then how much it used.
  uint8_t* tail() { return data_ + size_; }
  size_t room() const { return capacity_ - size_; }
  void Commit(size_t n) { size_ += n < room() ? n : room(); }

 private:
  uint8_t* data_;
  size_t capacity_;
  size_t size_ = 0;
};

class MemorySource final : public acekit::platform::ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> data) : data_(data) {}
  int32_t Read(void* buf, uint32_t count) override;

 private:
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
};

// One configuration of one codec. A pass over the corpus is
// BeginEncode, Encode per file, EndEncode (likewise for decoding), the way an
// archiver sets its engine up once per operation and reuses it per entry.
class Codec {
 public:
  virtual ~Codec() = default;
  virtual std::string Name() const = 0;

  virtual bool BeginEncode() = 0;
  // Appends the packed form of `in` to `out`.
  virtual bool Encode(std::span<const uint8_t> in, MemorySink& out) = 0;
  virtual void EndEncode() = 0;

  virtual bool BeginDecode() = 0;
  // Rebuilds exactly out.size() bytes from `packed`.
  virtual bool Decode(std::span<const uint8_t> packed, std::span<uint8_t> out) = 0;
  // Extracts a file that an archive keeps as it is because its stream came
  // out larger: `data` is the file itself, and out.size() its length.
  virtual bool DecodeStored(std::span<const uint8_t> data, std::span<uint8_t> out) = 0;
  virtual void EndDecode() = 0;
  // Checks outside the timed region, after the benchmark compared the bytes
  // of the last Decode or DecodeStored with `original`, whatever else the
  // codec vouches for.
  virtual bool Verify(std::span<const uint8_t> original) { return true; }

  // Why the last call failed.
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

std::unique_ptr<Codec> MakeZlibCodec(int level);

// Null when this build has no engine for it yet; `why` then says what is missing.
std::unique_ptr<Codec> MakeAcekitCodec(int window_kb, int level, std::string* why);

}  // namespace bench
