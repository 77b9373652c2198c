#include <zlib.h>

#include <cstring>

#include "alloc_count.h"
#include "codec.h"

namespace bench {

int32_t MemorySink::Write(const void* buf, uint32_t count) {
  const size_t room = capacity_ - size_;
  const size_t n = count < room ? count : room;
  std::memcpy(data_ + size_, buf, n);
  size_ += n;
  return static_cast<int32_t>(n);
}

int32_t MemorySource::Read(void* buf, uint32_t count) {
  const size_t left = data_.size() - pos_;
  const size_t n = count < left ? count : left;
  std::memcpy(buf, data_.data() + pos_, n);
  pos_ += n;
  return static_cast<int32_t>(n);
}

namespace {

// The zlib format (deflate with its 2-byte header and Adler-32 trailer) at
// the library's default window and memory settings: what a program that
// calls zlib with a level and nothing else gets.
class ZlibCodec final : public Codec {
 public:
  explicit ZlibCodec(int level) : level_(level) {}
  ~ZlibCodec() override {
    EndEncode();
    EndDecode();
  }

  std::string Name() const override { return "zlib " + std::to_string(level_); }

  bool BeginEncode() override {
    Prepare(deflater_);
    if (deflateInit(&deflater_, level_) != Z_OK) return Fail("deflateInit");
    deflating_ = true;
    return true;
  }

  bool Encode(std::span<const uint8_t> in, MemorySink& out) override {
    // zlib writes straight into the sink's block; the engines hand over their
    // 16 KB output buffer through Write(), one copy, as they would to a file.
    if (deflateReset(&deflater_) != Z_OK) return Fail("deflateReset");
    const uLong bound = deflateBound(&deflater_, static_cast<uLong>(in.size()));
    if (bound > out.room()) return Fail("output block too small");
    deflater_.next_in = const_cast<Bytef*>(in.data());
    deflater_.avail_in = static_cast<uInt>(in.size());
    deflater_.next_out = out.tail();
    deflater_.avail_out = static_cast<uInt>(bound);
    if (deflate(&deflater_, Z_FINISH) != Z_STREAM_END) return Fail("deflate");
    out.Commit(static_cast<size_t>(deflater_.next_out - out.tail()));
    return true;
  }

  void EndEncode() override {
    if (deflating_) deflateEnd(&deflater_);
    deflating_ = false;
  }

  bool BeginDecode() override {
    Prepare(inflater_);
    if (inflateInit(&inflater_) != Z_OK) return Fail("inflateInit");
    inflating_ = true;
    return true;
  }

  bool Decode(std::span<const uint8_t> packed, std::span<uint8_t> out) override {
    stored_ = false;
    if (inflateReset(&inflater_) != Z_OK) return Fail("inflateReset");
    inflater_.next_in = const_cast<Bytef*>(packed.data());
    inflater_.avail_in = static_cast<uInt>(packed.size());
    inflater_.next_out = out.data();
    inflater_.avail_out = static_cast<uInt>(out.size());
    if (inflate(&inflater_, Z_FINISH) != Z_STREAM_END) return Fail("inflate");
    return inflater_.avail_out == 0 || Fail("inflate: short output");
  }

  // An archive built on zlib keeps such a file as it is too and checks it
  // with a CRC-32 on extraction.
  bool DecodeStored(std::span<const uint8_t> data, std::span<uint8_t> out) override {
    if (data.size() != out.size()) return Fail("stored: size differs");
    std::memcpy(out.data(), data.data(), data.size());
    stored_crc_ = crc32(0, out.data(), static_cast<uInt>(out.size()));
    stored_ = true;
    return true;
  }

  bool Verify(std::span<const uint8_t> original) override {
    if (!stored_) return true;
    stored_ = false;
    const uLong want = crc32(0, original.data(), static_cast<uInt>(original.size()));
    return stored_crc_ == want || Fail("stored: CRC-32 differs from the data's");
  }

  void EndDecode() override {
    if (inflating_) inflateEnd(&inflater_);
    inflating_ = false;
  }

 private:
  static void Prepare(z_stream& s) {
    std::memset(&s, 0, sizeof s);
    s.zalloc = CountedZalloc;
    s.zfree = CountedZfree;
  }

  bool Fail(const char* what) {
    error_ = what;
    return false;
  }

  int level_;
  z_stream deflater_{};
  z_stream inflater_{};
  bool deflating_ = false;
  bool inflating_ = false;
  bool stored_ = false;  // the last extraction was DecodeStored
  uLong stored_crc_ = 0;
};

}  // namespace

std::unique_ptr<Codec> MakeZlibCodec(int level) {
  return std::make_unique<ZlibCodec>(level);
}

}  // namespace bench
