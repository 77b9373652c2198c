// Reading: a walk over the headers with the handle's own state, decoding an
// entry on request, and extraction below a folder that nothing in the
// archive can lead out of.
#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "decompress/comment_decoder.h"
#include "decompress/decoder.h"
#include "face/face.h"
#include "format/entry_list.h"
#include "format/name_text.h"
#include "format/records.h"
#include "ops/comments.h"
#include "ops/extract.h"
#include "ops/extract_paths.h"
#include "ops/open_archive.h"
#include "platform/beneath.h"
#include "platform/platform.h"
#include "platform/stream.h"
#include "platform/thread.h"

namespace face = acekit::face;
namespace platform = acekit::platform;
namespace decompress = acekit::decompress;

struct acekit_reader : face::Handle {
  acekit_reader() : face::Handle(face::kReaderMagic) {}
  ~acekit_reader() {
    if (file != platform::kBadHandle) platform::Close(file);
  }

  std::string path;
  platform::Handle file = platform::kBadHandle;
  face::OpState state;
  decompress::CommentDecoder comments;
  decompress::DecoderPtr decoder;  // taken on the first read
  uint32_t entry_number = 1;
  bool solid = false;
  bool at_end = false;
  // A solid stream that failed cannot be continued: every later entry
  // depends on the bytes that were lost.
  bool broken = false;
  // Solid entries listed but not read yet, which the window still needs.
  std::vector<ArcEntry> passed_over;
  ArcEntry current{};
  bool have_current = false;
  bool current_decoded = false;
  std::string name;
  std::string comment;
  std::string main_comment;
  // Salvage (ACEKIT_READER_SALVAGE).
  bool salvage = false;
  acekit_damage damage{};
  uint64_t gap_offset = 0;  // bytes skipped since the last entry returned
  uint64_t gap_size = 0;
  bool cut = false;      // an entry's data ran past the end of the file
  bool started = false;  // acekit_reader_next has been called
  int threads = 0;
  // The archive's size, asked once: the walk needs it at every header.
  int64_t file_size = -1;
  // The header salvage checked last, kept so the walk does not read it again.
  std::vector<uint8_t> held;
  uint32_t held_at = 0;
  uint32_t held_size = 0;
  // A block of the file read ahead for that check: headers close together
  // then cost one read between them instead of a seek and two reads each.
  std::vector<uint8_t> ahead;
  uint32_t ahead_at = 0;
  uint32_t ahead_size = 0;  // bytes the read delivered
  uint32_t last_checked = UINT32_MAX;
  // The last time unpacked: entries added together share their times, and
  // each conversion asks the system for the time zone again.
  uint32_t packed_time = 0;
  int64_t unpacked_time = 0;
  bool time_known = false;
};

namespace {

// The packed data of one entry and nothing beyond it, so a damaged entry
// cannot make the decoder read its neighbour's bytes.
class BoundedSource final : public acekit::platform::ByteSource {
 public:
  BoundedSource(platform::Handle h, uint32_t left) : h_(h), left_(left) {}
  int32_t Read(void* buf, uint32_t count) override {
    if (count > left_) count = left_;
    if (count == 0) return 0;
    const int32_t n = platform::Read(buf, count, h_);
    if (n > 0) left_ -= static_cast<uint32_t>(n);
    return n;
  }

 private:
  platform::Handle h_;
  uint32_t left_;
};

class CallbackSink final : public acekit::platform::ByteSink {
 public:
  CallbackSink(acekit_sink fn, void* ctx) : fn_(fn), ctx_(ctx) {}
  int32_t Write(const void* buf, uint32_t count) override {
    if (fn_ != nullptr && count != 0 && fn_(ctx_, buf, count) != 0) {
      stopped = true;
      return -1;
    }
    return static_cast<int32_t>(count);
  }
  bool stopped = false;

 private:
  acekit_sink fn_;
  void* ctx_;
};

bool IsDirectory(const ArcEntry& e) {
  return (e.attr & acekit::format::kAttrDirectory) != 0;
}

// Decodes one entry into `sink` (null: only to carry a solid window on).
// Returns the engine status.
uint32_t DecodeOne(acekit_reader* r, const ArcEntry& e, acekit::platform::ByteSink* sink) {
  if (e.encrypted != 0) return acekit::kEncryptedEntry;
  if (e.orig_size > 0x7FFFFFFFu) return acekit::kUnsupported;
  if (!r->decoder) {
    r->decoder = decompress::NewDecoder();
    if (!r->decoder) return acekit::kNoMemory;
  }
  decompress::Decoder& d = *r->decoder;
  d.progress.hook = face::ProgressFor(r);
  d.progress.pending_phase = 0;
  const uint64_t data_at = uint64_t{e.header_offset} + e.head_size + 4;
  if (data_at > 0x7FFFFFFFu || platform::Seek(r->file, static_cast<int32_t>(data_at), 0) == -1) {
    return acekit::kCrcMismatch;
  }
  BoundedSource source(r->file, e.pack_size);
  decompress::DecoderStart(d, &source, static_cast<int32_t>(e.orig_size), r->solid, r->entry_number,
                           e.tech_type);
  uint32_t status = decompress::DecodeEntry(d, e.tech_type, sink);
  if (status == acekit::kOk && d.crc != e.crc32) status = acekit::kCrcMismatch;
  if (status == acekit::kOk) ++r->entry_number;
  return status;
}

// Decodes the current entry into `sink` (null: only to keep a solid window
// right). In a solid archive the entries passed over since the last one
// decoded go through the decoder first. Returns 0 or an error code recorded
// in the handle.
int DecodeCurrent(acekit_reader* r, acekit::platform::ByteSink* sink, bool* stopped) {
  const ArcEntry& e = r->current;
  if (r->solid && r->current_decoded) {
    return face::Fail(r, ACEKIT_E_INVALID, "a solid entry can be read once", r->name);
  }
  r->current_decoded = true;
  if (r->broken) {
    return face::Fail(r, ACEKIT_E_CORRUPT, "an earlier entry of the solid stream failed", r->name);
  }
  for (const ArcEntry& skipped : r->passed_over) {
    const uint32_t status = DecodeOne(r, skipped, nullptr);
    if (status != acekit::kOk) {
      r->broken = true;
      r->passed_over.clear();
      return face::FailStatus(r, status, "decoding an entry in front of", r->name);
    }
  }
  r->passed_over.clear();
  const uint32_t status = DecodeOne(r, e, sink);
  if (status == acekit::kOk) return ACEKIT_OK;
  if (r->solid) r->broken = true;
  if (stopped != nullptr && *stopped) {
    return face::Fail(r, ACEKIT_E_CANCELLED, "stopped by the sink while reading", r->name);
  }
  if (status == acekit::kShortWrite) return face::Fail(r, ACEKIT_E_WRITE, "writing", r->name);
  if (status == acekit::kUnsupported && e.orig_size > 0x7FFFFFFFu) {
    return face::Fail(r, ACEKIT_E_TOO_LARGE, "cannot decode", r->name);
  }
  return face::FailStatus(r, status, "decoding", r->name);
}

// The raw stored name of the header the record came from; the record's own
// copy is cut at 255 bytes after conversion, the stored bytes never are.
std::string RawName(acekit_reader* r, const ArcEntry& e) {
  constexpr uint32_t kNameAt = acekit::format::kFileHeaderFixed;
  if (r->held_size != 0 && r->held_at == e.header_offset && e.fname_size != 0 &&
      kNameAt + e.fname_size <= r->held_size) {
    return face::NameFromStored(reinterpret_cast<const char*>(r->held.data()) + kNameAt,
                                e.fname_size);
  }
  std::vector<char> raw(e.fname_size + 1, '\0');
  const bool ok =
      e.fname_size != 0 && e.header_offset <= 0x7FFFFFFFu - 64 &&
      platform::Seek(r->file, static_cast<int32_t>(e.header_offset) + kNameAt, 0) != -1 &&
      platform::Read(raw.data(), e.fname_size, r->file) == static_cast<int32_t>(e.fname_size);
  if (!ok) return face::NameFromStored(e.name, std::strlen(e.name));
  return face::NameFromStored(raw.data(), e.fname_size);
}

// ---- Extraction --------------------------------------------------------

#if defined(_WIN32)
constexpr char kSep = '\\';
#else
constexpr char kSep = '/';
#endif

// Splits a stored name into the parts it is written under, refusing
// anything that could reach outside the target folder.
bool SafeParts(const std::string& stored, std::vector<std::string>* parts, std::string* why) {
  if (stored.empty()) return *why = "empty name", false;
  if (stored[0] == '\\' || stored[0] == '/') return *why = "absolute name", false;
  if (stored.size() >= 2 && stored[1] == ':') return *why = "name with a drive", false;
  size_t start = 0;
  while (start <= stored.size()) {
    size_t end = stored.find_first_of("\\/", start);
    if (end == std::string::npos) end = stored.size();
    std::string part = stored.substr(start, end - start);
    if (part == "..") return *why = "name climbs out with '..'", false;
#if defined(_WIN32)
    if (part.find(':') != std::string::npos) return *why = "':' in a name", false;
#endif
    if (!part.empty() && part != ".") parts->push_back(std::move(part));
    start = end + 1;
  }
  if (parts->empty()) return *why = "empty name", false;
  return true;
}

// Creates `root` and the folders in front of it as needed.
bool MakeRoot(const std::string& root) {
  if (platform::IsExistingDirectory(root.c_str())) return true;
  for (size_t i = 1; i <= root.size(); ++i) {
    if (i == root.size() || root[i] == '/' || root[i] == '\\') {
      const std::string prefix = root.substr(0, i);
      if (!platform::IsExistingDirectory(prefix.c_str())) platform::CreateDir(prefix.c_str());
    }
  }
  return platform::IsExistingDirectory(root.c_str());
}

// `below` (parts joined with `\\`) as a path under `root` in the system's
// form, for failure texts.
std::string Shown(const std::string& root, std::string below) {
  for (char& c : below) {
    if (c == '\\') c = kSep;
  }
  return below.empty() ? root : root + kSep + below;
}

// Writes the current entry below `root` the way the operations extract: the
// folders are walked without following a link, a name Windows would take
// for a device or trim is defused on every system, and a file is written to
// a temporary file beside its name that takes the name once complete.
// 1 written, 0 kept, <0 error.
int ExtractCurrent(acekit_reader* r, const std::string& root, unsigned flags) {
  using Result = platform::SafeDir::Result;
  using Kind = platform::SafeDir::Kind;
  const ArcEntry& e = r->current;
  std::vector<std::string> parts;
  std::string why;
  // An entry left undecoded here is passed over by the next call, which
  // keeps a solid window right.
  if (!SafeParts(r->name, &parts, &why)) return face::Fail(r, ACEKIT_E_UNSAFE, why, r->name);
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : "\\") + part;
  // Defusing puts at most one `_` in front of and one in place of the end
  // of each part.
  std::vector<char> defused(2 * joined.size() + 2, '\0');
  std::memcpy(defused.data(), joined.data(), joined.size());
  if (!acekit::ops::DefuseDeviceNames(defused.data(), defused.size())) {
    return face::Fail(r, ACEKIT_E_TOO_LARGE, "name too long", r->name);
  }
  const std::string below(defused.data());
  const bool directory = IsDirectory(e);
  const size_t cut = directory ? below.size() : below.rfind('\\');
  const std::string folders = cut == std::string::npos ? std::string() : below.substr(0, cut);
  const std::string file =
      directory ? std::string() : below.substr(folders.size() + (cut != std::string::npos));
  platform::SafeDir dir;
  size_t link_end = 0;
  switch (dir.Open(root.c_str(), folders.c_str(), true, &link_end)) {
    case Result::kOk:
      break;
    case Result::kLink:
      return face::Fail(r, ACEKIT_E_UNSAFE, "a link stands in the way",
                        Shown(root, folders.substr(0, link_end)));
    case Result::kMissing:
    case Result::kFailed:
      return face::Fail(r, ACEKIT_E_OPEN, "cannot create folder", Shown(root, folders), true);
  }
  if (directory) return 1;
  const std::string target = Shown(root, below);
  const uint32_t attributes = e.attr & ~acekit::format::kAttrDirectory;
  // Where nothing stands yet the file is made at its own name, exclusively:
  // nothing there can be written through or spoilt, and no rename is due.
  char temp[platform::SafeDir::kTempNameSize] = {};
  platform::Handle out = dir.CreateNew(file.c_str(), attributes);
  if (out == platform::kBadHandle) {
    const Kind kind = dir.Lookup(file.c_str());
    if (kind == Kind::kDirectory) {
      return face::Fail(r, ACEKIT_E_EXISTS, "a folder has the name of a file", target);
    }
    if (kind == Kind::kNone) return face::Fail(r, ACEKIT_E_OPEN, "cannot create", target, true);
    if ((flags & ACEKIT_EXTRACT_KEEP) != 0) return 0;
    out = dir.CreateTemp(temp, attributes);
    if (out == platform::kBadHandle)
      return face::Fail(r, ACEKIT_E_OPEN, "cannot create", target, true);
  }
  const bool made_new = temp[0] == '\0';
  acekit::platform::FileSink sink(out);
  const int rc = DecodeCurrent(r, &sink, nullptr);
  if (rc < 0) {
    platform::Close(out);
    dir.Remove(made_new ? file.c_str() : temp);
    return rc;
  }
  if (made_new) {
    dir.FinishNew(out, file.c_str(), attributes, e.ftime);
    return 1;
  }
  if (!dir.Commit(out, temp, file.c_str(), attributes, e.ftime)) {
    const int code = face::Fail(r, ACEKIT_E_OPEN, "cannot put in place", target, true);
    dir.Remove(temp);
    return code;
  }
  return 1;
}

// ---- Salvage --------------------------------------------------------------

uint64_t FileSize(acekit_reader* r) {
  if (r->file_size < 0) {
    const int32_t size = platform::Size(r->file);
    if (size < 0) return 0;
    r->file_size = static_cast<uint32_t>(size);
  }
  return static_cast<uint64_t>(r->file_size);
}

// True when a header starts at `at` whose checksum holds; its HEAD_SIZE in
// *head_size (0 when not even that could be read). A header that holds is
// kept in the handle for the walk to take its fields from.
// Reads `size` bytes from `at` into the block ahead; false when the seek or
// the read fails. A short read leaves the block short.
bool ReadAhead(acekit_reader* r, uint32_t at, uint32_t size) {
  r->ahead_size = 0;
  if (platform::Seek(r->file, static_cast<int32_t>(at), 0) == -1) return false;
  if (r->ahead.size() < size) r->ahead.resize(size);
  const int32_t got = platform::Read(r->ahead.data(), size, r->file);
  if (got < 0) return false;
  r->ahead_at = at;
  r->ahead_size = static_cast<uint32_t>(got);
  return true;
}

bool AheadHolds(const acekit_reader* r, uint32_t at, uint32_t size) {
  return r->ahead_size != 0 && at >= r->ahead_at && at - r->ahead_at <= r->ahead_size &&
         r->ahead_size - (at - r->ahead_at) >= size;
}

// The bytes of the header at h that the walk reads, counted from its start;
// the name's length is cut as the walk cuts it.
uint32_t WalkReads(const uint8_t* h, uint32_t size) {
  using acekit::format::kFileHeaderFixed;
  if (h[4] == acekit::format::kHeadRecovery) return acekit::format::kFrameSize + 4;
  if (h[4] != acekit::format::kHeadFile) return acekit::format::kFrameSize;
  if (size < kFileHeaderFixed) return kFileHeaderFixed;
  return kFileHeaderFixed + std::min<uint32_t>(acekit::format::Get16(h + kFileHeaderFixed - 2),
                                               acekit::format::kStoredNameMax);
}

bool HeaderHolds(acekit_reader* r, uint32_t at, uint32_t* head_size) {
  // A block holds the next headers when they are close together; where they
  // are far apart, a small one only the header. The last distance decides.
  constexpr uint32_t kNear = 1u << 16;
  constexpr uint32_t kFar = 1u << 12;
  const uint32_t gap = at > r->last_checked ? at - r->last_checked : UINT32_MAX;
  const uint32_t block = gap <= kNear / 4 ? kNear : kFar;
  r->last_checked = at;
  *head_size = 0;
  r->held_size = 0;
  if (at > 0x7FFFFFFFu) return false;
  if (!AheadHolds(r, at, 4) && !ReadAhead(r, at, block)) return false;
  if (!AheadHolds(r, at, 4)) return false;
  *head_size = acekit::format::Get16(r->ahead.data() + (at - r->ahead_at) + 2);
  if (*head_size < acekit::format::kFrameSize - 4) return false;
  const uint32_t size = 4 + *head_size;
  if (!AheadHolds(r, at, size) && !ReadAhead(r, at, std::max(block, size))) return false;
  if (!AheadHolds(r, at, size)) return false;
  const uint8_t* h = r->ahead.data() + (at - r->ahead_at);
  if (acekit::format::HeaderCrc(h + 4, *head_size) != acekit::format::Get16(h)) return false;
  // What the walk reads past the header comes from the file, which must
  // then stand right behind it.
  if (WalkReads(h, size) > size &&
      platform::Seek(r->file, static_cast<int32_t>(at + size), 0) == -1) {
    return false;
  }
  r->held.assign(h, h + size);
  r->held_at = at;
  r->held_size = size;
  return true;
}

// The offset of the first file or recovery header after `from` whose
// checksum holds, or -1. The file is read in blocks larger than any header,
// so a candidate that runs past a block is read again at the next one.
int64_t FindNextHeader(acekit_reader* r, uint32_t from) {
  constexpr uint32_t kBlock = 1u << 18;
  std::vector<uint8_t> block(kBlock);
  uint64_t base = uint64_t{from} + 1;
  while (base < 0x7FFFFFFFu) {
    if (platform::Seek(r->file, static_cast<int32_t>(base), 0) == -1) return -1;
    const int32_t got = platform::Read(block.data(), kBlock, r->file);
    if (got < static_cast<int32_t>(acekit::format::kFrameSize)) return -1;
    const auto n = static_cast<uint32_t>(got);
    const bool last = n < kBlock;
    uint32_t p = 0;
    bool reload = false;
    for (; p + acekit::format::kFrameSize <= n; ++p) {
      const uint8_t type = block[p + 4];
      if (type != acekit::format::kHeadFile && type != acekit::format::kHeadRecovery) continue;
      const uint32_t size = acekit::format::Get16(&block[p + 2]);
      if (size < (type == acekit::format::kHeadFile ? acekit::format::kFileHeaderFixed - 4 : 7u))
        continue;
      if (p + 4 + size > n) {
        if (last) continue;
        reload = true;
        break;
      }
      if (acekit::format::HeaderCrc(&block[p + 4], size) == acekit::format::Get16(&block[p])) {
        return static_cast<int64_t>(base + p);
      }
    }
    if (!reload && last) return -1;
    base += p;
  }
  return -1;
}

// The end of the archive as salvage saw it, reached at `at`.
int EndAt(acekit_reader* r, uint64_t at, bool truncated) {
  r->at_end = true;
  r->damage = acekit_damage{};
  r->damage.offset = FileSize(r);
  if (truncated) r->damage.flags |= ACEKIT_DAMAGE_TRUNCATED;
  if (r->gap_size > 0 || (!truncated && at < r->damage.offset)) {
    r->damage.flags |= ACEKIT_DAMAGE_GAP;
    r->damage.gap_offset = r->gap_size > 0 ? r->gap_offset : at;
    r->damage.gap_size = r->damage.offset - r->damage.gap_offset;
  }
  return 0;
}

// Positions the walk on the next header worth reading: the one at the
// cursor when its checksum holds, or the one a damaged header's sizes lead
// to when a sound header stands there (the damage is then inside the
// header), or else the next sound header, remembering the bytes skipped.
// Returns 1 with *flags set, or 0 at the end of the archive.
int SalvageSeek(acekit_reader* r, unsigned* flags) {
  acekit::format::ArcState& arc = r->state.arc;
  const uint64_t size = FileSize(r);
  for (;;) {
    const uint32_t at = arc.header_cursor;
    if (at >= size) return EndAt(r, at, r->cut);
    uint32_t head_size = 0;
    if (HeaderHolds(r, at, &head_size)) return 1;
    const int64_t found = FindNextHeader(r, at);
    // A header whose sizes lead to the next sound header, or exactly to the
    // end of the file, is damaged only inside.
    uint8_t raw[acekit::format::kFileHeaderFixed] = {};
    const bool parsed =
        platform::Seek(r->file, static_cast<int32_t>(at), 0) != -1 &&
        platform::Read(raw, sizeof raw, r->file) == static_cast<int32_t>(sizeof raw) &&
        raw[4] == acekit::format::kHeadFile;
    const uint64_t leads_to = uint64_t{at} + 4 + acekit::format::Get16(raw + 2) +
                              (raw[7] | raw[8] << 8 | raw[9] << 16 | uint32_t{raw[10]} << 24);
    if (parsed && leads_to == (found < 0 ? size : static_cast<uint64_t>(found))) {
      *flags |= ACEKIT_DAMAGE_HEADER;
      return 1;
    }
    if (found < 0) {
      // Nothing sound after it: a header the file's end cut, or a damaged tail.
      const bool cut = head_size == 0 || uint64_t{at} + 4 + head_size > size;
      if (cut && r->gap_size == 0) return EndAt(r, at, true);
      if (r->gap_size == 0) r->gap_offset = at;
      return EndAt(r, at, cut);
    }
    if (r->gap_size == 0) r->gap_offset = at;
    r->gap_size = static_cast<uint64_t>(found) - r->gap_offset;
    arc.header_cursor = static_cast<uint32_t>(found);
  }
}

// The name of a host system by the code the information block gives it.
const char* HostName(int32_t code) {
  switch (code) {
    case 1:
      return "MS-DOS";
    case 2:
      return "OS/2";
    case 3:
      return "Windows";
    case 4:
      return "Windows NT";
    case 5:
      return "Unix";
    case 6:
      return "Mac OS";
    case 8:
      return "Atari";
    case 9:
      return "VAX VMS";
    case 10:
      return "Amiga";
    case 11:
      return "NeXT";
    default:
      return "unknown";
  }
}

// ---- One run over the rest of the archive ---------------------------------

// An entry as the walk met it, with what the caller chose.
struct Walked {
  ArcEntry rec;
  std::string name;
  std::string comment;
  acekit_damage damage;
  bool selected;
  bool fresh;  // starts a stream of its own
  // Unpacked once: each conversion asks the system for the time zone again.
  int64_t mtime;
};

// The walk's entries: a deque, since they are large and their number is
// not known ahead; a growing vector would copy them all again and again.
using Walks = std::deque<Walked>;

// Turns the operation's reports into events: which entry is being written
// is told by its name, in the order of the list the driver walks.
class EachRun {
 public:
  EachRun(acekit_reader* r, Walks& all, acekit_event_fn fn, void* ctx, bool test)
      : r_(r), all_(all), fn_(fn), ctx_(ctx), test_(test) {}

  int Emit(int kind, size_t i, const char* path = nullptr, int error = 0,
           const char* message = nullptr, const FindData* existing = nullptr) {
    const Walked& w = all_[i];
    acekit_entry e{};
    e.name = w.name.c_str();
    e.size = w.rec.orig_size;
    e.packed_size = w.rec.pack_size;
    e.mtime = w.mtime;
    e.crc32 = ~w.rec.crc32;
    e.attributes = w.rec.attr;
    e.is_dir = IsDirectory(w.rec) ? 1 : 0;
    e.is_encrypted = w.rec.encrypted != 0 ? 1 : 0;
    e.comment = w.comment.empty() ? nullptr : w.comment.c_str();
    acekit_event ev{};
    ev.kind = kind;
    ev.entry = &e;
    ev.damage = &w.damage;
    ev.path = path;
    ev.error = error;
    ev.message = message;
    if (existing != nullptr) {
      ev.existing_is_dir = (existing->attributes & acekit::format::kAttrDirectory) != 0 ? 1 : 0;
      ev.existing_size = uint64_t{existing->size_high} << 32 | existing->size_low;
      const uint64_t ticks =
          uint64_t{existing->last_write_time.high} << 32 | existing->last_write_time.low;
      ev.existing_mtime = static_cast<int64_t>(ticks / 10000000u) - 11644473600LL;
    }
    return fn_ != nullptr ? fn_(ctx_, &ev) : (kind == ACEKIT_EVENT_SELECT ? 1 : 0);
  }

  // The entries of the list being run, in its order, by their index in all_.
  void Begin(std::vector<size_t> order) {
    order_ = std::move(order);
    at_ = 0;
    open_ = kNone;
  }
  // The entry shown last has come through: anything after it is reported.
  void Settle(size_t failed) {
    if (open_ != kNone && open_ != failed) Done();
    open_ = kNone;
  }
  const std::string& target() const { return target_; }
  int done() const { return done_; }

  void Install(acekit::HostHooks& hooks) {
    hooks.file_name.proc = &EachRun::OnName;
    hooks.file_name.ctx = reinterpret_cast<ArcContext>(this);
    hooks.replace.proc = &EachRun::OnReplace;
    hooks.replace.ctx = reinterpret_cast<ArcContext>(this);
    hooks.progress = face::ProgressFor(r_);
  }

 private:
  static constexpr size_t kNone = SIZE_MAX;

  void Done() {
    Emit(ACEKIT_EVENT_DONE, open_, test_ ? nullptr : target_.c_str());
    ++done_;
  }

  static int32_t ACEKIT_CALL OnName(ArcContext ctx, const char* source, const char* target) {
    auto* self = reinterpret_cast<EachRun*>(ctx);
    if (self->open_ != kNone) self->Done();
    self->open_ = kNone;
    const char* stored = source != nullptr && source[0] == '\\' ? source + 1 : "";
    while (self->at_ < self->order_.size() &&
           std::strcmp(self->all_[self->order_[self->at_]].rec.name, stored) != 0) {
      ++self->at_;
    }
    if (self->at_ == self->order_.size()) return 1;
    self->open_ = self->order_[self->at_++];
    self->target_ = target != nullptr ? target : "";
#if !defined(_WIN32)
    for (char& c : self->target_) {
      if (c == '\\') c = '/';
    }
#endif
    while (self->target_.size() > 1 && self->target_.back() == kSep) self->target_.pop_back();
    self->Emit(ACEKIT_EVENT_START, self->open_, self->test_ ? nullptr : self->target_.c_str());
    return 1;
  }

  static int32_t ACEKIT_CALL OnReplace(ArcContext ctx, const FindData* existing,
                                       const FindData* incoming) {
    auto* self = reinterpret_cast<EachRun*>(ctx);
    if (self->open_ == kNone || existing == nullptr || incoming == nullptr)
      return acekit::kAnswerReplace;
    // A folder that is there already loses nothing.
    const bool old_dir = (existing->attributes & acekit::format::kAttrDirectory) != 0;
    if (old_dir && (incoming->attributes & acekit::format::kAttrDirectory) != 0)
      return acekit::kAnswerReplace;
    const int answer =
        self->Emit(ACEKIT_EVENT_EXISTS, self->open_, self->target_.c_str(), 0, nullptr, existing);
    if (answer == ACEKIT_KEEP) {
      self->open_ = kNone;
      return acekit::kAnswerKeep;
    }
    return answer == ACEKIT_STOP ? acekit::kAnswerStop : acekit::kAnswerReplace;
  }

  acekit_reader* r_;
  Walks& all_;
  acekit_event_fn fn_;
  void* ctx_;
  bool test_;
  std::vector<size_t> order_;
  size_t at_ = 0;
  size_t open_ = kNone;  // shown, not yet through
  std::string target_;
  int done_ = 0;
};

// A failure that the data of one entry explains, after which the next
// entry can still be read.
bool IsDamage(int code) {
  return code == ACEKIT_E_CRC || code == ACEKIT_E_CORRUPT || code == ACEKIT_E_READ ||
         code == ACEKIT_E_ENCRYPTED || code == ACEKIT_E_UNSUPPORTED;
}

// Walks the rest of the archive with salvage, asking about each entry;
// `walked(i)` follows each entry's question.
template <typename OnWalked>
int WalkForEach(acekit_reader* r, EachRun& run, bool flat, Walks* all, OnWalked walked) {
  r->salvage = true;
  acekit_entry e;
  for (;;) {
    const int more = acekit_reader_next(r, &e);
    if (more <= 0) {
      r->passed_over.clear();
      return more;
    }
    Walked w{r->current, r->name, r->comment, r->damage, false, false, e.mtime};
    w.fresh = (w.rec.head_flags & acekit::format::kFileFlagSolid) == 0 && !IsDirectory(w.rec);
    // The operations take names in the host's code page, a directory's
    // ending in its separator even where the conversion widened it.
    acekit::format::NameToAnsi(w.rec.name, w.rec.name, sizeof w.rec.name);
    if (IsDirectory(w.rec)) {
      size_t len = std::strlen(w.rec.name);
      if (len == 0 || w.rec.name[len - 1] != '\\') {
        if (len + 2 > sizeof w.rec.name) len = sizeof w.rec.name - 2;
        w.rec.name[len] = '\\';
        w.rec.name[len + 1] = '\0';
      }
    }
    all->push_back(std::move(w));
    if (!flat || !e.is_dir)
      all->back().selected = run.Emit(ACEKIT_EVENT_SELECT, all->size() - 1) != 0;
    walked(all->size() - 1);
  }
}

int ExtractEach(acekit_reader* r, const char* dir, unsigned flags, acekit_event_fn fn, void* ctx) {
  const bool test = (flags & ACEKIT_EACH_TEST) != 0;
  const bool flat = (flags & ACEKIT_EACH_FLAT) != 0;
  if (r->solid && r->started) {
    return face::Fail(r, ACEKIT_E_INVALID,
                      "a solid archive is extracted in one run from its start");
  }
  Walks all;
  EachRun run(r, all, fn, ctx, test);
  acekit::format::Settings& settings = r->state.settings;
  settings.options = flat ? 0 : ACEKIT_OPTION_KEEP_PATHS;
  std::string out = test || dir == nullptr || dir[0] == '\0' ? std::string(".") : std::string(dir);
  // A folder too long to take a name is kept cut, too long to be used: each
  // entry then fails with a path that would be too long.
  const size_t n = std::min(out.size(), sizeof settings.output_path - 1);
  std::memcpy(settings.output_path, out.data(), n);
  settings.output_path[n] = '\0';
  platform::HostSeparators(settings.output_path);
  if (settings.output_path[n - 1] != '\\' && n + 1 < acekit::format::kPathSize) {
    settings.output_path[n] = '\\';
    settings.output_path[n + 1] = '\0';
  }
  run.Install(r->state.hooks);
  const acekit::ops::ExtractMode mode =
      test ? acekit::ops::ExtractMode::kTest : acekit::ops::ExtractMode::kExtract;
  acekit::ops::Context op = r->state.Context();
  const auto lost = [&](size_t i) {
    return (all[i].damage.flags & ACEKIT_DAMAGE_LOST) != 0 && !IsDirectory(all[i].rec);
  };

  // The entries the first extraction will list are read and decoded ahead
  // while the walk goes on: those taken up to the first one lost (a solid
  // archive's from its start, taken or not). Nothing is reported before
  // the walk is through, so every question still comes first.
  std::optional<acekit::ops::ListedExtract> ahead;
  ahead.emplace(op, mode, r->threads);
  if (!ahead->Begin()) ahead.reset();
  std::vector<ArcEntry*> grown;
  bool growing = ahead.has_value();
  const auto grow = [&](size_t k) {
    if (!growing) return;
    if (lost(k)) {
      growing = false;
      return;
    }
    if (!r->solid && !all[k].selected) return;
    ArcEntry& node = all[k].rec;
    node.next = nullptr;
    if (!grown.empty()) grown.back()->next = &node;
    grown.push_back(&node);
    ahead->Grow(&node);
  };
  if (const int rc = WalkForEach(r, run, flat, &all, grow); rc < 0) return rc;
  const auto report_lost = [&](size_t i) {
    if (all[i].selected && !IsDirectory(all[i].rec)) run.Emit(ACEKIT_EVENT_LOST, i);
  };

  // Files a damaged stream took with it.
  std::vector<bool> gone(all.size(), false);
  size_t i = 0;
  while (i < all.size()) {
    if (lost(i)) {
      report_lost(i++);
      continue;
    }
    // A stretch the walk found whole: [i, end).
    size_t end = i;
    while (end < all.size() && !lost(end)) ++end;
    size_t from = i;   // where the list starts
    size_t write = i;  // where the entries to write start
    while (write < end) {
      // The list is linked through the walk's own records; a solid
      // archive's selection, a second list of the same entries, needs
      // copies of its own.
      std::vector<size_t> order;
      std::vector<ArcEntry> chosen;
      ArcFileList list{};
      ArcEntry* tail = nullptr;
      int32_t wanted = 0;  // the list's length up to its last entry taken
      for (size_t k = r->solid ? from : write; k < end; ++k) {
        const bool take = all[k].selected && k >= write;
        if ((!r->solid && !take) || gone[k]) continue;
        ArcEntry& node = all[k].rec;
        node.next = nullptr;
        (tail != nullptr ? tail->next : list.first) = &node;
        tail = &node;
        ++list.count;
        if (take) {
          order.push_back(k);
          // In a solid archive the entries after the last one wanted need no decoding.
          list.last = tail;
          wanted = list.count;
        }
      }
      if (order.empty()) break;
      list.last->next = nullptr;
      list.count = wanted;
      ArcFileList selection{};
      if (r->solid) {
        chosen.reserve(order.size());
        for (const size_t k : order) chosen.push_back(all[k].rec);
        for (size_t n = 0; n < chosen.size(); ++n)
          chosen[n].next = n + 1 < chosen.size() ? &chosen[n + 1] : nullptr;
        selection.first = chosen.data();
        selection.last = &chosen.back();
        selection.count = static_cast<int32_t>(chosen.size());
      }
      run.Begin(order);
      r->state.arc.status = acekit::kOk;
      const ArcEntry* at = nullptr;
      if (ahead) {
        // The list must be what was read ahead, or the start of it.
        size_t n = 0;
        const ArcEntry* e = list.first;
        for (; e != nullptr && n < grown.size() && e == grown[n]; e = e->next) ++n;
        if (e != nullptr || n == 0) ahead.reset();
      }
      const uint32_t status =
          ahead ? ahead->Run(list, r->solid ? &selection : nullptr, &at)
                : acekit::ops::ExtractList(op, list, mode, r->solid ? &selection : nullptr,
                                           r->threads, &at);
      ahead.reset();
      r->state.arc.status = status;
      size_t failed = SIZE_MAX;
      for (size_t k = r->solid ? from : write; at != nullptr && k < end; ++k) {
        if (&all[k].rec == at) {
          failed = k;
          break;
        }
      }
      run.Settle(failed);
      if (status == acekit::kOk) break;
      const int code = face::CodeOf(status);
      if (code == ACEKIT_E_CANCELLED) {
        return face::Fail(r, code, "stopped", r->path);
      }
      if (at == nullptr) return face::FailStatus(r, status, "extracting", r->path);
      const Walked& f = all[failed];
      std::string message;
      if (IsDamage(code)) {
        face::FailStatus(r, status, "decoding", f.name);
        message = r->error;
        run.Emit(ACEKIT_EVENT_DAMAGED, failed, nullptr, code, message.c_str());
        write = failed + 1;
        if (r->solid) {
          // What continues its stream is lost with it.
          from = write;
          for (; write < end && !all[write].fresh; ++write) {
            if (IsDirectory(all[write].rec)) continue;
            gone[write] = true;
            report_lost(write);
          }
          write = from;
        }
        continue;
      }
      const bool no_room = run.target().empty() && !test;
      const int why = no_room ? ACEKIT_E_TOO_LARGE : code;
      face::Fail(r, why, no_room ? "its path would be too long" : "cannot write",
                 no_room ? f.name : run.target(), !no_room);
      message = r->error;
      if (run.Emit(ACEKIT_EVENT_FAILED, failed, run.target().c_str(), why, message.c_str()) != 0) {
        return why;
      }
      // In a solid archive the entries in front of it are decoded again,
      // without being written, to take the stream up behind it.
      write = failed + 1;
      if (r->solid) {
        size_t start = failed;
        while (start > from && !all[start].fresh) --start;
        from = start;
      }
    }
    i = end;
  }
  return run.done();
}

bool Valid(acekit_reader* r) {
  return r != nullptr && r->magic == face::kReaderMagic;
}

}  // namespace

extern "C" {

ACEKIT_PUBLIC int acekit_reader_open(acekit_reader** out, const char* path) {
  if (out == nullptr) return face::Fail(nullptr, ACEKIT_E_INVALID, "no handle to fill");
  *out = nullptr;
  if (path == nullptr) return face::Fail(nullptr, ACEKIT_E_INVALID, "no path");
  auto* r = new (std::nothrow) acekit_reader();
  if (r == nullptr) return face::Fail(nullptr, ACEKIT_E_NOMEM, "opening", path);
  r->path = path;
  const uint32_t st =
      acekit::ops::OpenArchive(r->state.arc, path, acekit::ops::UnreadableHead::kReadFailure);
  if (st != acekit::kOk) {
    const int code = st == acekit::kNotFound
                         ? face::Fail(nullptr, ACEKIT_E_NOT_FOUND, "no archive", path)
                         : face::FailStatus(nullptr, st, "opening", path);
    delete r;
    return code;
  }
  r->file = platform::Open(path, 'r');
  if (r->file == platform::kBadHandle) {
    const int code = face::Fail(nullptr, ACEKIT_E_OPEN, "opening", path, true);
    delete r;
    return code;
  }
  acekit::format::ArcState& arc = r->state.arc;
  r->solid = arc.solid != 0;
  arc.read_file_comments = 1;
  arc.header_cursor = arc.first_entry_offset;
  r->at_end = arc.first_entry_offset == 0;
  if (arc.main_comment != nullptr && arc.main_comment_length > 0) {
    r->main_comment.assign(arc.main_comment, static_cast<size_t>(arc.main_comment_length));
    r->main_comment.resize(std::strlen(r->main_comment.c_str()));
  }
  *out = r;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_reader_next(acekit_reader* r, acekit_entry* e) {
  if (!Valid(r) || e == nullptr) return ACEKIT_E_INVALID;
  r->started = true;
  if (r->have_current && r->solid && !r->current_decoded && !IsDirectory(r->current) &&
      !r->broken) {
    // Decoded only when a later entry is read: a listing costs no decoding.
    try {
      r->passed_over.push_back(r->current);
    } catch (const std::bad_alloc&) {
      return face::Fail(r, ACEKIT_E_NOMEM, "listing", r->path);
    }
  }
  r->have_current = false;
  if (r->at_end) return 0;
  acekit::format::ArcState& arc = r->state.arc;
  const acekit::format::CommentReader comments = acekit::ops::CommentReaderFor(r->comments);
  for (;;) {
    unsigned damage = 0;
    r->held_size = 0;
    if (r->salvage && SalvageSeek(r, &damage) == 0) return 0;
    ArcEntry rec{};
    arc.status = acekit::kOk;
    const acekit::format::HeldHeader held{r->held_at, r->held.data(), r->held_size};
    const bool got = acekit::format::ReadNextHeader(arc, r->file, rec, comments,
                                                    r->held_size != 0 ? &held : nullptr);
    if (r->salvage && got && rec.head_type == acekit::format::kHeadFile) {
      // A chain that lost bytes cannot go on; a fresh one can be decoded.
      const bool fresh =
          (rec.head_flags & acekit::format::kFileFlagSolid) == 0 && !IsDirectory(rec);
      if (r->gap_size > 0 && !fresh) r->broken = true;
      if (fresh && r->solid) {
        r->broken = false;
        r->passed_over.clear();
      }
      r->damage = acekit_damage{};
      r->damage.flags = damage;
      r->damage.offset = rec.header_offset;
      if (r->gap_size > 0) {
        r->damage.flags |= ACEKIT_DAMAGE_GAP;
        r->damage.gap_offset = r->gap_offset;
        r->damage.gap_size = r->gap_size;
        r->gap_size = 0;
      }
      const uint64_t end = uint64_t{rec.header_offset} + 4 + rec.head_size + rec.pack_size;
      if (end > FileSize(r)) {
        r->damage.flags |= ACEKIT_DAMAGE_CUT;
        r->cut = true;
        arc.header_cursor = 0x80000000u;
      }
      if (r->broken && !IsDirectory(rec)) r->damage.flags |= ACEKIT_DAMAGE_LOST;
      if (damage & ACEKIT_DAMAGE_HEADER) arc.status = acekit::kOk;
    }
    if (!got) {
      r->at_end = true;
      platform::Free(rec.comment);
      if (arc.status != acekit::kOk) {
        return face::FailStatus(r, arc.status, "reading headers", r->path);
      }
      // The walk takes a failed read for the end of the archive; only the
      // file's size tells the two apart.
      const int32_t size = platform::Size(r->file);
      if (arc.header_cursor < 0x80000000u &&
          (size < 0 || arc.header_cursor < static_cast<uint32_t>(size))) {
        return face::Fail(r, ACEKIT_E_READ, "the headers stop before the end of", r->path, true);
      }
      return 0;
    }
    if (arc.status != acekit::kOk) {
      platform::Free(rec.comment);
      r->at_end = true;
      return face::Fail(r, ACEKIT_E_CORRUPT, "the archive ends inside a header", r->path);
    }
    if (rec.head_type != acekit::format::kHeadFile) {
      platform::Free(rec.comment);
      continue;
    }
    r->current = rec;
    r->current.next = nullptr;
    r->have_current = true;
    r->current_decoded = false;
    r->name = RawName(r, rec);
    r->comment.clear();
    if (rec.comment != nullptr) r->comment = rec.comment;
    platform::Free(rec.comment);
    r->current.comment = nullptr;
    break;
  }
  const ArcEntry& c = r->current;
  *e = acekit_entry{};
  e->name = r->name.c_str();
  e->size = c.orig_size;
  e->packed_size = c.pack_size;
  if (!r->time_known || r->packed_time != c.ftime) {
    r->packed_time = c.ftime;
    r->unpacked_time = face::UnpackTime(c.ftime);
    r->time_known = true;
  }
  e->mtime = r->unpacked_time;
  e->crc32 = ~c.crc32;
  e->attributes = c.attr;
  e->is_dir = IsDirectory(c) ? 1 : 0;
  e->is_encrypted = c.encrypted != 0 ? 1 : 0;
  e->comment = r->comment.empty() ? nullptr : r->comment.c_str();
  return 1;
}

ACEKIT_PUBLIC int acekit_reader_read(acekit_reader* r, acekit_sink sink, void* ctx) {
  if (!Valid(r)) return ACEKIT_E_INVALID;
  if (!r->have_current) return face::Fail(r, ACEKIT_E_INVALID, "no entry to read");
  if (IsDirectory(r->current)) return ACEKIT_OK;
  CallbackSink out(sink, ctx);
  return DecodeCurrent(r, &out, &out.stopped);
}

ACEKIT_PUBLIC int acekit_reader_extract(acekit_reader* r, const char* dir, unsigned flags) {
  if (!Valid(r) || dir == nullptr) return ACEKIT_E_INVALID;
  if (!r->have_current) return face::Fail(r, ACEKIT_E_INVALID, "no entry to extract");
  std::string root(dir);
  if (root.empty()) root = ".";
  if (!MakeRoot(root)) return face::Fail(r, ACEKIT_E_OPEN, "cannot create folder", root, true);
  const int rc = ExtractCurrent(r, root, flags);
  return rc < 0 ? rc : ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_reader_extract_all(acekit_reader* r, const char* dir, unsigned flags) {
  if (!Valid(r) || dir == nullptr) return ACEKIT_E_INVALID;
  std::string root(dir);
  if (root.empty()) root = ".";
  if (!MakeRoot(root)) return face::Fail(r, ACEKIT_E_OPEN, "cannot create folder", root, true);
  int written = 0;
  acekit_entry e;
  for (;;) {
    const int more = acekit_reader_next(r, &e);
    if (more < 0) return more;
    if (more == 0) return written;
    const int rc = ExtractCurrent(r, root, flags);
    if (rc < 0) return rc;
    written += rc;
  }
}

ACEKIT_PUBLIC int acekit_reader_extract_each(acekit_reader* r, const char* dir, unsigned flags,
                                             acekit_event_fn fn, void* ctx) {
  if (!Valid(r) || (flags & ~(ACEKIT_EACH_FLAT | ACEKIT_EACH_TEST)) != 0) return ACEKIT_E_INVALID;
  if (dir == nullptr && (flags & ACEKIT_EACH_TEST) == 0) return ACEKIT_E_INVALID;
  try {
    return ExtractEach(r, dir, flags, fn, ctx);
  } catch (const std::bad_alloc&) {
    return face::Fail(r, ACEKIT_E_NOMEM, "extracting", r->path);
  }
}

ACEKIT_PUBLIC int acekit_reader_set_threads(acekit_reader* r, int threads) {
  if (!Valid(r) || threads < 0) return ACEKIT_E_INVALID;
  r->threads = threads < platform::kMaxThreads ? threads : platform::kMaxThreads;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_reader_set_flags(acekit_reader* r, unsigned flags) {
  if (!Valid(r) || (flags & ~ACEKIT_READER_SALVAGE) != 0) return ACEKIT_E_INVALID;
  r->salvage = (flags & ACEKIT_READER_SALVAGE) != 0;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_reader_damage(acekit_reader* r, acekit_damage* d) {
  if (!Valid(r) || d == nullptr) return ACEKIT_E_INVALID;
  *d = r->damage;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_reader_info(acekit_reader* r, acekit_archive_info* info) {
  if (!Valid(r) || info == nullptr) return ACEKIT_E_INVALID;
  const acekit::format::ArcState& arc = r->state.arc;
  *info = acekit_archive_info{};
  info->version_major = static_cast<int>(arc.version_needed / 10);
  info->version_minor = static_cast<int>(arc.version_needed % 10);
  info->is_solid = r->solid ? 1 : 0;
  info->host_system = HostName(acekit::format::HostOsCode(arc.host_system));
  info->has_recovery_record = arc.recovery_record != 0 ? 1 : 0;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_reader_details(acekit_reader* r, acekit_entry_details* d) {
  if (!Valid(r) || d == nullptr) return ACEKIT_E_INVALID;
  if (!r->have_current) return face::Fail(r, ACEKIT_E_INVALID, "no entry to describe");
  const ArcEntry& c = r->current;
  *d = acekit_entry_details{};
  d->dictionary_kb = acekit::format::DictionaryKb(c.dict_code);
  d->is_stored = c.tech_type == 0 ? 1 : 0;
  d->header_offset = c.header_offset;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC const char* acekit_reader_comment(acekit_reader* r) {
  if (!Valid(r) || r->main_comment.empty()) return nullptr;
  return r->main_comment.c_str();
}

ACEKIT_PUBLIC int acekit_reader_is_solid(acekit_reader* r) {
  if (!Valid(r)) return ACEKIT_E_INVALID;
  return r->solid ? 1 : 0;
}

ACEKIT_PUBLIC int acekit_reader_set_progress(acekit_reader* r, acekit_progress fn, void* ctx) {
  if (!Valid(r)) return ACEKIT_E_INVALID;
  r->progress = fn;
  r->progress_ctx = ctx;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC void acekit_reader_close(acekit_reader* r) {
  if (Valid(r)) delete r;
}

}  // extern "C"
