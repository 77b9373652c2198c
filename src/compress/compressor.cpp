#include "compress/compressor.h"

#include "format/crc32.h"
#include "platform/thread.h"

namespace acekit::compress {
namespace {

// Index of the window size for a dictionary size in KB.
int ShapeFor(int32_t dict_kb) {
  if (dict_kb < 64 || dict_kb > 1024) return 0;
  int shape = 0;
  while (shape + 1 < compress::kWindowSizes && (64 << (shape + 1)) <= dict_kb) ++shape;
  return shape;
}

}  // namespace

bool Compressor::Setup(int32_t* dict_kb, int32_t level, int threads) {
  Shutdown();
  io_.set_status(kOk);
  const int shape = ShapeFor(*dict_kb);
  *dict_kb = 64 << shape;
  level_ = level >= 1 && level <= 4 ? level : 1;
  if (!compress::AllocMatchBuffers(match_, shape) || !io_.AllocBuffer() || !blocks_.AllocTables()) {
    Shutdown();
    io_.set_status(kNoMemory);
    return false;
  }
  coder_ = &compress::CoderFor(shape);
  match_.budget = compress::LevelBudget(level_);
  if (threads <= 0) threads = platform::ThreadCount();
  threads_ = threads < platform::kMaxThreads ? threads : platform::kMaxThreads;
  return true;
}

void Compressor::Shutdown() {
  StopSolid();
  StopParallel();
  handed_ = coded_ = 0;
  diverged_ = false;
  compress::FreeMatchBuffers(match_);
  io_.FreeBuffer();
  blocks_.FreeTables();
  coder_ = nullptr;
  started_ = false;
}

void Compressor::StartCoder() {
  match_.budget = compress::LevelBudget(level_);
  coder_->start(match_, io_);
  started_ = true;
}

void Compressor::ContinueCoder() {
  if (!started_) {
    StartCoder();
    return;
  }
  coder_->resume(match_, io_);
}

void Compressor::CompressFile(platform::ByteSource* source, platform::ByteSink* sink, int32_t size,
                              bool restart) {
  if (!ready()) {
    io_.set_status(kNoMemory);  // Setup failed or never ran
    return;
  }
  io_.Bind(source, sink);
  io_.ResetCompressState();
  io_.totals().crc = format::kCrcInit;
  if (restart) {
    RestoreShadow();
    StartCoder();
  } else {
    ContinueCoder();
  }
  blocks_.ResetSymbolBuffer();
  io_.ResetBitWriter();
  io_.totals().input_size = size;
  if (threads_ <= 1 || !RunSegments()) coder_->run(match_, io_, blocks_);
  blocks_.CloseStream(io_);
  if (restart) KeepShadow();
}

}  // namespace acekit::compress
