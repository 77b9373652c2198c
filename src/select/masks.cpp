#include "select/masks.h"

#include <cstring>
#include <string_view>

#include "common/status.h"
#include "format/name_text.h"
#include "platform/platform.h"

namespace acekit::select {
namespace {

using std::string_view;

// A name or mask taken apart: directory (drive included, ending with `\`),
// file name, extension without its dot.
struct Split {
  string_view dir;
  string_view name;
  string_view ext;
};

Split SplitName(const char* text) {
  const format::PathParts parts = format::SplitPath(text);
  Split s;
  s.dir = string_view(text, parts.drive.size() + parts.dir.size());
  s.name = parts.name;
  s.ext = parts.ext.empty() ? parts.ext : parts.ext.substr(1);
  return s;
}

void ForwardToBackSlashes(char* text) {
  for (; *text != '\0'; ++text)
    if (*text == '/') *text = '\\';
}

// Same length, and every mask character is `?` or the name's character.
bool MatchesLetterForLetter(string_view name, string_view mask) {
  if (name.size() != mask.size()) return false;
  for (size_t i = 0; i < mask.size(); ++i)
    if (mask[i] != '?' && mask[i] != name[i]) return false;
  return true;
}

bool MatchSplit(const Split& n, const Split& m) {
  const bool any_name = m.name.starts_with('*');
  const bool any_ext = m.ext.starts_with('*');
  if (any_name && any_ext) {
    if (m.dir.empty()) return true;
    if (n.dir.find(m.dir) != string_view::npos) {
      const size_t k = m.dir.size() <= 1 ? 0 : m.dir.size() - 1;
      return n.dir[k] == m.dir[k];
    }
  }
  if (n.dir != m.dir) return false;
  if (any_name && any_ext) return true;
  if (!any_name && !MatchesLetterForLetter(n.name, m.name)) return false;
  if (any_ext) return true;
  return MatchesLetterForLetter(n.ext, m.ext);
}

struct UpperText {
  char text[format::kPathSize];
  explicit UpperText(const char* src) {
    format::CopyText(text, sizeof text, src != nullptr ? src : "");
    platform::CharUpper(text);
  }
};

}  // namespace

void InitMaskList(FileMaskList* list) {
  list->first = nullptr;
  list->last = nullptr;
}

int32_t AppendMask(format::ArcState& st, const char* mask, FileMaskList* list) {
  // An item names a file to add as much as a pattern: one that does not fit
  // is refused rather than cut into the name of another.
  char text[format::kPathSize];
  if (!format::CopyWhole(text, sizeof text, mask)) {
    st.status = kOpenFailed;
    return 0;
  }
  ForwardToBackSlashes(text);
  const Split parts = SplitName(text);
  if (parts.name.size() >= sizeof(FileMask{}.name) ||
      parts.ext.size() >= sizeof(FileMask{}.extension)) {
    st.status = kOpenFailed;
    return 0;
  }

  auto* directory = static_cast<char*>(platform::Alloc(parts.dir.size() + 1));
  if (directory == nullptr) {
    st.status = kNoMemory;
    return 0;
  }
  format::CopyText(directory, parts.dir.size() + 1, parts.dir);
  auto* item = static_cast<FileMask*>(platform::AllocZeroed(sizeof(FileMask)));
  if (item == nullptr) {
    platform::Free(directory);
    return 0;
  }
  item->directory = directory;
  format::CopyText(item->name, sizeof item->name, parts.name);
  format::CopyText(item->extension, sizeof item->extension, parts.ext);
  item->next = nullptr;
  if (list->last != nullptr) {
    list->last->next = item;
  } else {
    list->first = item;
  }
  list->last = item;
  return 1;
}

void DoneMaskList(FileMaskList* list) {
  FileMask* item = list->first;
  while (item != nullptr) {
    FileMask* next = item->next;
    platform::Free(item->directory);
    platform::Free(item);
    item = next;
  }
  InitMaskList(list);
}

bool MatchMask(const char* name, const FileMask& mask) {
  const UpperText n(name);
  const UpperText md(mask.directory);
  const UpperText mn(mask.name);
  const UpperText me(mask.extension);
  return MatchSplit(SplitName(n.text), Split{md.text, mn.text, me.text});
}

bool MatchMaskList(const char* name, const FileMaskList* list) {
  if (list == nullptr || list->first == nullptr) return true;
  char text[format::kPathSize];
  format::CopyText(text, sizeof text, name);
  ForwardToBackSlashes(text);
  platform::CharUpper(text);
  for (const FileMask* item = list->first; item != nullptr; item = item->next)
    if (MatchMask(text, *item)) return true;
  return false;
}

format::EntryFilter MaskFilter(const FileMaskList* list) {
  format::EntryFilter filter;
  filter.fn = [](void* ctx, const char* upper_name) {
    return MatchMaskList(upper_name, static_cast<const FileMaskList*>(ctx));
  };
  filter.ctx = const_cast<FileMaskList*>(list);
  return filter;
}

}  // namespace acekit::select
