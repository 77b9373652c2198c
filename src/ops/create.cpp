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

bool WriteMainHeader(const Context& ctx, platform::Handle out, bool solid) {
  uint8_t head[kMainHeaderBytes];
  // A normal archive carries a marker text after its header. No flag
  // announces it, so readers take it for part of the header and skip it.
  const void* extra = solid ? nullptr : kNormalArchiveExtra;
  const uint32_t extra_size = solid ? 0 : kNormalArchiveExtraSize;
  BuildMainHeader(head, extra, extra_size, solid ? kMainFlagSolid : 0);
  bool ok = platform::Write(head, sizeof head, out) == static_cast<int32_t>(sizeof head);
  if (ok && extra_size != 0) {
    ok = platform::Write(extra, extra_size, out) == static_cast<int32_t>(extra_size);
  }
  if (!ok) ctx.arc.status = kShortWrite;
  return ok;
}

void CreateNormal(const Context& ctx, const FileMaskList* list, OutputArchive& out) {
  ctx.arc.solid = 0;
  if (!WriteMainHeader(ctx, out.handle(), false)) return;
  Compressor compressor;
  if (!StartWriting(ctx, compressor, ctx.settings.desc.dict_kb())) return;
  ItemWriter w{ctx.arc,    ctx.settings, ctx.hooks,
               compressor, out.handle(), DictionaryCode(compressor.dict_kb())};
  if (compressor.ParseSlots() > 0) {
    // With workers the items are known ahead, so that files can be read and
    // parsed while the ones before them are written.
    size_t count = 0;
    for (const FileMask* m = list->first; m != nullptr; m = m->next) ++count;
    ItemTexts items(count);
    if (items.get() == nullptr) return void(Fail(ctx, kNoMemory));
    // An item whose path is too long ends the run where the serial loop
    // would: the items before it still go in, with the same host calls.
    size_t n = 0;
    bool too_long = false;
    char source[kItemTextSize];
    char stored[kItemTextSize];
    for (const FileMask* m = list->first; m != nullptr && !too_long; m = m->next) {
      too_long = !ItemSourcePath(ctx.settings, *m, source, kItemTextSize) ||
                 !ItemName(*m, stored, kItemTextSize);
      if (!too_long && !items.Set(n++, source, stored)) return void(Fail(ctx, kNoMemory));
    }
    if (!AddItems(w, items.get(), n)) return;
    if (too_long) return void(ctx.arc.status = kOpenFailed);
    out.Finish();
    return;
  }
  char source[kItemTextSize];
  char stored[kItemTextSize];
  char shown[kItemTextSize + 1];
  for (const FileMask* m = list->first; m != nullptr; m = m->next) {
    if (!ItemSourcePath(ctx.settings, *m, source, sizeof source) ||
        !ItemName(*m, stored, sizeof stored)) {
      return void(ctx.arc.status = kOpenFailed);  // a path too long is refused, never cut
    }
    ShownName(stored, shown, sizeof shown);
    ctx.hooks.file_name.Call(source, shown);
    if (AddOneFile(w, source, stored) == kStepStop) return;
  }
  out.Finish();
}

void CreateSolid(const Context& ctx, const FileMaskList* list, OutputArchive& out) {
  ctx.arc.solid = 1;
  if (!WriteMainHeader(ctx, out.handle(), true)) return;
  InputFileList inputs;
  char source[kItemTextSize];
  char stored[kItemTextSize];
  for (const FileMask* m = list->first; m != nullptr; m = m->next) {
    if (!ItemSourcePath(ctx.settings, *m, source, sizeof source) ||
        !ItemName(*m, stored, sizeof stored)) {
      return void(ctx.arc.status = kOpenFailed);  // a path too long is refused, never cut
    }
    if (const Status st = AppendInputFile(inputs, source, stored); st != kOk) {
      ctx.arc.status = st;
      return;
    }
  }
  Compressor compressor;
  if (!StartWriting(ctx, compressor, ctx.settings.desc.dict_kb())) return;
  SortInputFileList(inputs);
  if (!CompressSolidList(ctx, inputs, compressor, out.handle(), ctx.settings, nullptr)) return;
  out.Finish();
}

}  // namespace

void CreateArchive(const Context& ctx, const FileMaskList* list) {
  if (ctx.arc.status != kOk) return;
  if (list == nullptr || list->first == nullptr) {
    ctx.arc.status = kNothingToAdd;
    return;
  }
  OutputArchive out;
  if (!out.Open(ctx.arc.archive_name)) {
    ctx.arc.status = kOpenFailed;
    return;
  }
  if (ctx.settings.desc.mode() & ACEKIT_DESC_MODE_SOLID) {
    CreateSolid(ctx, list, out);
  } else {
    CreateNormal(ctx, list, out);
  }
}

void CompressFileMaskList(const Context& ctx, FileMaskList* list) {
  if (ctx.arc.status != kOk) return;
  if (ctx.arc.new_archive == 1) {
    CreateArchive(ctx, list);
    return;
  }
  if (ctx.arc.read_only != 0) {
    ctx.arc.status = kReadOnlyArchive;
    return;
  }
  UpdateArchive(ctx, list);
}

}  // namespace acekit::ops
