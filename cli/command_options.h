// The invocation record that the front end fills and the comment command
// consumes, with the constants both sides agree on.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tarnwick {

using ExitStatus = uint32_t;

constexpr ExitStatus StatusSuccess = 0;
constexpr ExitStatus StatusUsage = 1;
constexpr ExitStatus StatusInvalidArgument = 87;
constexpr ExitStatus StatusDeclined = 240;

constexpr size_t MaxCommentLength = 48;
inline constexpr char16_t NotSpecifiedMarker[] = u"***NotSpecified***";

struct CommandOptions {
  // None means this machine. Points into the argument vector, which outlives
  // the run, and holds the argument exactly as given, backslashes included.
  const char16_t* serverName = nullptr;
  // The last element is never written, so the text is always terminated.
  char16_t newComment[MaxCommentLength + 1] = {};
  bool promptBeforeChange = true;
  ExitStatus pendingStatus = 0;
};

// Puts a freshly made record in its initial state.
void InitCommandOptions(CommandOptions& options);

}  // namespace tarnwick
