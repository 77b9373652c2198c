// The compression engine as the operations use it: one object, owned by the
// caller, holding the window, chains, output buffer and Huffman tables from
// set-up to shutdown.
//
// Per operation:
//   Compressor c;
//   int32_t dict_kb = settings.dict_kb;
//   if (!c.Setup(&dict_kb, settings.level)) -> kNoMemory (c.status())
//   c.SetProgress(hooks.progress);           // optional; c.SetPendingPhase(-1)
// Per file (source at offset 0, sink at the file's data position):
//   c.CompressFile(&source, &sink, size, restart);
//   c.status() != kOk      -> the operation fails with that status
//   c.exceeded()           -> store the file instead
//   else PACK_SIZE = c.bytes_out(), CRC32 = c.crc()
// restart is true for normal archives and the first file of a solid run;
// false continues the previous file's window.
//
// With more than one thread (platform::ThreadCount, asked at Setup), the
// part of a file past its first slide is parsed by workers, one D-byte
// segment each, and coded here in order: the output, the reads, the
// progress reports and the state left for the next file of a solid run are
// those of the serial coder. Files of normal archives can also be read and
// parsed ahead, several at a time (ParseAhead), and so can the small files
// of a solid run, in groups (SolidAhead).
#pragma once

#include <cstdint>

#include "common/callbacks.h"
#include "compress/huffman.h"
#include "compress/match_finder.h"
#include "compress/stream_io.h"
#include "platform/stream.h"

namespace acekit::compress {
struct Replay;

class Compressor {
 public:
  Compressor() = default;
  ~Compressor() { Shutdown(); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  // Takes every buffer for the dictionary size *dict_kb (in KB) and level.
  // Sizes below 64 or above 1024 become 64; sizes in between round down to
  // 64, 128, 256, 512 or 1024. The size used is stored back. Levels other
  // than 1 to 4 count as 1. `threads` bounds the workers (0: the operation's
  // default, platform::ThreadCount; 1: the serial path). False when memory
  // is short: nothing is held and status() is kNoMemory. Clears the status
  // word.
  bool Setup(int32_t* dict_kb, int32_t level, int threads = 0);
  void Shutdown();
  bool ready() const { return match_.window != nullptr; }

  void SetProgress(const ProgressHook& hook) { io_.progress().hook = hook; }
  // Announced to the progress procedure as (phase, 0) before its next report.
  void SetPendingPhase(int32_t phase) { io_.progress().pending_phase = phase; }

  // Compresses one whole file.
  void CompressFile(platform::ByteSource* source, platform::ByteSink* sink, int32_t size,
                    bool restart);

  // Files of a normal archive, coded ahead by workers: each is read here
  // and coded whole on a worker into memory, and CompressParsed replays the
  // writes and progress reports in order. A file shorter than the window
  // depends on the files before it only through the bytes the window holds
  // past its end, which the compressor follows from file to file. Hand in
  // files in archive order; a file coded by CompressFile in between has to
  // wait until every file handed in before it is coded, and the files
  // after it until it is.
  //
  // Nonzero when files can be coded ahead.
  int ParseSlots() const { return threads_ > 1 ? threads_ : 0; }
  // Reads the file of `size` bytes from `source` (as CompressFile would)
  // and hands it to a worker. -1: not taken, nothing read (no worker, or a
  // file too large). -2: not now, nothing read (the files handed in hold
  // all the room there is): hand it in again after the next ticket is
  // coded. Otherwise a ticket for CompressParsed; with `too_large` the file
  // held more than its size said and is coded by the compressor itself
  // there, from what was read and the rest of `source`.
  int ParseAhead(platform::ByteSource* source, int32_t size, bool* too_large);
  // Codes the file of a ticket as CompressFile would have; the tickets in
  // the order they were handed out.
  void CompressParsed(int ticket, platform::ByteSource* rest, platform::ByteSink* sink,
                      int32_t size);
  // Files of a solid run shorter than the window, read ahead and parsed by
  // workers in groups: each group after the first starts from a state
  // rebuilt out of the bytes before it (see segments.cpp). Hand in files in
  // archive order and code them in the same order with CompressSolid; a
  // file coded by CompressFile in between waits until every ticket is
  // coded, and nothing after it is handed in before it is coded.
  //
  // Reads the file of `size` bytes from `source` as CompressFile would.
  // `restart` is whether the file starts a fresh window, and `known` whether
  // that is settled (every item before it written); a file after tickets
  // still open is taken as continuing them. -1: not taken, nothing read (no
  // worker, a file too large, or a run that cannot be opened here: code it
  // with CompressFile). -2: not now, nothing read (the buffers are full or
  // its window start is not settled yet): hand it in again after the next
  // ticket is coded. Otherwise a ticket; with `too_large` the file held
  // more than its size said and is coded by the compressor itself.
  int SolidAhead(platform::ByteSource* source, int32_t size, bool restart, bool known,
                 bool* too_large);
  // Codes the file of a ticket as CompressFile(.., restart) would have.
  void CompressSolid(int ticket, platform::ByteSource* rest, platform::ByteSink* sink, int32_t size,
                     bool restart);
  // Drops the parses in flight and the tickets not coded (after a failure).
  void DropParses();

  // Results of the last file.
  uint32_t crc() const { return io_.totals().crc; }
  int32_t bytes_in() const { return io_.totals().bytes_in; }
  int32_t bytes_out() const { return io_.totals().bytes_out; }
  bool exceeded() const { return io_.totals().exceeded; }
  // First failure since Setup: kNoMemory, kOpenFailed (source read),
  // kShortWrite (sink), kCancelled (host). Every flush is a no-op meanwhile.
  uint32_t status() const { return io_.status(); }
  int32_t dict_kb() const { return 64 << match_.shape; }

  // For tests.
  compress::MatchState& match_state() { return match_; }
  int threads() const { return threads_; }

 private:
  void StartCoder();
  // Next file of a solid run; a fresh start when nothing was started yet.
  void ContinueCoder();
  struct Parallel;
  struct Solid;
  bool StartSolid();
  void StopSolid();
  void PlanSolid(int force_through);
  void ResetSolid(int ticket);
  void EndSolidJobs();
  // Codes the rest of the file with workers, when it reaches past the next
  // slide and they can be had; false leaves everything to RunCoder.
  bool RunSegments();
  bool StartParallel();
  void StopParallel();
  bool SegmentBuffers();
  void FreeSegmentBuffers();
  bool FileBuffers();
  void FreeFileBuffers();
  void ReleaseFile(int ticket);
  // Writes a stream a worker coded as the coder would have.
  void PlayBack(const compress::Replay& stream);
  // The window's upper half for the files parsed ahead: taken after a file
  // the compressor coded itself, put back before one after them.
  void KeepShadow();
  void RestoreShadow();
  // Codes one parse's record into blocks; returns the input coded after it.
  int32_t CodeRecord(const compress::ParseRecord& rec, int first_segment, int failed_segment,
                     int32_t offset);

  compress::MatchState match_;
  compress::StreamIo io_;
  compress::BlockCoder blocks_;
  const compress::CoderEntry* coder_ = nullptr;
  int32_t level_ = 1;
  bool started_ = false;
  int threads_ = 1;
  Parallel* par_ = nullptr;
  Solid* solid_ = nullptr;
  int handed_ = 0;  // tickets handed out
  int coded_ = 0;   // tickets coded or dropped
  // A file parsed ahead used the compressor's own state, whose window then
  // no longer holds what the serial coder's would.
  bool diverged_ = false;
};

}  // namespace acekit::compress
