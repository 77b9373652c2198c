// Writing a new archive into a temporary file beside its name, with the
// same item writers the host interface uses, so the same files and settings
// give the same bytes. A solid archive orders its files by type, so its
// items are gathered first and compressed at the finish.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "compress/compressor.h"
#include "face/face.h"
#include "format/crc32.h"
#include "format/name_text.h"
#include "format/records.h"
#include "ops/collect.h"
#include "ops/comments.h"
#include "ops/compress_one.h"
#include "ops/input_list.h"
#include "ops/open_archive.h"
#include "platform/beneath.h"
#include "platform/platform.h"
#include "platform/stream.h"

namespace face = acekit::face;
namespace platform = acekit::platform;
namespace ops = acekit::ops;

namespace {

struct Item {
  enum Kind { kDisk, kMemory, kDirectory } kind = kDisk;
  std::string source;  // disk path; the solid order's key for every kind
  std::string stored;
  std::string name;  // as the host gave it
  std::vector<uint8_t> data;
  uint32_t ftime = 0;
  uint32_t attr = 0;
};

}  // namespace

struct acekit_writer : face::Handle {
  acekit_writer() : face::Handle(face::kWriterMagic) {}
  ~acekit_writer() { Discard(); }
  void Discard() {
    compressor.Shutdown();
    if (out != platform::kBadHandle) platform::Close(out);
    out = platform::kBadHandle;
    if (temp_name[0] != '\0') dir.Remove(temp_name);  // tries twice
    temp_name[0] = '\0';
    temp.clear();
  }

  std::string target;
  // The archive is written as extraction writes a file: to a temporary file
  // made beside the target's name, which takes the name once complete.
  platform::SafeDir dir;  // the target's folder
  std::string name;       // the target's last part
  char temp_name[platform::SafeDir::kTempNameSize] = {};
  std::string temp;  // its path, for the rewrite that adds a comment
  face::OpState state;
  acekit::compress::Compressor compressor;
  platform::Handle out = platform::kBadHandle;
  bool solid = false;
  // Workers of the compressor (0: the library's default).
  int threads = 0;
  uint16_t dict_code = 6;
  bool broken = false;        // a failed item could not be taken back out
  std::vector<Item> pending;  // solid archives
  // A normal archive's files from disk since the last item of another kind,
  // written together so that the compressor's workers can read and parse
  // the ones ahead while one is written.
  std::vector<Item> run;
  std::string comment;
};

namespace {

class MemorySource final : public acekit::platform::ByteSource {
 public:
  MemorySource(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  int32_t Read(void* buf, uint32_t count) override {
    const size_t k = std::min<size_t>(count, n_ - at_);
    if (k != 0) std::memcpy(buf, p_ + at_, k);
    at_ += k;
    return static_cast<int32_t>(k);
  }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
};

bool Valid(acekit_writer* w) {
  return w != nullptr && w->magic == face::kWriterMagic;
}

ops::ItemWriter ItemWriterOf(acekit_writer* w) {
  return ops::ItemWriter{w->state.arc, w->state.settings, w->state.hooks, w->compressor,
                         w->out,       w->dict_code};
}

bool PutHeader(acekit_writer* w, const acekit::format::FileHeaderFields& f, const char* stored) {
  uint8_t head[acekit::format::kFileHeaderFixed] = {};
  acekit::format::PackFileHeaderFields(f, head);
  if (acekit::format::WriteFileHeader(w->out, head, stored, w->state.settings)) return true;
  w->state.arc.status = acekit::kShortWrite;
  return false;
}

bool Fails(acekit_writer* w, uint32_t status) {
  w->state.arc.status = status;
  return false;
}

// The counterpart of the item writer for data in memory: compressed, or
// stored when compressing does not pay. 0 on failure; in a solid chain 1
// when the next file starts a fresh window, 2 when it continues.
int32_t CompressMemory(acekit_writer* w, const Item& item, uint16_t flags, bool restart) {
  acekit::format::FileHeaderFields f;
  f.attr = item.attr;
  f.tech_parm = w->dict_code;
  f.flags = flags | acekit::format::kFileFlagPackSize;
  f.ftime = item.ftime;
  const char* stored = item.stored.c_str();
  if (item.data.empty()) return PutHeader(w, f, stored) ? (restart ? 1 : 2) : 0;
  const int32_t header_pos = platform::Tell(w->out);
  if (header_pos < 0 || !PutHeader(w, acekit::format::FileHeaderFields{}, stored)) return 0;
  const int32_t data_pos = platform::Tell(w->out);
  if (data_pos < 0) return Fails(w, acekit::kOpenFailed);
  MemorySource in(item.data.data(), item.data.size());
  acekit::platform::FileSink sink(w->out);
  const auto size = static_cast<int32_t>(item.data.size());
  w->compressor.CompressFile(&in, &sink, size, restart);
  if (w->compressor.status() != acekit::kOk) return Fails(w, w->compressor.status());
  f.orig_size = static_cast<uint32_t>(size);
  bool stored_plain = false;
  if (w->compressor.exceeded()) {
    if (platform::Seek(w->out, data_pos, 0) == -1) return Fails(w, acekit::kOpenFailed);
    if (platform::Write(item.data.data(), f.orig_size, w->out) != size) {
      return Fails(w, acekit::kShortWrite);
    }
    f.crc32 =
        acekit::format::Crc32Update(acekit::format::kCrcInit, item.data.data(), item.data.size());
    f.flags = acekit::format::kFileFlagPackSize;
    f.tech_type = 0;
    f.pack_size = f.orig_size;
    stored_plain = true;
  } else {
    f.tech_type = 1;
    f.pack_size = static_cast<uint32_t>(w->compressor.bytes_out());
    f.crc32 = w->compressor.crc();
  }
  if (platform::Seek(w->out, header_pos, 0) == -1) return Fails(w, acekit::kOpenFailed);
  if (!PutHeader(w, f, stored)) return 0;
  if (stored_plain) {
    if (platform::Seek(w->out, data_pos + size, 0) == -1 || !platform::Truncate(w->out)) {
      return Fails(w, acekit::kOpenFailed);
    }
    return 1;
  }
  if (platform::Seek(w->out, 0, 2) == -1) return Fails(w, acekit::kOpenFailed);
  return 2;
}

bool WriteDirectory(acekit_writer* w, const Item& item) {
  acekit::format::FileHeaderFields f;
  f.attr = item.attr;
  f.tech_type = 1;
  f.tech_parm = w->dict_code;
  f.ftime = item.ftime;
  return PutHeader(w, f, item.stored.c_str());
}

// Writes one item at the end of the archive, in a solid chain when given.
// On failure the archive is cut back to where the item began, so the writer
// stays usable; only a cut that fails too breaks it.
int AddNow(acekit_writer* w, const Item& item, ops::SolidChain* chain) {
  w->state.arc.status = acekit::kOk;
  w->unreadable_error = 0;
  acekit_change ev{};
  ev.kind = ACEKIT_CHANGE_FILE;
  ev.name = item.name.c_str();
  ev.path = item.kind == Item::kDisk ? item.source.c_str() : nullptr;
  if (face::Tell(w, ev)) return face::Fail(w, ACEKIT_E_CANCELLED, "adding", item.name);
  const int32_t start = platform::Tell(w->out);
  ops::ItemWriter iw = ItemWriterOf(w);
  int32_t r = 0;
  const bool restart = chain == nullptr || chain->restart;
  const uint16_t flags = chain != nullptr ? chain->flags : 0;
  switch (item.kind) {
    case Item::kDisk:
      r = chain != nullptr
              ? ops::AddOneFileSolid(iw, item.source.c_str(), item.stored.c_str(), *chain)
              : ops::AddOneFile(iw, item.source.c_str(), item.stored.c_str());
      break;
    case Item::kMemory:
      r = CompressMemory(w, item, flags, restart);
      if (chain == nullptr && r != 0) r = 1;
      break;
    case Item::kDirectory:
      r = WriteDirectory(w, item) ? (restart ? 1 : 2) : 0;
      break;
  }
  if (r != 0 && w->state.arc.status == acekit::kOk) {
    if (chain != nullptr) chain->Apply(static_cast<ops::ItemStep>(r));
    return ACEKIT_OK;
  }
  const uint32_t status =
      w->state.arc.status != acekit::kOk ? w->state.arc.status : acekit::kOpenFailed;
  if (start < 0 || platform::Seek(w->out, start, 0) == -1 || !platform::Truncate(w->out)) {
    w->broken = true;
  }
  // The host chose to stop at a file it could not read; the message is set.
  if (w->unreadable_error != 0) return w->unreadable_error;
  const std::string& shown = item.kind == Item::kDisk ? item.source : item.stored;
  return face::FailStatus(w, status, "adding", shown);
}

int Usable(acekit_writer* w) {
  if (w->broken)
    return face::Fail(w, ACEKIT_E_INVALID, "an earlier failure left the archive unusable",
                      w->target);
  return ACEKIT_OK;
}

int CheckName(acekit_writer* w, const char* name, std::string* stored) {
  std::string why;
  if (!face::StoredName(name, stored, &why)) {
    return face::Fail(w,
                      why.find("255") != std::string::npos ? ACEKIT_E_TOO_LARGE : ACEKIT_E_INVALID,
                      why, name != nullptr ? name : "");
  }
  return ACEKIT_OK;
}

// The engines' pipeline over a run of items, from a clean status word.
ops::ItemWriter StartRun(acekit_writer* w) {
  w->state.arc.status = acekit::kOk;
  w->unreadable_error = 0;
  return ItemWriterOf(w);
}

// After the run: on failure the message, and a writer that cannot go on,
// since the run cannot be cut back item by item. A run the host stopped
// (kStopped) has no status of its own to keep.
int RunEnded(acekit_writer* w, acekit::Status status) {
  if (status != acekit::kOk && status != ops::kStopped) w->state.arc.status = status;
  if (status == acekit::kOk && w->state.arc.status == acekit::kOk) return ACEKIT_OK;
  w->broken = true;
  if (w->unreadable_error != 0) return w->unreadable_error;
  const uint32_t failed =
      w->state.arc.status != acekit::kOk ? w->state.arc.status : acekit::kOpenFailed;
  return face::FailStatus(w, failed, "adding to", w->target);
}

int FlushRun(acekit_writer* w) {
  if (w->run.empty()) return ACEKIT_OK;
  const std::vector<Item> run = std::move(w->run);
  w->run.clear();
  ops::ItemTexts texts(run.size());
  if (texts.get() == nullptr) return face::Fail(w, ACEKIT_E_NOMEM, "adding to", w->target);
  for (size_t i = 0; i < run.size(); ++i) {
    if (!texts.Set(i, run[i].source.c_str(), run[i].stored.c_str())) {
      return face::Fail(w, ACEKIT_E_NOMEM, "adding to", w->target);
    }
  }
  ops::ItemWriter iw = StartRun(w);
  return RunEnded(w, ops::AddItems(iw, texts.get(), run.size()));
}

// A solid archive made of files from disk alone goes through the engines'
// pipeline, as the host interface writes one.
bool AllFromDisk(const std::vector<Item>& items) {
  return std::all_of(items.begin(), items.end(),
                     [](const Item& item) { return item.kind == Item::kDisk; });
}

int AddSolidRun(acekit_writer* w) {
  std::vector<ops::SolidItem> items;
  items.reserve(w->pending.size());
  for (const Item& item : w->pending) {
    items.push_back({item.source.c_str(), item.stored.c_str(), item.source.c_str()});
  }
  ops::ItemWriter iw = StartRun(w);
  return RunEnded(w, ops::AddSolidItems(iw, items.data(), items.size()));
}

int Add(acekit_writer* w, Item item) {
  if (w->solid) {
    w->pending.push_back(std::move(item));
    return ACEKIT_OK;
  }
  if (item.kind == Item::kDisk) {
    w->run.push_back(std::move(item));
    return ACEKIT_OK;
  }
  if (const int rc = FlushRun(w); rc < 0) return rc;
  return AddNow(w, item, nullptr);
}

// Gives the finished temporary archive its main comment, through the same
// rewrite the host interface uses.
int ApplyComment(acekit_writer* w) {
  if (w->temp.size() > face::kLongestRewrittenPath) {
    // The rewrite works on the temporary archive beside the target; the
    // host is told the limit for the name it chose.
    const size_t limit = face::kLongestRewrittenPath + w->target.size() - w->temp.size();
    return face::Fail(w, ACEKIT_E_TOO_LARGE, face::PathTooLongToRewrite("a comment", limit),
                      w->target);
  }
  face::OpState st;
  if (const uint32_t s =
          ops::OpenArchive(st.arc, w->temp.c_str(), ops::UnreadableHead::kReadFailure);
      s != acekit::kOk) {
    return face::FailStatus(w, s, "reopening", w->temp);
  }
  st.settings = w->state.settings;
  CommentRec rec{};
  rec.text = w->comment.data();
  rec.length = static_cast<int32_t>(w->comment.size());
  st.arc.status = ops::SetMainComment(st.Context(), &rec);
  if (st.arc.status != acekit::kOk)
    return face::FailStatus(w, st.arc.status, "setting the comment", w->target);
  return ACEKIT_OK;
}

// Each name's key is worked out once where memory allows; the order is the
// same either way.
void SortByType(std::vector<Item>& items) {
  const size_t n = items.size();
  try {
    std::vector<const char*> paths(n);
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) paths[i] = items[i].source.c_str();
    if (ops::OrderByType(paths.data(), n, order.data())) {
      std::vector<Item> sorted;
      sorted.reserve(n);
      // Moves that cannot throw: once the room is there, nothing is lost.
      static_assert(std::is_nothrow_move_constructible_v<Item>);
      for (const size_t i : order) sorted.push_back(std::move(items[i]));
      items.swap(sorted);
      return;
    }
  } catch (const std::bad_alloc&) {
  }
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    return ops::CompareByType(a.source.c_str(), b.source.c_str()) < 0;
  });
}

int Finish(acekit_writer* w) {
  if (const int rc = Usable(w); rc < 0) return rc;
  if (const int rc = FlushRun(w); rc < 0) return rc;
  if (w->solid) {
    // In the order of the host interface, which leaves two files as they are.
    if (w->pending.size() >= 3) SortByType(w->pending);
    if (!w->pending.empty() && AllFromDisk(w->pending)) {
      if (const int rc = AddSolidRun(w); rc < 0) return rc;
    } else {
      ops::SolidChain chain;
      for (const Item& item : w->pending) {
        if (const int rc = AddNow(w, item, &chain); rc < 0) return rc;
      }
    }
  }
  w->compressor.Shutdown();
  const platform::Handle h = w->out;
  w->out = platform::kBadHandle;
  w->dir.Finish(h, platform::kAttrArchive, 0);
  if (!w->comment.empty()) {
    if (const int rc = ApplyComment(w); rc < 0) return rc;
  }
  if (!w->dir.Replace(w->temp_name, w->name.c_str(), platform::kAttrArchive)) {
    return face::Fail(w, ACEKIT_E_OPEN, "cannot put the archive in place", w->target, true);
  }
  w->temp_name[0] = '\0';
  w->temp.clear();
  return ACEKIT_OK;
}

}  // namespace

extern "C" {

ACEKIT_PUBLIC int acekit_writer_create(acekit_writer** out, const char* path,
                                       const acekit_options* o) {
  if (out == nullptr) return face::Fail(nullptr, ACEKIT_E_INVALID, "no handle to fill");
  *out = nullptr;
  if (path == nullptr || path[0] == '\0') return face::Fail(nullptr, ACEKIT_E_INVALID, "no path");
  const acekit_options defaults{};
  if (o == nullptr) o = &defaults;
  const uint32_t kb = o->dictionary_kb == 0 ? 64 : o->dictionary_kb;
  if (kb != 64 && kb != 128 && kb != 256 && kb != 512 && kb != 1024) {
    return face::Fail(nullptr, ACEKIT_E_INVALID, "dictionary must be 64, 128, 256, 512 or 1024 KB");
  }
  if (o->level < 0 || o->level > 4) {
    return face::Fail(nullptr, ACEKIT_E_INVALID, "level must be 1 to 4");
  }
  if (o->threads < 0) return face::Fail(nullptr, ACEKIT_E_INVALID, "threads must not be negative");
  std::unique_ptr<acekit_writer> w(new (std::nothrow) acekit_writer());
  if (!w) return face::Fail(nullptr, ACEKIT_E_NOMEM, "creating", path);
  w->target = path;
  w->solid = o->solid != 0;
  w->threads = o->threads;
  acekit::format::ArcerDesc& desc = w->state.settings.desc;
  desc.dict_kb() = static_cast<int32_t>(kb);
  desc.level() = o->level == 0 ? 1 : o->level;
  desc.mode() = w->solid ? 4 : 0;
  w->state.hooks = face::HooksFor(w.get());
  const std::string folder = face::DirectoryOf(w->target);
  w->name = w->target.substr(folder.size());
  if (w->dir.Open(folder.empty() ? "." : folder.c_str(), "", false) !=
      platform::SafeDir::Result::kOk) {
    return face::Fail(nullptr, ACEKIT_E_OPEN, "creating", path, true);
  }
  w->out = w->dir.CreateTemp(w->temp_name, platform::kAttrArchive);
  if (w->out == platform::kBadHandle) {
    return face::Fail(nullptr, ACEKIT_E_OPEN, "creating", path, true);
  }
  w->temp = folder + w->temp_name;
  uint8_t head[acekit::format::kMainHeaderBytes];
  const void* extra = w->solid ? nullptr : acekit::format::kNormalArchiveExtra;
  const uint32_t extra_size = w->solid ? 0 : acekit::format::kNormalArchiveExtraSize;
  acekit::format::BuildMainHeader(head, extra, extra_size,
                                  w->solid ? acekit::format::kMainFlagSolid : 0);
  if (platform::Write(head, sizeof head, w->out) != static_cast<int32_t>(sizeof head) ||
      (extra_size != 0 &&
       platform::Write(extra, extra_size, w->out) != static_cast<int32_t>(extra_size))) {
    return face::Fail(nullptr, ACEKIT_E_WRITE, "writing", path, true);
  }
  int32_t dict = desc.dict_kb();
  if (!w->compressor.Setup(&dict, desc.level(), w->threads))
    return face::Fail(nullptr, ACEKIT_E_NOMEM, "compressor");
  w->compressor.SetProgress(w->state.hooks.progress);
  w->dict_code = acekit::format::DictionaryCode(w->compressor.dict_kb());
  *out = w.release();
  return ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_writer_add_file(acekit_writer* w, const char* disk_path,
                                         const char* name) {
  if (!Valid(w) || disk_path == nullptr) return ACEKIT_E_INVALID;
  if (const int rc = Usable(w); rc < 0) return rc;
  Item item;
  if (const int rc = CheckName(w, name, &item.stored); rc < 0) return rc;
  const platform::Kind kind = platform::KindOf(disk_path);
  if (kind == platform::Kind::kMissing) {
    // A host with events decides about a file gone since it was named.
    acekit_change ev{};
    ev.kind = ACEKIT_CHANGE_UNREADABLE;
    ev.path = disk_path;
    ev.error = ACEKIT_E_NOT_FOUND;
    if (w->events != nullptr && !face::Tell(w, ev)) return ACEKIT_OK;
    return face::Fail(w, ACEKIT_E_NOT_FOUND, "no such file", disk_path);
  }
  item.source = disk_path;
  if (item.source.size() >= ops::kItemTextSize) {
    return face::Fail(w, ACEKIT_E_TOO_LARGE, "path too long", disk_path);
  }
  item.name = name;
  return Add(w, std::move(item));
}

ACEKIT_PUBLIC int acekit_writer_add_memory(acekit_writer* w, const char* name, const void* data,
                                           size_t n, int64_t mtime, uint32_t attributes) {
  if (!Valid(w) || (data == nullptr && n != 0)) return ACEKIT_E_INVALID;
  if (const int rc = Usable(w); rc < 0) return rc;
  Item item;
  item.kind = Item::kMemory;
  if (const int rc = CheckName(w, name, &item.stored); rc < 0) return rc;
  if (n > 0x7FFFFFFFu) return face::Fail(w, ACEKIT_E_TOO_LARGE, "entry of 2 GB or more", name);
  if (!face::PackTime(mtime, &item.ftime)) {
    return face::Fail(w, ACEKIT_E_INVALID, "time outside 1980 to 2107", name);
  }
  item.attr =
      (attributes == 0 ? platform::kAttrArchive : attributes) & ~acekit::format::kAttrDirectory;
  try {
    item.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + n);
  } catch (const std::bad_alloc&) {
    return face::Fail(w, ACEKIT_E_NOMEM, "holding", name);
  }
  item.source = item.stored;
  item.name = name;
  return Add(w, std::move(item));
}

ACEKIT_PUBLIC int acekit_writer_add_directory(acekit_writer* w, const char* name, int64_t mtime) {
  if (!Valid(w)) return ACEKIT_E_INVALID;
  if (const int rc = Usable(w); rc < 0) return rc;
  Item item;
  item.kind = Item::kDirectory;
  if (const int rc = CheckName(w, name, &item.stored); rc < 0) return rc;
  if (!face::PackTime(mtime, &item.ftime)) {
    return face::Fail(w, ACEKIT_E_INVALID, "time outside 1980 to 2107", name);
  }
  item.attr = acekit::format::kAttrDirectory;
  // Short directory names keep their separator, as the host interface
  // stores them.
  if (item.stored.size() < 3) item.stored += '\\';
  item.source = item.stored;
  item.name = name;
  return Add(w, std::move(item));
}

ACEKIT_PUBLIC int acekit_writer_set_comment(acekit_writer* w, const char* utf8) {
  if (!Valid(w)) return ACEKIT_E_INVALID;
  const std::string text = utf8 != nullptr ? utf8 : "";
  if (text.size() > static_cast<size_t>(ops::kMainCommentMax)) {
    return face::Fail(w, ACEKIT_E_TOO_LARGE, "comment longer than 32766 bytes");
  }
  w->comment = text;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_writer_set_progress(acekit_writer* w, acekit_progress fn, void* ctx) {
  if (!Valid(w)) return ACEKIT_E_INVALID;
  w->progress = fn;
  w->progress_ctx = ctx;
  return ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_writer_set_events(acekit_writer* w, acekit_change_fn fn, void* ctx) {
  if (!Valid(w)) return ACEKIT_E_INVALID;
  w->events = fn;
  w->events_ctx = ctx;
  w->state.hooks = face::HooksFor(w);
  w->compressor.SetProgress(w->state.hooks.progress);
  return ACEKIT_OK;
}

ACEKIT_PUBLIC int acekit_writer_finish(acekit_writer* w) {
  if (!Valid(w)) return ACEKIT_E_INVALID;
  const int rc = Finish(w);
  if (rc < 0) {
    // The handle goes; its message stays readable for the thread.
    face::KeepForThread(w->error);
  }
  delete w;
  return rc;
}

ACEKIT_PUBLIC void acekit_writer_abort(acekit_writer* w) {
  if (Valid(w)) delete w;
}

}  // extern "C"
