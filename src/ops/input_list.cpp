#include "ops/input_list.h"

#include <algorithm>
#include <array>
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

int CompareByType(const char* a, const char* b) {
  char ua[kInputPathSize];
  char ub[kInputPathSize];
  const NameParts pa = SplitUpper(a, ua);
  const NameParts pb = SplitUpper(b, ub);
  if (pa.ext.empty() && pb.ext.empty()) return 0;

  // Base name and key side by side, so the key comparison is a prefix of
  // the tie-break and both come from one buffer.
  char ka[kInputPathSize * 2];
  char kb[kInputPathSize * 2];
  const size_t la = GroupKey(pa.ext, ka, sizeof ka);
  const size_t lb = GroupKey(pb.ext, kb, sizeof kb);
  const std::string_view key_a(ka, std::min(la, sizeof ka - 1));
  const std::string_view key_b(kb, std::min(lb, sizeof kb - 1));
  if (const int c = CompareBytes(key_a, key_b)) return c;

  char fa[kInputPathSize * 2];
  char fb[kInputPathSize * 2];
  const size_t na = CopyCut(fa, sizeof fa, pa.base);
  CopyCut(fa + na, sizeof fa - na, key_a);
  const size_t nb = CopyCut(fb, sizeof fb, pb.base);
  CopyCut(fb + nb, sizeof fb - nb, key_b);
  return CompareBytes(fa, fb);
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
  auto** order = static_cast<InputFile**>(platform::Alloc(n * sizeof(InputFile*)));
  if (order == nullptr) return;  // collection order is still a valid order
  size_t i = 0;
  for (InputFile* e = list.first; e != nullptr && i < n; e = e->next) order[i++] = e;
  std::stable_sort(order, order + i, [](const InputFile* a, const InputFile* b) {
    return CompareByType(a->path, b->path) < 0;
  });
  for (size_t k = 0; k + 1 < i; ++k) order[k]->next = order[k + 1];
  order[i - 1]->next = nullptr;
  list.first = order[0];
  list.last = order[i - 1];
  platform::Free(order);
}

}  // namespace acekit::ops
