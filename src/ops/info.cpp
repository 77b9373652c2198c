#include "ops/info.h"

#include <cstring>

#include "common/status.h"
#include "format/entry_list.h"
#include "ops/entry_walk.h"

namespace acekit::ops {
namespace {

constexpr int kFeatureWords = 12;

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
    ArcFileList list{};
    ctx.extra_features[kComputeInfo] = 1;
    BuildArchiveList(ctx, &list, nullptr, ArcInfoRequest::kIfAsked);
    ctx.extra_features[kComputeInfo] = 0;
    format::DoneEntryList(&list);
    if (ctx.arc.status != kOk) {
      // A walk that failed part way must not pass for the archive's summary.
      ctx.arc.info_valid = 0;
      return;
    }
  }
  std::memcpy(info, ctx.arc_info, sizeof(int32_t) * format::kArcInfoWords);
}

}  // namespace acekit::ops
