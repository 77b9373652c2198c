#include "ops/create.h"

#include "format/name_text.h"
#include "format/records.h"
#include "ops/collect.h"
#include "ops/compress_one.h"
#include "ops/input_list.h"
#include "ops/rebuild.h"
#include "ops/update.h"

namespace acekit::ops {
namespace {

Status WriteMainHeader(platform::Handle out, bool solid) {
  uint8_t head[format::kMainHeaderBytes];
  // A normal archive carries a marker text after its header. No flag
  // announces it, so readers take it for part of the header and skip it.
  const void* extra = solid ? nullptr : format::kNormalArchiveExtra;
  const uint32_t extra_size = solid ? 0 : format::kNormalArchiveExtraSize;
  format::BuildMainHeader(head, extra, extra_size, solid ? format::kMainFlagSolid : 0);
  bool ok = platform::Write(head, sizeof head, out) == static_cast<int32_t>(sizeof head);
  if (ok && extra_size != 0) {
    ok = platform::Write(extra, extra_size, out) == static_cast<int32_t>(extra_size);
  }
  return ok ? kOk : kShortWrite;
}

Status CreateNormal(const Context& ctx, const FileMaskList* list, OutputArchive& out) {
  ctx.arc.solid = 0;
  if (const Status st = WriteMainHeader(out.handle(), false); st != kOk) return st;
  compress::Compressor compressor;
  if (const Status st = StartWriting(ctx, compressor, ctx.settings.desc.dict_kb()); st != kOk) {
    return st;
  }
  ItemWriter w{ctx.arc,    ctx.settings, ctx.hooks,
               compressor, out.handle(), format::DictionaryCode(compressor.dict_kb())};
  if (compressor.ParseSlots() > 0) {
    // With workers the items are known ahead, so that files can be read and
    // parsed while the ones before them are written.
    size_t count = 0;
    for (const FileMask* m = list->first; m != nullptr; m = m->next) ++count;
    ItemTexts items(count);
    if (items.get() == nullptr) return kNoMemory;
    // An item whose path is too long ends the run where the serial loop
    // would: the items before it still go in, with the same host calls.
    size_t n = 0;
    bool too_long = false;
    char source[kItemTextSize];
    char stored[kItemTextSize];
    for (const FileMask* m = list->first; m != nullptr && !too_long; m = m->next) {
      too_long = !ItemSourcePath(ctx.settings, *m, source, kItemTextSize) ||
                 !ItemName(*m, stored, kItemTextSize);
      if (!too_long && !items.Set(n++, source, stored)) return kNoMemory;
    }
    if (const Status st = AddItems(w, items.get(), n); st != kOk) return st;
    if (too_long) return kOpenFailed;
    out.Finish();
    return kOk;
  }
  char source[kItemTextSize];
  char stored[kItemTextSize];
  char shown[kItemTextSize + 1];
  ItemStage stage;
  for (const FileMask* m = list->first; m != nullptr; m = m->next) {
    if (!ItemSourcePath(ctx.settings, *m, source, sizeof source) ||
        !ItemName(*m, stored, sizeof stored)) {
      return kOpenFailed;  // a path too long is refused, never cut
    }
    ShownName(stored, shown, sizeof shown);
    ctx.hooks.file_name.Call(source, shown);
    if (AddOneFile(w, source, stored, &stage) == kStepStop) return StopReason(w);
  }
  out.Finish();
  return kOk;
}

Status CreateSolid(const Context& ctx, const FileMaskList* list, OutputArchive& out) {
  ctx.arc.solid = 1;
  if (const Status st = WriteMainHeader(out.handle(), true); st != kOk) return st;
  InputFileList inputs;
  char source[kItemTextSize];
  char stored[kItemTextSize];
  for (const FileMask* m = list->first; m != nullptr; m = m->next) {
    if (!ItemSourcePath(ctx.settings, *m, source, sizeof source) ||
        !ItemName(*m, stored, sizeof stored)) {
      return kOpenFailed;  // a path too long is refused, never cut
    }
    if (const Status st = AppendInputFile(inputs, source, stored); st != kOk) return st;
  }
  compress::Compressor compressor;
  if (const Status st = StartWriting(ctx, compressor, ctx.settings.desc.dict_kb()); st != kOk) {
    return st;
  }
  SortInputFileList(inputs);
  if (const Status st =
          CompressSolidList(ctx, inputs, compressor, out.handle(), ctx.settings, nullptr);
      st != kOk) {
    return st;
  }
  out.Finish();
  return kOk;
}

}  // namespace

Status CreateArchive(const Context& ctx, const FileMaskList* list) {
  if (ctx.arc.status != kOk) return static_cast<Status>(ctx.arc.status);
  if (list == nullptr || list->first == nullptr) return kNothingToAdd;
  OutputArchive out;
  if (const Status st = out.Open(ctx.arc.archive_name); st != kOk) return st;
  return ctx.settings.desc.mode() & ACEKIT_DESC_MODE_SOLID ? CreateSolid(ctx, list, out)
                                                           : CreateNormal(ctx, list, out);
}

Status CompressFileMaskList(const Context& ctx, FileMaskList* list) {
  if (ctx.arc.status != kOk) return static_cast<Status>(ctx.arc.status);
  if (ctx.arc.new_archive == 1) return Finished(CreateArchive(ctx, list));
  if (ctx.arc.read_only != 0) return kReadOnlyArchive;
  return Finished(UpdateArchive(ctx, list));
}

}  // namespace acekit::ops
