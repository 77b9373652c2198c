#include "ops/update.h"

#include <cstring>

#include "format/name_text.h"
#include "format/records.h"
#include "ops/collect.h"
#include "ops/compress_one.h"
#include "ops/entry_walk.h"
#include "ops/extract.h"
#include "ops/extract_paths.h"
#include "ops/rebuild.h"
#include "platform/file.h"
#include "select/masks.h"

namespace acekit::ops {
namespace {

// Sets the state's temporary path for the length of a scope.
class TempPathShown {
 public:
  TempPathShown(format::ArcState& arc, const char* dir) : arc_(arc) {
    format::CopyText(arc_.temp_path, format::kPathSize, dir);
  }
  ~TempPathShown() { arc_.temp_path[0] = '\0'; }
  TempPathShown(const TempPathShown&) = delete;
  TempPathShown& operator=(const TempPathShown&) = delete;

 private:
  format::ArcState& arc_;
};

// Every file the old archive held must be in the working directory: an
// unpacking whose entry walk ended early on a failed read says nothing.
Status AllUnpacked(const Context& ctx) {
  format::EntryList entries;
  if (const Status st = ListWholeArchive(ctx, entries); st != kOk) return st;
  char target[kInputPathSize];
  for (const ArcEntry* e = entries.list.first; e != nullptr; e = e->next) {
    if (e->head_type != format::kHeadFile || (e->attr & format::kAttrDirectory) != 0) continue;
    if (!ExtractTargetPath(e->name, ctx.settings, target, sizeof target, true)) {
      return kOpenFailed;
    }
    if (std::strcmp(target, ctx.settings.output_path) == 0) continue;  // nothing left of the name
    if (!platform::IsExistingFile(target)) return kOpenFailed;
  }
  return kOk;
}

Status UpdateNormal(const Context& ctx, const FileMaskList* list, int32_t dict_kb) {
  OutputArchive temp;
  if (const Status st = temp.OpenBeside(ctx); st != kOk) return st;
  format::EntryList entries;
  if (const Status st = ListWholeArchive(ctx, entries); st != kOk) return st;
  InputFileList kept;
  {
    const platform::File old(ctx.arc.archive_name, 'r');
    if (!old) return kOpenFailed;
    Status st = CopyArchiveHead(ctx, old.get(), temp.handle());
    if (st != kOk) return st;
    char stored[kItemTextSize];
    char disk[kItemTextSize];
    for (const ArcEntry* e = entries.list.first; e != nullptr && st == kOk; e = e->next) {
      const bool copy =
          e->head_type != format::kHeadFile ||
          !FindItemForEntry(ctx.settings, e->name, list, stored, sizeof stored, disk, sizeof disk);
      if (!copy) {
        const ReplaceAnswer answer = AskReplaceOnUpdate(ctx.settings, ctx.hooks, *e);
        if (answer == kAnswerStop) return kCancelled;
        if (answer != kAnswerKeep) continue;  // replaced: the host's file goes in at the end
        if (st = AppendInputFile(kept, "", e->name); st != kOk) return st;
      }
      st = CopyArchiveBytes(old.get(), temp.handle(), e->header_offset,
                            e->head_size + 4 + e->pack_size);
    }
    if (st != kOk) return st;
  }

  compress::Compressor compressor;
  if (const Status st = StartWriting(ctx, compressor, dict_kb); st != kOk) return st;
  ItemWriter w{ctx.arc,    ctx.settings,  ctx.hooks,
               compressor, temp.handle(), format::DictionaryCode(compressor.dict_kb())};
  char source[kItemTextSize];
  char item[kItemTextSize];
  char shown[kItemTextSize + 1];
  if (compressor.ParseSlots() > 0) {
    // With workers the items are known ahead, so that files can be read and
    // parsed while the ones before them are written.
    size_t count = 0;
    for (const FileMask* m = list != nullptr ? list->first : nullptr; m != nullptr; m = m->next) {
      ++count;
    }
    ItemTexts items(count);
    if (items.get() == nullptr) return kNoMemory;
    // An item whose path is too long ends the run where the serial loop
    // would: the items before it still go in, with the same host calls.
    size_t n = 0;
    bool too_long = false;
    for (const FileMask* m = list != nullptr ? list->first : nullptr; m != nullptr && !too_long;
         m = m->next) {
      too_long = !ItemSourcePath(ctx.settings, *m, source, kItemTextSize) ||
                 !ItemName(*m, item, kItemTextSize);
      if (too_long || EntryIsNamed(ctx.settings, item, kept)) continue;
      if (!items.Set(n++, source, item)) return kNoMemory;
    }
    if (const Status st = AddItems(w, items.get(), n); st != kOk) return st;
    if (too_long) return kOpenFailed;  // refused, never cut
  } else {
    for (const FileMask* m = list != nullptr ? list->first : nullptr; m != nullptr; m = m->next) {
      if (!ItemSourcePath(ctx.settings, *m, source, sizeof source) ||
          !ItemName(*m, item, sizeof item)) {
        return kOpenFailed;  // a path too long is refused, never cut
      }
      if (EntryIsNamed(ctx.settings, item, kept)) continue;
      ShownName(item, shown, sizeof shown);
      ctx.hooks.file_name.Call(source, shown);
      if (AddOneFile(w, source, item) == kStepStop) return StopReason(w);
    }
  }
  compressor.Shutdown();
  return ReplaceArchiveFile(temp);
}

Status UpdateSolid(const Context& ctx, FileMaskList* list, int32_t dict_kb) {
  SettingsRestore restore(ctx.settings);
  char relative[format::kSettingPathSize];
  format::CopyText(relative, sizeof relative, ctx.settings.relative_path);
  ctx.settings.relative_path[0] = '\0';
  WorkDir work;
  InputFileList collected;
  if (const Status st = UnpackForRebuild(ctx, work, collected); st != kOk) return st;
  format::CopyText(ctx.settings.relative_path, sizeof relative, relative);

  InputFileList replaced;
  InputFileList inputs;
  char stored[kItemTextSize];
  char disk[kItemTextSize];
  for (const InputFile* c = collected.first; c != nullptr; c = c->next) {
    Status st = kOk;
    if (FindItemForEntry(ctx.settings, c->name, list, stored, sizeof stored, disk, sizeof disk)) {
      const ReplaceAnswer answer = AskReplaceOnSolidUpdate(ctx.hooks, c->path, disk);
      if (answer == kAnswerStop) return kCancelled;
      if (answer == kAnswerReplace || answer == kAnswerKeep) {
        st = AppendInputFile(replaced, "", c->name);
        if (st == kOk) {
          st = AppendInputFile(inputs, answer == kAnswerReplace ? disk : c->path, c->name);
        }
      }
    } else {
      st = AppendInputFile(inputs, c->path, c->name);
    }
    if (st != kOk) return st;
  }
  char source[kItemTextSize];
  char item[kItemTextSize];
  for (const FileMask* m = list != nullptr ? list->first : nullptr; m != nullptr; m = m->next) {
    if (!ItemSourcePath(ctx.settings, *m, source, sizeof source) ||
        !ItemName(*m, item, sizeof item)) {
      return kOpenFailed;  // a path too long is refused, never cut
    }
    if (EntryIsNamed(ctx.settings, item, replaced)) continue;
    format::CopyText(stored, sizeof stored, relative);
    if (stored[0] != '\0') format::AppendText(stored, sizeof stored, "\\");
    format::AppendText(stored, sizeof stored, item);
    if (const Status st = AppendInputFile(inputs, source, stored); st != kOk) return st;
  }
  if (list != nullptr) select::DoneMaskList(list);
  SortInputFileList(inputs);

  OutputArchive temp;
  if (const Status st = temp.OpenBeside(ctx); st != kOk) return st;
  {
    const platform::File old(ctx.arc.archive_name, 'r');
    if (!old) return kOpenFailed;
    if (const Status st = CopyArchiveHead(ctx, old.get(), temp.handle()); st != kOk) return st;
  }
  compress::Compressor compressor;
  if (const Status st = StartWriting(ctx, compressor, dict_kb); st != kOk) return st;
  // The stored names carry the relative path already.
  format::Settings names = ctx.settings;
  names.relative_path[0] = '\0';
  compressor.SetPendingPhase(-2);
  if (const Status st =
          CompressSolidList(ctx, inputs, compressor, temp.handle(), names, work.shown());
      st != kOk) {
    return st;
  }
  compressor.Shutdown();
  return ReplaceArchiveFile(temp);
}

}  // namespace

Status UnpackForRebuild(const Context& ctx, WorkDir& work, InputFileList& collected) {
  if (const Status st = work.Create(); st != kOk) return st;
  // A working directory with no room left behind it stays too long to use.
  format::CopyText(ctx.settings.output_path, sizeof ctx.settings.output_path, work.path());
  format::AppendText(ctx.settings.output_path, sizeof ctx.settings.output_path, "\\");
  ctx.settings.options |= format::kOptKeepPaths;

  Status st = kOk;
  {
    // The host is shown the temporary directory only while this unpacking
    // runs; a later extraction of the session shows its real targets.
    TempPathShown shown(ctx.arc, work.shown());
    st = ExtractForRebuild(ctx, nullptr, -1);
  }
  if (st == kShortWrite) st = kWorkDirShortWrite;
  if (st != kOk) return st;
  if (st = AllUnpacked(ctx); st != kOk) return st;

  InputFileList files;
  if (st = CollectTree(work.path(), "*.*", files); st != kOk) return st;
  return OrderForSolid(files, collected, work.path());
}

Status CompressSolidList(const Context& ctx, const InputFileList& inputs,
                         compress::Compressor& compressor, platform::Handle out,
                         const format::Settings& names, const char* shown_dir) {
  ItemWriter w{ctx.arc,    names, ctx.hooks,
               compressor, out,   format::DictionaryCode(compressor.dict_kb())};
  size_t count = 0;
  for (const InputFile* e = inputs.first; e != nullptr; e = e->next) ++count;
  const bool rename = shown_dir != nullptr && shown_dir[0] != '\0';
  // The items, and for a list taken from another folder the source names
  // the host is shown.
  auto* items = static_cast<SolidItem*>(platform::Alloc(count * sizeof(SolidItem) + 1));
  auto* shown = rename ? static_cast<char*>(platform::Alloc(count * kInputPathSize + 1)) : nullptr;
  struct Release {
    void* a;
    void* b;
    ~Release() {
      if (a != nullptr) platform::Free(a);
      if (b != nullptr) platform::Free(b);
    }
  } release{items, shown};
  if (items == nullptr || (rename && shown == nullptr)) return kNoMemory;
  size_t n = 0;
  for (const InputFile* e = inputs.first; e != nullptr; e = e->next, ++n) {
    items[n] = SolidItem{e->path, e->name, e->path};
    if (rename) {
      char* s = shown + n * kInputPathSize;
      const format::PathParts parts = format::SplitPath(e->path);
      format::CopyText(s, kInputPathSize, shown_dir);
      format::AppendText(s, kInputPathSize, parts.name);
      format::AppendText(s, kInputPathSize, parts.ext);
      items[n].shown = s;
    }
  }
  return AddSolidItems(w, items, count);
}

Status UpdateArchive(const Context& ctx, FileMaskList* list) {
  ctx.arc.status = kOk;  // the walks below start afresh
  const int32_t dict_kb = RebuildDictionary(ctx);
  return ctx.arc.solid != 0 ? UpdateSolid(ctx, list, dict_kb) : UpdateNormal(ctx, list, dict_kb);
}

}  // namespace acekit::ops
