// Switch parsing, the usage screen and the entry.
#include "cli/command_options.h"
#include "cli/entry.h"
#include "cli/format.h"
#include "comment/comment_command.h"
#include "platform/platform.h"

namespace tarnwick {
namespace {

using platform::Stream;

constexpr char16_t Fold(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Compares the first `length` units of `argument` with `text`, folding only
// the ASCII letters. The argument may be shorter than the text.
bool StartsWithFolded(const char16_t* argument, const char16_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (argument[i] == 0 || Fold(argument[i]) != Fold(text[i])) return false;
  }
  return true;
}

size_t Length(const char16_t* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

bool EqualsFolded(const char16_t* argument, const char16_t* text) {
  size_t length = Length(text);
  return StartsWithFolded(argument, text, length) && argument[length] == 0;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// How many of the first `limit` units of `text` to keep so that a cut never
// leaves the first half of a surrogate pair without its second.
size_t CutLength(const char16_t* text, size_t limit) {
  size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  if (n == limit && n > 0 && IsHighSurrogate(text[n - 1]) && IsLowSurrogate(text[n])) --n;
  return n;
}

void SetNewComment(CommandOptions& options, const char16_t* text) {
  size_t length = CutLength(text, MaxCommentLength);
  for (size_t i = 0; i < MaxCommentLength; ++i) {
    options.newComment[i] = i < length ? text[i] : 0;
  }
}

constexpr char16_t ServerPrefix[] = u"\\\\";
constexpr char16_t CommentPrefix[] = u"/SRVCOMMENT:";
constexpr size_t CommentPrefixLength = 12;

enum class Switch { Help, NoPrompt, Server, Comment, Unrecognised };

Switch Classify(const char16_t* argument) {
  if (EqualsFolded(argument, u"/?") || EqualsFolded(argument, u"-?") ||
      EqualsFolded(argument, u"/help") || EqualsFolded(argument, u"-help")) {
    return Switch::Help;
  }
  if (EqualsFolded(argument, u"/Y") || EqualsFolded(argument, u"-Y")) return Switch::NoPrompt;
  if (StartsWithFolded(argument, ServerPrefix, 2) && argument[2] != 0) return Switch::Server;
  if (StartsWithFolded(argument, CommentPrefix, CommentPrefixLength)) return Switch::Comment;
  return Switch::Unrecognised;
}

}  // namespace

void InitCommandOptions(CommandOptions& options) {
  options.serverName = nullptr;
  SetNewComment(options, NotSpecifiedMarker);
  options.newComment[MaxCommentLength] = 0;
  options.promptBeforeChange = true;
  options.pendingStatus = 0;
}

bool ParseSwitches(int count, const char16_t* const* arguments, CommandOptions& options) {
  for (int i = 1; i < count; ++i) {
    const char16_t* argument = arguments[i];
    switch (Classify(argument)) {
      case Switch::Help:
        return true;
      case Switch::NoPrompt:
        options.promptBeforeChange = false;
        break;
      case Switch::Server:
        options.serverName = argument;
        break;
      case Switch::Comment:
        SetNewComment(options, argument + CommentPrefixLength);
        break;
      case Switch::Unrecognised:
        platform::Beep(443, 200);
        Print(Stream::Error, u"\nInvalid switch ignored: \"%s\"", Text(argument));
        options.pendingStatus = StatusInvalidArgument;
        break;
    }
  }
  return false;
}

void GetProgramBaseName(const char16_t* programPath, char16_t (&baseName)[ProgramBaseNameLength]) {
  const char16_t* start = programPath;
  for (const char16_t* p = programPath; *p != 0; ++p) {
    if (*p == platform::PathSeparator) start = p + 1;
  }
  size_t length = CutLength(start, ProgramBaseNameLength - 1);
  for (size_t i = 0; i < ProgramBaseNameLength; ++i) baseName[i] = i < length ? start[i] : 0;
}

void ShowUsage(const char16_t* programPath) {
  static char16_t programBaseName[ProgramBaseNameLength];
  GetProgramBaseName(programPath, programBaseName);

  const Stream out = Stream::Output;
  Print(out, u"\n");
  Print(out, u"\n%s - version %s", Text(ProductName), Text(ProductVersion));
  Print(out, u"\n");
  Print(out, u"\nDisplays or changes the comment for the Server service, a description of the");
  Print(out, u"\nserver which is announced to the browse list and displayed in apps such as");
  Print(out, u"\nServer Manager, Network Neighborhood and the NET VIEW command.");
  Print(out, u"\n");
  Print(out, u"\n");
  Print(out, u"\nThe syntax of this command is:");
  Print(out, u"\n");
  Print(out, u"\n%s [/SRVCOMMENT:\"Description text\"] [/y] [\\\\computername]",
        Text(programBaseName));
  Print(out, u"\n");
  Print(out, u"\n /SRVCOMMENT: allows you to change the comment, otherwise no changes are made.");
  Print(out, u"\n \"Description text\" can be up to %d characters, and must be enclosed in quotes.",
        Number(static_cast<int32_t>(MaxCommentLength)));
  Print(out, u"\n");
  Print(out, u"\n /y allows you to set the new comment without being prompted.");
  Print(out, u"\n");
  Print(out, u"\n \\\\computername allows you to manage the comment of a remote NT/2000 system.");
  Print(out, u"\n");
  Print(out, u"\nThe new comment will not appear in the browse list immediately, it may take up");
  Print(out, u"\nto 30 minutes, depending on the complexity of your network.  Likewise, machines");
  Print(out, u"\nremoved from the network are not immediately removed from the browse list.  For");
  Print(out, u"\nmore information, see Microsoft Knowledge Base articles Q150800 and Q102878.");
  Print(out, u"\n");
  Print(out, u"\nThe comment can be set using the NET CONFIG SERVER command, unfortunately this");
  Print(out, u"\ncan also disable auto-tuning.  See Microsoft Knowledge Base article Q128167.");
  Print(out, u"\n");
  Print(out, u"\nAn argument of /? or -? displays this syntax and always returns 1.");
  Print(out, u"\nA successful completion will return %d.", Number(StatusSuccess));
  Print(out, u"\n");
  Print(out, u"\nVelmora is written and kept by the Velmora contributors.");
  Print(out, u"\n");
}

ExitStatus CommandMain(int count, const char16_t* const* arguments) {
  // One record for the whole run; static so the Windows image needs no
  // stack probe and nothing of it outlives its one use.
  static CommandOptions options;
  InitCommandOptions(options);
  if (count > 1 && ParseSwitches(count, arguments, options)) {
    ShowUsage(count > 0 ? arguments[0] : u"");
    return StatusUsage;
  }
  return RunCommentCommand(options);
}

}  // namespace tarnwick
