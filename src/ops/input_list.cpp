#include "ops/input_list.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace acekit::ops {
namespace {

// Each family lists its extensions in the order that decides the key.
constexpr std::array<std::string_view, 19> kPrograms = {
    ".TPU", ".TPP", ".TPW", ".DCU", ".LIB", ".OBJ", ".EXE", ".SCR", ".DLL", ".BPL",
    ".OCX", ".CPL", ".VXD", ".386", ".DRV", ".VBX", ".COM", ".SYS", ".BIN"};
// .HTM and .HTML share one place; "" marks the place the second one would take.
constexpr std::array<std::string_view, 26> kTexts = {
    ".TXT", ".ME",  ".1ST", ".DIZ", ".BAT", ".CMD", ".LOG", ".INI", ".C",
    ".CPP", ".CXX", ".H",   ".HPP", ".HXX", ".PAS", ".DPR", ".BAS", ".ASM",
    ".RC",  ".BAK", ".HTM", ".WRI", ".RTF", ".DOC", ".BMP", ".ICO"};
// Place 1 of this family is any four-character extension ending in '_'.
constexpr std::array<std::string_view, 6> kOldArchives = {".PDF", ".ZZL", ".ARC",
                                                          ".ZOO", ".GIF", ".TIF"};
constexpr std::array<std::string_view, 9> kArchives = {".LZH", ".ARJ", ".CAB", ".GZ", ".TGZ",
                                                       ".UC2", ".ZIP", ".RAR", ".ACE"};
constexpr std::array<std::string_view, 3> kImages = {".LHX", ".JPG", ".JPEG"};

template <size_t N>
int PlaceIn(const std::array<std::string_view, N>& family, std::string_view ext) {
  for (size_t i = 0; i < N; ++i) {
    if (family[i] == ext) return static_cast<int>(i) + 1;
  }
  return 0;
}

struct KeyBuilder {
  char* out;
  size_t size;
  size_t len = 0;
  void Put(char c) {
    if (len + 1 < size) out[len] = c;
    ++len;
  }
  void Put(std::string_view s) {
    for (char c : s) Put(c);
  }
  size_t Done() {
    if (size != 0) out[len < size ? len : size - 1] = '\0';
    return len;
  }
};

size_t CopyCut(char* dst, size_t size, std::string_view src) {
  const size_t n = std::min(src.size(), size - 1);
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
  return n;
}

// Base name and extension (from the last dot of the last part, dot
// included) of an upper-cased copy of `name`; the views point into `buf`.
struct NameParts {
  std::string_view base;
  std::string_view ext;
};
NameParts SplitUpper(const char* name, char (&buf)[kInputPathSize]) {
  CopyCut(buf, sizeof buf, name);
  platform::CharUpper(buf);
  std::string_view last(buf);
  if (const size_t sep = last.find_last_of("\\/:"); sep != std::string_view::npos) {
    last.remove_prefix(sep + 1);
  }
  const size_t dot = last.rfind('.');
  if (dot == std::string_view::npos) return {last, {}};
  return {last.substr(0, dot), last.substr(dot)};
}

int CompareBytes(std::string_view a, std::string_view b) {
  const int c = a.compare(b);  // char_traits<char> compares as unsigned char
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

size_t GroupKey(std::string_view ext, char* out, size_t size) {
  KeyBuilder key{out, size};
  if (ext == ".HTML") ext = ".HTM";
  if (int n = PlaceIn(kPrograms, ext)) {
    key.Put('.');
    for (int i = 0; i < n; ++i) key.Put('2');
  } else if (int n = PlaceIn(kTexts, ext)) {
    key.Put(".3");
    for (int i = 0; i < n; ++i) key.Put('1');
  } else if (ext.size() == 4 && ext.back() == '_') {
    key.Put(".ZZZ1");
  } else if (int n = PlaceIn(kOldArchives, ext)) {
    key.Put(".ZZZ");
    key.Put(static_cast<char>('1' + n));
  } else if (int n = PlaceIn(kArchives, ext)) {
    key.Put(".ZZZZ");
    key.Put(static_cast<char>('0' + n));
  } else if (int n = PlaceIn(kImages, ext)) {
    key.Put(".ZZZZZ");
    key.Put(static_cast<char>('0' + n));
  } else if (ext == ".HLP") {
    key.Put("ZZ");
    key.Put(ext);
  } else {
    key.Put('Z');
    key.Put(ext);
  }
  return key.Done();
}

namespace {

// A name's place in the type order: its upper-cased base name followed by
// its group key, the two comparisons the order makes. Neither is ever cut:
// base and extension come from one buffer of kInputPathSize, and a key is at
// most a few bytes longer than its extension.
struct TypeKey {
  char text[kInputPathSize * 2];
  size_t base_len;
  size_t len;
  bool no_ext;
  std::string_view key() const { return {text + base_len, len - base_len}; }
  std::string_view full() const { return {text, len}; }
};

void MakeTypeKey(const char* path, TypeKey& k) {
  char upper[kInputPathSize];
  const NameParts parts = SplitUpper(path, upper);
  k.no_ext = parts.ext.empty();
  k.base_len = CopyCut(k.text, sizeof k.text, parts.base);
  k.len = k.base_len + GroupKey(parts.ext, k.text + k.base_len, sizeof k.text - k.base_len);
}

int CompareTypeKeys(const TypeKey& a, const TypeKey& b) {
  if (a.no_ext && b.no_ext) return 0;
  if (const int c = CompareBytes(a.key(), b.key())) return c;
  return CompareBytes(a.full(), b.full());
}

// A name's key as a place in one block of text for all names, so that a
// sort of many names takes two allocations whatever their number. The keys
// themselves are sorted: a sort over a type of this file's own is this
// file's own code, where one over plain indices would be a standard
// library instance the library exports.
struct PackedKey {
  size_t index;  // of the name
  uint32_t at;   // of the text in the block
  uint16_t base_len;
  uint16_t len;
  bool no_ext;
};

}  // namespace

int CompareByType(const char* a, const char* b) {
  TypeKey ka;
  TypeKey kb;
  MakeTypeKey(a, ka);
  MakeTypeKey(b, kb);
  return CompareTypeKeys(ka, kb);
}

bool OrderByType(const char* const* paths, size_t n, size_t* order) {
  // A sort compares each name about log2(n) times; working out its key each
  // time (copy, upper case, extension lookup) cost 7 ms for 1,400 files.
  size_t bytes = 0;
  TypeKey k;
  for (size_t i = 0; i < n; ++i) {
    MakeTypeKey(paths[i], k);
    bytes += k.len;
  }
  if (bytes > UINT32_MAX) return false;
  auto* const keys = static_cast<PackedKey*>(platform::Alloc(n * sizeof(PackedKey)));
  auto* const text = static_cast<char*>(platform::Alloc(bytes));
  if (keys == nullptr || text == nullptr) {
    platform::Free(keys);
    platform::Free(text);
    return false;
  }
  uint32_t at = 0;
  for (size_t i = 0; i < n; ++i) {
    MakeTypeKey(paths[i], k);
    std::memcpy(text + at, k.text, k.len);
    keys[i] =
        PackedKey{i, at, static_cast<uint16_t>(k.base_len), static_cast<uint16_t>(k.len), k.no_ext};
    at += static_cast<uint32_t>(k.len);
  }
  std::stable_sort(keys, keys + n, [text](const PackedKey& a, const PackedKey& b) {
    if (a.no_ext && b.no_ext) return false;
    const std::string_view ta(text + a.at, a.len);
    const std::string_view tb(text + b.at, b.len);
    if (const int c = CompareBytes(ta.substr(a.base_len), tb.substr(b.base_len))) return c < 0;
    return CompareBytes(ta, tb) < 0;
  });
  for (size_t i = 0; i < n; ++i) order[i] = keys[i].index;
  platform::Free(keys);
  platform::Free(text);
  return true;
}

InputFileList::~InputFileList() {
  FreeInputFileList(*this);
}

void InitInputFileList(InputFileList& list) {
  list.count = 0;
  list.first = nullptr;
  list.last = nullptr;
}

void FreeInputFileList(InputFileList& list) {
  for (InputFile* e = list.first; e != nullptr;) {
    InputFile* next = e->next;
    platform::Free(e);
    e = next;
  }
  InitInputFileList(list);
}

Status AppendInputFile(InputFileList& list, std::string_view path, std::string_view name) {
  if (path.size() >= kInputPathSize) return kOpenFailed;
  auto* e = static_cast<InputFile*>(platform::AllocZeroed(sizeof(InputFile) + path.size() + 1));
  if (e == nullptr) return kNoMemory;
  e->path = reinterpret_cast<char*>(e + 1);
  CopyCut(e->path, path.size() + 1, path);
  CopyCut(e->name, sizeof e->name, name);
  e->next = nullptr;
  if (list.last != nullptr) {
    list.last->next = e;
  } else {
    list.first = e;
  }
  list.last = e;
  ++list.count;
  return kOk;
}

void SortInputFileList(InputFileList& list) {
  if (list.count < 3) return;
  const auto n = static_cast<size_t>(list.count);
  auto** entries = static_cast<InputFile**>(platform::Alloc(n * sizeof(InputFile*)));
  auto** paths = static_cast<const char**>(platform::Alloc(n * sizeof(const char*)));
  auto* order = static_cast<size_t*>(platform::Alloc(n * sizeof(size_t)));
  size_t i = 0;
  // Short of memory, collection order is still a valid order.
  if (entries != nullptr && paths != nullptr && order != nullptr) {
    for (InputFile* e = list.first; e != nullptr && i < n; e = e->next) {
      entries[i] = e;
      paths[i++] = e->path;
    }
  }
  if (i == n && OrderByType(paths, n, order)) {
    for (size_t k = 0; k + 1 < n; ++k) entries[order[k]]->next = entries[order[k + 1]];
    entries[order[n - 1]]->next = nullptr;
    list.first = entries[order[0]];
    list.last = entries[order[n - 1]];
  }
  platform::Free(order);
  platform::Free(paths);
  platform::Free(entries);
}

}  // namespace acekit::ops
