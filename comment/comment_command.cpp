// The comment command: read the server's name and comment, show them, and
// change the comment when asked.
#include "cli/format.h"
#include "comment/comment_command.h"
#include "platform/platform.h"

namespace tarnwick {
namespace {

using platform::Stream;

bool IsNotSpecified(const char16_t* comment) {
  // Exact, case-sensitive: any other spelling is an ordinary new comment.
  size_t i = 0;
  for (; NotSpecifiedMarker[i] != 0; ++i) {
    if (comment[i] != NotSpecifiedMarker[i]) return false;
  }
  return comment[i] == 0;
}

void ReportSystemError(ExitStatus status) {
  Print(Stream::Error, u"\n\nSystem error %d has occurred.\n\n", Number(static_cast<int32_t>(status)));
  PrintSystemErrorText(status);
}

constexpr int KeyYes = 'y';
constexpr int KeyCapitalYes = 'Y';

}  // namespace

ExitStatus RunCommentCommand(const CommandOptions& options) {
  ExitStatus status = options.pendingStatus;

  platform::LPBYTE buffer = nullptr;
  platform::NET_API_STATUS readStatus = platform::NetServerGetInfo(options.serverName, 101, &buffer);
  if (readStatus != platform::NERR_Success) {
    Print(Stream::Error, u"\n\nNetServerGetInfo() failed.");
    ReportSystemError(readStatus);
    // The status is the platform's; no buffer is expected, but one handed
    // back all the same is still ours to release.
    if (buffer != nullptr) platform::NetApiBufferFree(buffer);
    return readStatus;
  }
  if (buffer != nullptr) {
    const auto* info = reinterpret_cast<const platform::SERVER_INFO_101*>(buffer);
    Print(Stream::Output, u"\n\nServer Name:\t\t%s", ServerText(info->sv101_name));
    Print(Stream::Output, u"\nServer Comment:\t\t%s\n", ServerText(info->sv101_comment));
    platform::NetApiBufferFree(buffer);
  } else {
    Print(Stream::Output, u"\n\nServer Name:\t\t%s", Text(u""));
    Print(Stream::Output, u"\nServer Comment:\t\t%s\n", Text(u""));
  }

  if (IsNotSpecified(options.newComment)) {
    if (status != StatusSuccess) return status;
    Print(Stream::Output, u"\nThe command completed successfully.\n");
    return StatusSuccess;
  }

  if (options.promptBeforeChange) {
    Print(Stream::Output, u"\n\nThe Server comment will be changed to '%s'.", Text(options.newComment));
    Print(Stream::Output, u"\n\nContinue? (Y/N): ");
    status = StatusDeclined;
    int key = platform::ReadConfirmationKey();
    Print(Stream::Output, u"\n");
    if (key != KeyYes && key != KeyCapitalYes) return status;
  }

  platform::SERVER_INFO_1005 change;
  change.sv1005_comment = const_cast<platform::LPWSTR>(options.newComment);
  platform::NET_API_STATUS changeStatus = platform::NetServerSetInfo(
      options.serverName, 1005, reinterpret_cast<platform::LPBYTE>(&change), nullptr);
  if (changeStatus != platform::NERR_Success) {
    ReportSystemError(changeStatus);
    return changeStatus;
  }
  Print(Stream::Output, u"\nNew Server Comment:\t%s\n", Text(options.newComment));
  Print(Stream::Output, u"\nThe command completed successfully.\n");
  return StatusSuccess;
}

}  // namespace tarnwick
