// What the host can learn about the open archive beyond its entry list: the
// information block (sizes, ratio, host, comments, solid and encrypted
// flags) and the optional work it switches on for list building.
#pragma once

#include <cstdint>

#include "ops/context.h"

namespace acekit::ops {

// Copies the host's twelve feature words. Word 1 equal to 1 switches on the
// reading of file comments for every later walk (0 does not switch it off
// again); word 2 equal to 1 makes every walk of the host compute the
// information block. Returns the copy. The status is not touched.
int32_t* SetExtraFeatures(const Context& ctx, const void* features);

// Fills the 23 words of `info` with the information block, walking the
// archive only when no walk has computed it since the archive was opened.
// File comments are read for it, whether or not the host asked for them.
// When the walk fails, `info` is left untouched and the status says why.
void GetExtraInfo(const Context& ctx, int32_t* info);

}  // namespace acekit::ops
