// The system's own explanation of a failed call's status.
#include "cli/format.h"
#include "comment/comment_command.h"
#include "platform/platform.h"

namespace tarnwick {
namespace {

constexpr ExitStatus FirstNetworkStatus = 2100;
constexpr ExitStatus LastNetworkStatus = 2999;
constexpr size_t TextBufferLength = 512;

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

void PrintSystemErrorText(ExitStatus status) {
  using namespace platform;

  HMODULE module = nullptr;
  if (status >= FirstNetworkStatus && status <= LastNetworkStatus) {
    module = LoadLibraryExW(u"netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                FORMAT_MESSAGE_FROM_SYSTEM;
  if (module != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;

  LPWSTR text = nullptr;
  DWORD length = FormatMessageW(flags, module, status, LANG_USER_DEFAULT,
                                reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  if (length != 0 && text != nullptr) {
    // A longer text is cut at 511 units, never between the halves of a pair.
    static char16_t buffer[TextBufferLength];
    size_t copy = length < TextBufferLength - 1 ? length : TextBufferLength - 1;
    if (copy < length && IsHighSurrogate(text[copy - 1])) --copy;
    for (size_t i = 0; i < copy; ++i) buffer[i] = text[i];
    buffer[copy] = 0;
    Print(Stream::Error, u"%s", Text(buffer));
  }
  if (text != nullptr) LocalFree(text);
  if (module != nullptr) FreeLibrary(module);
}

}  // namespace tarnwick
