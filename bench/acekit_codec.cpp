// The library's own engines behind the benchmark's Codec interface. Each one
// is driven the way the archive operations drive it for one entry of a normal
// archive: set up once per pass, then a fresh stream per file.
//
// The engines land piece by piece; a build whose tree lacks one still builds
// the benchmark, which then reports the missing engine instead of a figure.
#include <array>
#include <cstring>

#include "codec.h"

#if __has_include("decompress/decoder.h")
#define ACEKIT_BENCH_DECODER 1
#include "decompress/decoder.h"
#endif

#if __has_include("compress/compressor.h")
#define ACEKIT_BENCH_ENCODER 1
#include "compress/compressor.h"
#endif

#include "common/status.h"
#include "format/crc32.h"

namespace bench {

#if defined(ACEKIT_BENCH_DECODER) && defined(ACEKIT_BENCH_ENCODER)
namespace {

bool IsWindowSize(int window_kb) {
  for (int kb = 64; kb <= 1024; kb *= 2) {
    if (kb == window_kb) return true;
  }
  return false;
}

class AcekitCodec final : public Codec {
 public:
  AcekitCodec(int window_kb, int level) : window_kb_(window_kb), level_(level) {}
  ~AcekitCodec() override {
    EndEncode();
    EndDecode();
  }

  std::string Name() const override {
    return "acekit " + std::to_string(level_) + "/" + std::to_string(window_kb_) + "K";
  }

  bool BeginEncode() override {
    // The compressor object itself is taken inside the measured region too:
    // its fixed tables count as much as the buffers it allocates.
    enc_ = std::make_unique<acekit::compress::Compressor>();
    int32_t dict_kb = window_kb_;
    if (!enc_->Setup(&dict_kb, level_)) {
      enc_.reset();
      return Fail("compressor set-up: out of memory");
    }
    if (dict_kb != window_kb_) {
      EndEncode();
      return Fail("compressor took a " + std::to_string(dict_kb) + " KB window instead");
    }
    return true;
  }

  bool Encode(std::span<const uint8_t> in, MemorySink& out) override {
    MemorySource source(in);
    enc_->CompressFile(&source, &out, static_cast<int32_t>(in.size()), true);
    if (enc_->status() != acekit::kOk) {
      return Fail("compressor status " + std::to_string(enc_->status()));
    }
    return true;
  }

  void EndEncode() override {
    if (enc_ == nullptr) return;
    enc_->Shutdown();
    enc_.reset();
  }

  bool BeginDecode() override {
    namespace d = acekit::decompress;
    dec_ = std::make_unique<d::Decoder>();
    if (d::DecoderAlloc(*dec_) != acekit::kOk) {
      dec_.reset();
      return Fail("decoder set-up: out of memory");
    }
    return true;
  }

  bool Decode(std::span<const uint8_t> packed, std::span<uint8_t> out) override {
    return Extract(packed, out, acekit::decompress::kMethodLz77);
  }

  // A stored entry goes through the decoder as extraction sends it: copied
  // into the window (a later solid entry may refer to it) and checked by CRC.
  bool DecodeStored(std::span<const uint8_t> data, std::span<uint8_t> out) override {
    return Extract(data, out, acekit::decompress::kMethodStored);
  }

  bool Verify(std::span<const uint8_t> original) override {
    // The archiver trusts the decoder's running CRC-32 to catch damage, so it
    // must agree with the bytes, not merely the bytes with the original.
    if (last_crc_ !=
        acekit::format::Crc32Update(acekit::format::kCrcInit, original.data(), original.size())) {
      return Fail("decoder: its CRC-32 differs from the data's");
    }
    return true;
  }

  void EndDecode() override {
    if (dec_ == nullptr) return;
    acekit::decompress::DecoderFree(*dec_);
    dec_.reset();
  }

 private:
  bool Extract(std::span<const uint8_t> data, std::span<uint8_t> out, uint32_t method) {
    namespace d = acekit::decompress;
    MemorySource source(data);
    MemorySink sink(out.data(), out.size());
    d::DecoderStart(*dec_, &source, static_cast<int32_t>(out.size()), false, 1, method);
    const uint32_t status = d::DecodeEntry(*dec_, method, &sink);
    if (status != acekit::kOk) return Fail("decoder status " + std::to_string(status));
    if (sink.size() != out.size()) return Fail("decoder: short output");
    last_crc_ = dec_->crc;
    return true;
  }

  bool Fail(std::string what) {
    error_ = std::move(what);
    return false;
  }

  int window_kb_;
  int level_;
  std::unique_ptr<acekit::compress::Compressor> enc_;
  std::unique_ptr<acekit::decompress::Decoder> dec_;
  uint32_t last_crc_ = 0;
};

}  // namespace

std::unique_ptr<Codec> MakeAcekitCodec(int window_kb, int level, std::string* why) {
  if (!IsWindowSize(window_kb)) {
    *why = "no coder for a " + std::to_string(window_kb) + " KB window";
    return nullptr;
  }
  return std::make_unique<AcekitCodec>(window_kb, level);
}

#else

std::unique_ptr<Codec> MakeAcekitCodec(int, int, std::string* why) {
#if !defined(ACEKIT_BENCH_ENCODER)
  *why = "the compressor is not in this tree yet";
#else
  *why = "the decoder is not in this tree yet";
#endif
  return nullptr;
}

#endif

}  // namespace bench
