// What extraction does with a file that is there already.
#pragma once

namespace acekit_cli {

// kNone keeps existing files quietly (-n); kNoneReported keeps them and
// reports each one (the default without a terminal).
enum class Overwrite { kAsk, kAll, kNone, kNoneReported };

}  // namespace acekit_cli
