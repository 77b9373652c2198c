#include "ops/delete.h"

#include "format/name_text.h"
#include "format/records.h"
#include "ops/collect.h"
#include "ops/compress_one.h"
#include "ops/entry_walk.h"
#include "ops/input_list.h"
#include "ops/rebuild.h"
#include "ops/update.h"
#include "platform/file.h"
#include "select/masks.h"

namespace acekit::ops {
namespace {

// The stored names of the entries the host's masks select, chosen from a
// list checked to hold every entry (a second walk could end early unseen).
bool NamesToDelete(const Context& ctx, const FileMaskList* masks, InputFileList& names) {
  EntryList entries;
  if (!ListWholeArchive(ctx, entries)) return false;
  const EntryFilter filter = MaskFilter(masks);
  char upper[sizeof(ArcEntry::name)];
  for (const ArcEntry* e = entries.list.first; e != nullptr; e = e->next) {
    if (e->head_type != kHeadFile) continue;
    CopyText(upper, sizeof upper, e->name);
    platform::CharUpper(upper);
    if (!filter.Selects(upper)) continue;
    if (const Status st = AppendInputFile(names, "", e->name); st != kOk) return Fail(ctx, st);
  }
  return true;
}

bool ReportDeleted(const Context& ctx) {
  if (ctx.hooks.progress && ctx.hooks.progress.Call(100, 100) == 0) {
    return Fail(ctx, kCancelled);
  }
  return true;
}

void DeleteNormal(const Context& ctx, const FileMaskList* masks) {
  OutputArchive temp;
  if (!temp.OpenBeside(ctx)) return;
  InputFileList doomed;
  if (!NamesToDelete(ctx, masks, doomed)) return;
  EntryList entries;
  if (!ListWholeArchive(ctx, entries)) return;
  {
    const platform::File old(ctx.arc.archive_name, 'r');
    if (!old) return void(Fail(ctx, kOpenFailed));
    bool ok = CopyArchiveHead(ctx, old.get(), temp.handle());
    char shown[kItemTextSize + 1];
    for (const ArcEntry* e = entries.list.first; ok && e != nullptr; e = e->next) {
      if (e->head_type == kHeadFile && EntryIsNamed(ctx.settings, e->name, doomed)) {
        ShownName(e->name, shown, sizeof shown);
        ctx.hooks.file_name.Call(shown, shown);
        ok = ReportDeleted(ctx);
      } else {
        ok = CopyArchiveBytes(ctx.arc, old.get(), temp.handle(), e->header_offset,
                              e->head_size + 4 + e->pack_size);
      }
    }
    if (!ok) return;
  }
  ReplaceArchiveFile(ctx, temp);
}

void DeleteSolid(const Context& ctx, const FileMaskList* masks, int32_t dict_kb) {
  SettingsRestore restore(ctx.settings);
  InputFileList doomed;
  if (!NamesToDelete(ctx, masks, doomed)) return;
  WorkDir work;
  InputFileList collected;
  if (!UnpackForRebuild(ctx, work, collected)) return;

  InputFileList inputs;
  for (const InputFile* c = collected.first; c != nullptr; c = c->next) {
    if (EntryIsNamed(ctx.settings, c->name, doomed)) {
      if (!ReportDeleted(ctx)) return;
      continue;
    }
    if (const Status st = AppendInputFile(inputs, c->path, c->name); st != kOk) {
      return void(Fail(ctx, st));
    }
  }
  SortInputFileList(inputs);

  OutputArchive temp;
  if (!temp.OpenBeside(ctx)) return;
  {
    const platform::File old(ctx.arc.archive_name, 'r');
    if (!old) return void(Fail(ctx, kOpenFailed));
    if (!CopyArchiveHead(ctx, old.get(), temp.handle())) return;
  }
  Compressor compressor;
  if (!StartWriting(ctx, compressor, dict_kb)) return;
  compressor.SetPendingPhase(-2);
  // The unpacking took the relative path off the names and the header
  // writer puts it back, so the host's settings name the files as before.
  if (!CompressSolidList(ctx, inputs, compressor, temp.handle(), ctx.settings, work.shown())) {
    return;
  }
  compressor.Shutdown();
  ReplaceArchiveFile(ctx, temp);
}

}  // namespace

void DeleteFileMaskList(const Context& ctx, const FileMaskList* masks) {
  if (ctx.arc.read_only != 0) {
    ctx.arc.status = kReadOnlyArchive;
    return;
  }
  ctx.arc.status = kOk;
  if (ctx.arc.solid == 0) {
    DeleteNormal(ctx, masks);
    return;
  }
  if (ctx.arc.version_needed != 10) {
    ctx.arc.status = kUnsupported;
    return;
  }
  DeleteSolid(ctx, masks, RebuildDictionary(ctx));
}

}  // namespace acekit::ops
