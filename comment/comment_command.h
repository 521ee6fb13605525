// Reading, showing and changing the Server service's comment.
#pragma once

#include "cli/command_options.h"

namespace tarnwick {

// Shows the server's name and comment and, when asked, changes the comment.
// Returns the run's exit status.
ExitStatus RunCommentCommand(const CommandOptions& options);

// Writes the system's explanation of `status` to standard error, if it has one.
void PrintSystemErrorText(ExitStatus status);

}  // namespace tarnwick
