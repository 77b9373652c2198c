#include "ops/info.h"

#include <cstring>

#include "common/status.h"
#include "format/entry_list.h"
#include "ops/entry_list.h"

namespace acekit::ops {
namespace {

constexpr int kFeatureWords = 12;
constexpr int kReadComments = 1;
constexpr int kComputeInfo = 2;

// True when the archive ends right after its main header: no first file
// header was found because there is none. False (with the status set) when
// the archive cannot be looked at.
bool HoldsNothing(const Context& ctx, bool* empty) {
  *empty = false;
  if (ctx.arc.first_entry_offset != 0) return true;
  const platform::Handle h = platform::Open(ctx.arc.archive_name, 'r');
  if (h == platform::kBadHandle) {
    ctx.arc.status = kOpenFailed;
    return false;
  }
  const int32_t size = platform::Size(h);
  platform::Close(h);
  if (size < 0) {
    ctx.arc.status = kOpenFailed;
    return false;
  }
  const int64_t head_end = int64_t{ctx.arc.main_header_offset} + ctx.arc.main_header_length;
  *empty = ctx.arc.main_header_offset >= 0 && head_end == size;
  return true;
}

}  // namespace

int32_t* SetExtraFeatures(const Context& ctx, const void* features) {
  if (features != nullptr) {
    std::memcpy(ctx.extra_features, features, sizeof(int32_t) * kFeatureWords);
    if (ctx.extra_features[kReadComments] == 1) ctx.arc.read_file_comments = 1;
  }
  return ctx.extra_features;
}

void GetExtraInfo(const Context& ctx, int32_t* info) {
  if (info == nullptr) return;
  if (ctx.arc.info_valid == 0) {
    // A code left by an earlier call would end the walk at once and leave an
    // empty list taken for the archive's contents.
    ctx.arc.status = kOk;
    ctx.arc.read_file_comments = 1;
    bool empty = false;
    if (!HoldsNothing(ctx, &empty)) return;
    ArcFileList list{};
    if (empty) {
      ComputeArcInfo(ctx.arc, &list, ctx.arc_info);
    } else {
      ctx.extra_features[kComputeInfo] = 1;
      BuildArchiveList(ctx, &list, nullptr, ArcInfoRequest::kIfAsked);
      ctx.extra_features[kComputeInfo] = 0;
      DoneEntryList(&list);
    }
    if (ctx.arc.status != kOk) {
      // A walk that failed part way must not pass for the archive's summary.
      ctx.arc.info_valid = 0;
      return;
    }
  }
  std::memcpy(info, ctx.arc_info, sizeof(int32_t) * kArcInfoWords);
}

bool ListEveryEntry(const Context& ctx, EntryList& entries) {
  bool empty = false;
  if (!HoldsNothing(ctx, &empty)) return false;
  if (empty) return true;
  return ListWholeArchive(ctx, entries);
}

}  // namespace acekit::ops
