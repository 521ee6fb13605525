// The tool's entry and its command-line front end.
#pragma once

#include "cli/command_options.h"
#include "resources/version.h"

namespace tarnwick {

// The program's name and version, from the same header as the Windows
// image's version record, so the two always agree.
inline constexpr char16_t ProductName[] = u"" TARNWICK_PRODUCT_NAME;
inline constexpr char16_t ProductVersion[] = u"" TARNWICK_PRODUCT_VERSION;

// Holds argument zero's last component: 260 characters and a terminator.
constexpr size_t ProgramBaseNameLength = 261;

// Runs the tool over the wide argument vector, argument zero included, and
// returns the exit status.
ExitStatus CommandMain(int count, const char16_t* const* arguments);

// Applies arguments 1 to count - 1 to `options`, warning about the ones it
// does not know. Returns true, without looking further, at a help switch.
bool ParseSwitches(int count, const char16_t* const* arguments, CommandOptions& options);

// Prints the usage screen for the program named by `programPath`.
void ShowUsage(const char16_t* programPath);

// Copies the part of `programPath` after its last path separator into
// `baseName`, cut to 260 units without splitting a surrogate pair.
void GetProgramBaseName(const char16_t* programPath, char16_t (&baseName)[ProgramBaseNameLength]);

}  // namespace tarnwick
