#include "ops/compress_one.h"

#include <cstring>

#include "format/crc32.h"
#include "format/records.h"
#include "platform/file.h"
#include "platform/stream.h"

namespace acekit::ops {
namespace {

constexpr uint32_t kStoreBufferBytes = 65536;
constexpr uint32_t kStoreChunk = 0x7F00;
constexpr uint32_t kCopyChunk = 16000;

bool PutHeader(ItemWriter& w, const FileHeaderFields& fields, const char* stored) {
  uint8_t head[kFileHeaderFixed] = {};
  PackFileHeaderFields(fields, head);
  return WriteFileHeader(w.out, head, stored, w.names) || Fail(w.arc, kShortWrite);
}

bool SeekTo(ItemWriter& w, int32_t offset, int origin) {
  return platform::Seek(w.out, offset, origin) != -1 || Fail(w.arc, kOpenFailed);
}

struct ItemResult {
  bool ok = false;
  bool stored = false;  // written as a plain copy
  bool empty = false;   // no data at all
};

// The steps both forms share; `flags` already holds what a compressed or
// empty file's header carries.
ItemResult CompressItem(ItemWriter& w, const char* source, const char* stored, uint32_t attr,
                        uint16_t flags, bool restart) {
  ItemResult r;
  const platform::File src(source, 'r');
  if (!src) return Fail(w.arc, kOpenFailed), r;
  FileHeaderFields f;
  f.attr = attr;
  f.tech_parm = w.dict_code;
  f.flags = flags;
  if (platform::GetPackedFileTime(src.get(), &f.ftime) != 0) return Fail(w.arc, kOpenFailed), r;
  const int32_t size = platform::Size(src.get());
  if (size < 0) return Fail(w.arc, kOpenFailed), r;

  if (size == 0) {
    r.empty = true;
    r.ok = PutHeader(w, f, stored);
    return r;
  }

  const int32_t header_pos = platform::Tell(w.out);
  if (header_pos < 0) return Fail(w.arc, kOpenFailed), r;
  // Only the placeholder's length matters: the final header has the same.
  if (!PutHeader(w, FileHeaderFields{}, stored)) return r;
  const int32_t data_pos = platform::Tell(w.out);
  if (data_pos < 0) return Fail(w.arc, kOpenFailed), r;

  FileSource in(src.get());
  FileSink sink(w.out);
  w.compressor.CompressFile(&in, &sink, size, restart);
  if (w.compressor.status() != kOk)
    return Fail(w.arc, static_cast<Status>(w.compressor.status())), r;

  f.orig_size = static_cast<uint32_t>(size);
  if (w.compressor.exceeded()) {
    if (platform::Seek(src.get(), 0, 0) == -1) return Fail(w.arc, kOpenFailed), r;
    if (!SeekTo(w, data_pos, 0)) return r;
    if (!StoreFileData(w, src.get(), &f.crc32)) return r;
    r.stored = true;
    f.flags = kFileFlagPackSize;
    f.tech_type = 0;
    f.pack_size = f.orig_size;
  } else {
    f.tech_type = 1;
    f.pack_size = static_cast<uint32_t>(w.compressor.bytes_out());
    f.crc32 = w.compressor.crc();
  }

  if (!SeekTo(w, header_pos, 0) || !PutHeader(w, f, stored)) return r;
  if (r.stored) {
    // The abandoned compressed attempt may reach past the stored copy.
    if (!SeekTo(w, data_pos + static_cast<int32_t>(f.pack_size), 0)) return r;
    if (!platform::Truncate(w.out)) return r;
  } else if (!SeekTo(w, 0, 2)) {
    return r;
  }
  r.ok = true;
  return r;
}

// Civil date of a count of days since 1970-01-01.
void CivilFromDays(int64_t z, int* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2 ? 1 : 0));
}

bool PackSeconds(int64_t s, uint32_t* packed) {
  int64_t days = s / 86400;
  int64_t rest = s % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int y;
  unsigned m, d;
  CivilFromDays(days, &y, &m, &d);
  if (y < 1980 || y > 2107) return false;
  const auto date = static_cast<uint32_t>(((y - 1980) << 9) | (m << 5) | d);
  const auto time =
      static_cast<uint32_t>(((rest / 3600) << 11) | (((rest / 60) % 60) << 5) | ((rest % 60) / 2));
  *packed = (date << 16) | time;
  return true;
}

int64_t UnixSeconds(const FindTime& t) {
  const uint64_t ticks = (static_cast<uint64_t>(t.high) << 32) | t.low;
  return static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
}

}  // namespace

bool PackedLocalTime(const FindTime& t, uint32_t* packed) {
  // The platform converts local DOS times to file times; walking that
  // conversion backwards finds the zone's offset at this moment, daylight
  // saving included, without a second source of time-zone rules.
  const int64_t target = UnixSeconds(t);
  int64_t guess = target;
  uint32_t p = 0;
  for (int i = 0; i < 3; ++i) {
    if (!PackSeconds(guess, &p)) return false;
    FindTime back{};
    if (!platform::DosTimeToFileTime(p, &back)) return false;
    const int64_t diff = target - UnixSeconds(back);
    if (diff > -2 && diff < 2) break;
    guess += diff;
  }
  *packed = p;
  return true;
}

bool StoreFileData(ItemWriter& w, platform::Handle source, uint32_t* crc) {
  auto* buf = static_cast<uint8_t*>(platform::Alloc(kStoreBufferBytes));
  if (buf == nullptr) return Fail(w.arc, kNoMemory);
  bool ok = platform::Seek(source, 0, 0) != -1 || Fail(w.arc, kOpenFailed);
  uint32_t c = kCrcInit;
  while (ok) {
    const int32_t n = platform::Read(buf, kStoreChunk, source);
    if (n == 0) break;
    if (n < 0) {
      ok = Fail(w.arc, kOpenFailed);
      break;
    }
    c = Crc32Update(c, buf, static_cast<size_t>(n));
    const int32_t written = platform::Write(buf, static_cast<uint32_t>(n), w.out);
    if (written < 0) ok = Fail(w.arc, kOpenFailed);
    if (written >= 0 && written < n) ok = Fail(w.arc, kShortWrite);
  }
  platform::Free(buf);
  *crc = c;
  return ok;
}

bool CopyArchiveBytes(ArcState& arc, platform::Handle archive, platform::Handle out,
                      uint32_t offset, uint32_t length) {
  if (platform::Seek(archive, static_cast<int32_t>(offset), 0) == -1) {
    return Fail(arc, kOpenFailed);
  }
  uint8_t buf[kCopyChunk];
  while (length != 0) {
    const uint32_t chunk = length < kCopyChunk ? length : kCopyChunk;
    // An archive that ends before its entry does would be copied with
    // whatever the buffer held; a rebuild must not carry that on.
    if (platform::Read(buf, chunk, archive) != static_cast<int32_t>(chunk)) {
      return Fail(arc, kOpenFailed);
    }
    if (platform::Write(buf, chunk, out) != static_cast<int32_t>(chunk)) {
      return Fail(arc, kShortWrite);
    }
    length -= chunk;
  }
  return true;
}

ItemStep CompressOneFile(ItemWriter& w, const char* source, const char* stored, uint32_t attr) {
  return CompressItem(w, source, stored, attr, kFileFlagPackSize, true).ok ? kStepRestart
                                                                           : kStepStop;
}

ItemStep CompressOneFileSolid(ItemWriter& w, const char* source, const char* stored, uint16_t flags,
                              bool restart, uint32_t attr) {
  const ItemResult r = CompressItem(w, source, stored, attr, flags | kFileFlagPackSize, restart);
  if (!r.ok) return kStepStop;
  // An empty file leaves the chain where it was; a stored one breaks it.
  if (r.empty) return restart ? kStepRestart : kStepContinue;
  return r.stored ? kStepRestart : kStepContinue;
}

ItemStep WriteDirectoryHeader(ItemWriter& w, const char* dir, const char* stored, uint32_t attr) {
  FindData found{};
  const platform::FindHandle h = platform::FindFirst(dir, &found);
  if (h == platform::kBadFind) {
    if (w.hooks.skip) {
      const SkipAnswer answer = w.hooks.skip.Call(dir);
      if (answer == kSkipLeaveOut) return kStepRestart;
      if (answer == kSkipStop) return Fail(w.arc, kCancelled), kStepStop;
    }
    return Fail(w.arc, kOpenFailed), kStepStop;
  }
  platform::FindClose(h);

  FileHeaderFields f;
  f.attr = attr;
  f.tech_type = 1;
  f.tech_parm = w.dict_code;
  if (!PackedLocalTime(found.creation_time, &f.ftime)) f.ftime = 0;
  char name[kPathSize];
  CopyText(name, sizeof name, stored);
  const size_t len = std::strlen(name);
  if (len >= 4 && name[len - 1] == '\\') name[len - 1] = '\0';
  return PutHeader(w, f, name) ? kStepRestart : kStepStop;
}

ItemStep AddOneFile(ItemWriter& w, const char* source, const char* stored) {
  const uint32_t attr = platform::GetAttributes(source);
  if (attr != platform::kNoAttributes) {
    if ((attr & platform::kAttrDirectory) == 0) return CompressOneFile(w, source, stored, attr);
    return WriteDirectoryHeader(w, source, stored, attr);
  }
  if (!w.hooks.skip) return Fail(w.arc, kOpenFailed), kStepStop;
  const SkipAnswer answer = w.hooks.skip.Call(source);
  if (answer == kSkipStop) return Fail(w.arc, kCancelled), kStepStop;
  return static_cast<ItemStep>(answer);
}

ItemStep AddOneFileSolid(ItemWriter& w, const char* source, const char* stored,
                         const SolidChain& chain) {
  const ItemStep unchanged = chain.restart ? kStepRestart : kStepContinue;
  const uint32_t attr = platform::GetAttributes(source);
  if (attr != platform::kNoAttributes) {
    if ((attr & platform::kAttrDirectory) == 0) {
      return CompressOneFileSolid(w, source, stored, chain.flags, chain.restart, attr);
    }
    return WriteDirectoryHeader(w, source, stored, attr) != kStepStop ? unchanged : kStepStop;
  }
  if (!w.hooks.skip) return Fail(w.arc, kOpenFailed), kStepStop;
  const SkipAnswer answer = w.hooks.skip.Call(source);
  if (answer == kSkipLeaveOut) return unchanged;
  if (answer == kSkipStop) return Fail(w.arc, kCancelled), kStepStop;
  return static_cast<ItemStep>(answer);
}

}  // namespace acekit::ops
