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
Status NamesToDelete(const Context& ctx, const FileMaskList* masks, InputFileList& names) {
  format::EntryList entries;
  if (const Status st = ListWholeArchive(ctx, entries); st != kOk) return st;
  const format::EntryFilter filter = select::MaskFilter(masks);
  char upper[sizeof(ArcEntry::name)];
  for (const ArcEntry* e = entries.list.first; e != nullptr; e = e->next) {
    if (e->head_type != format::kHeadFile) continue;
    format::CopyText(upper, sizeof upper, e->name);
    platform::CharUpper(upper);
    if (!filter.Selects(upper)) continue;
    if (const Status st = AppendInputFile(names, "", e->name); st != kOk) return st;
  }
  return kOk;
}

Status ReportDeleted(const Context& ctx) {
  if (ctx.hooks.progress && ctx.hooks.progress.Call(100, 100) == 0) return kCancelled;
  return kOk;
}

Status DeleteNormal(const Context& ctx, const FileMaskList* masks) {
  OutputArchive temp;
  if (const Status st = temp.OpenBeside(ctx); st != kOk) return st;
  InputFileList doomed;
  if (const Status st = NamesToDelete(ctx, masks, doomed); st != kOk) return st;
  format::EntryList entries;
  if (const Status st = ListWholeArchive(ctx, entries); st != kOk) return st;
  {
    const platform::File old(ctx.arc.archive_name, 'r');
    if (!old) return kOpenFailed;
    Status st = CopyArchiveHead(ctx, old.get(), temp.handle());
    char shown[kItemTextSize + 1];
    for (const ArcEntry* e = entries.list.first; st == kOk && e != nullptr; e = e->next) {
      if (e->head_type == format::kHeadFile && EntryIsNamed(ctx.settings, e->name, doomed)) {
        ShownName(e->name, shown, sizeof shown);
        ctx.hooks.file_name.Call(shown, shown);
        st = ReportDeleted(ctx);
      } else {
        st = CopyArchiveBytes(old.get(), temp.handle(), e->header_offset,
                              e->head_size + 4 + e->pack_size);
      }
    }
    if (st != kOk) return st;
  }
  return ReplaceArchiveFile(temp);
}

Status DeleteSolid(const Context& ctx, const FileMaskList* masks, int32_t dict_kb) {
  SettingsRestore restore(ctx.settings);
  InputFileList doomed;
  if (const Status st = NamesToDelete(ctx, masks, doomed); st != kOk) return st;
  WorkDir work;
  InputFileList collected;
  if (const Status st = UnpackForRebuild(ctx, work, collected); st != kOk) return st;

  InputFileList inputs;
  for (const InputFile* c = collected.first; c != nullptr; c = c->next) {
    if (EntryIsNamed(ctx.settings, c->name, doomed)) {
      if (const Status st = ReportDeleted(ctx); st != kOk) return st;
      continue;
    }
    if (const Status st = AppendInputFile(inputs, c->path, c->name); st != kOk) return st;
  }
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
  compressor.SetPendingPhase(-2);
  // The unpacking took the relative path off the names and the header
  // writer puts it back, so the host's settings name the files as before.
  if (const Status st =
          CompressSolidList(ctx, inputs, compressor, temp.handle(), ctx.settings, work.shown());
      st != kOk) {
    return st;
  }
  compressor.Shutdown();
  return ReplaceArchiveFile(temp);
}

}  // namespace

Status DeleteFileMaskList(const Context& ctx, const FileMaskList* masks) {
  if (ctx.arc.read_only != 0) return kReadOnlyArchive;
  ctx.arc.status = kOk;  // the walks below start afresh
  if (ctx.arc.solid == 0) return DeleteNormal(ctx, masks);
  if (ctx.arc.version_needed != 10) return kUnsupported;
  return Finished(DeleteSolid(ctx, masks, RebuildDictionary(ctx)));
}

}  // namespace acekit::ops
