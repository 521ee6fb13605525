// Splitting a Windows command line into wide arguments, by the rules of the
// C runtime's start-up code. Portable and pure: only the Windows entry uses
// it, and it is tested everywhere.
#pragma once

#include <stddef.h>

namespace tarnwick {

// Splits `line` into arguments, argument zero first. Each argument is written
// into `storage` with its terminator, and `arguments` receives a pointer to
// each argument that fits whole within both capacities. Returns the number of
// arguments in the line and stores in `storageNeeded` the units they need, so
// a first call with no room measures and a second one fills.
size_t SplitCommandLine(const char16_t* line, const char16_t** arguments, size_t argumentCapacity,
                        char16_t* storage, size_t storageCapacity, size_t* storageNeeded);

}  // namespace tarnwick
