// Win32 platform layer: only code that talks to Windows lives here. It is the
// image's entry point and C runtime all in one, and hands the seam's calls
// straight to KERNEL32 and NETAPI32.
#include <stddef.h>
#include <stdint.h>

// The seam first: <windows.h> defines some of its constant names as macros.
#include "cli/command_line.h"
#include "cli/entry.h"
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <lm.h>

// The seam passes the system's records through untouched, so they must be
// the system's records to the byte.
static_assert(sizeof(char16_t) == sizeof(WCHAR), "UTF-16 units are WCHARs");
static_assert(sizeof(tarnwick::platform::DWORD) == sizeof(::DWORD), "DWORD");
static_assert(sizeof(tarnwick::platform::SERVER_INFO_101) == sizeof(::SERVER_INFO_101),
              "SERVER_INFO_101 size");
static_assert(offsetof(tarnwick::platform::SERVER_INFO_101, sv101_platform_id) ==
                  offsetof(::SERVER_INFO_101, sv101_platform_id),
              "sv101_platform_id");
static_assert(offsetof(tarnwick::platform::SERVER_INFO_101, sv101_name) ==
                  offsetof(::SERVER_INFO_101, sv101_name),
              "sv101_name");
static_assert(offsetof(tarnwick::platform::SERVER_INFO_101, sv101_version_major) ==
                  offsetof(::SERVER_INFO_101, sv101_version_major),
              "sv101_version_major");
static_assert(offsetof(tarnwick::platform::SERVER_INFO_101, sv101_version_minor) ==
                  offsetof(::SERVER_INFO_101, sv101_version_minor),
              "sv101_version_minor");
static_assert(offsetof(tarnwick::platform::SERVER_INFO_101, sv101_type) ==
                  offsetof(::SERVER_INFO_101, sv101_type),
              "sv101_type");
static_assert(offsetof(tarnwick::platform::SERVER_INFO_101, sv101_comment) ==
                  offsetof(::SERVER_INFO_101, sv101_comment),
              "sv101_comment");
static_assert(sizeof(tarnwick::platform::SERVER_INFO_1005) == sizeof(::SERVER_INFO_1005),
              "SERVER_INFO_1005 size");
static_assert(offsetof(tarnwick::platform::SERVER_INFO_1005, sv1005_comment) ==
                  offsetof(::SERVER_INFO_1005, sv1005_comment),
              "sv1005_comment");

namespace tarnwick::platform {

const char16_t PathSeparator = u'\\';

size_t EncodeConsoleText(const char16_t* units, size_t count, unsigned char* out,
                         EncoderState& state, bool final) {
  return EncodeLatin1CrLf(units, count, out, state, final);
}

namespace {

// The system's wide strings are WCHAR, the core's char16_t: same units.
::LPWSTR Wide(LPCWSTR text) { return reinterpret_cast<::LPWSTR>(const_cast<char16_t*>(text)); }

::HANDLE StreamHandle(Stream stream) {
  return ::GetStdHandle(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

// The console's own devices, opened for the confirmation key only, so that
// a redirected standard input never answers the question. Opened on first
// use and kept until the process ends, after the last message.
bool consoleOpened = false;
::HANDLE consoleIn = nullptr;
::HANDLE consoleOut = nullptr;

void OpenConsoleDevices() {
  if (consoleOpened) return;
  consoleOpened = true;
  consoleIn = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  consoleOut = ::CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
}

bool IsOpen(::HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

void CloseConsoleDevices() {
  if (IsOpen(consoleIn)) ::CloseHandle(consoleIn);
  if (IsOpen(consoleOut)) ::CloseHandle(consoleOut);
  consoleIn = consoleOut = nullptr;
}

// Reads key events until one that ends the read; returns its code, or -1
// when the console cannot be read.
int ReadKeyCode() {
  for (;;) {
    ::INPUT_RECORD record;
    ::DWORD read = 0;
    if (!::ReadConsoleInputA(consoleIn, &record, 1, &read) || read != 1) return -1;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    // The repeat count does not matter: one press answers the question.
    int code = TranslateConsoleKey(record.Event.KeyEvent.wVirtualKeyCode,
                                   static_cast<unsigned char>(record.Event.KeyEvent.uChar.AsciiChar));
    if (code != KeySkipped) return code;
  }
}

}  // namespace

void WriteStream(Stream stream, const unsigned char* bytes, size_t count) {
  ::DWORD written = 0;
  // A failed write never changes the run.
  ::WriteFile(StreamHandle(stream), bytes, static_cast<::DWORD>(count), &written, nullptr);
}

bool IsTerminalStream(Stream stream) {
  ::DWORD mode = 0;
  return ::GetConsoleMode(StreamHandle(stream), &mode) != 0;
}

int ReadConfirmationKey() {
  OpenConsoleDevices();
  if (!IsOpen(consoleIn) || !IsOpen(consoleOut)) return -1;

  // No line input, no echo and no Ctrl+C handling while the key is read:
  // the answer is one key, echoed by hand below.
  ::DWORD saved = 0;
  bool restore = ::GetConsoleMode(consoleIn, &saved) != 0;
  ::SetConsoleMode(consoleIn, 0);
  int code = ReadKeyCode();
  if (restore) ::SetConsoleMode(consoleIn, saved);
  if (code < 0) return -1;

  char echo = static_cast<char>(code);
  ::DWORD written = 0;
  if (!::WriteConsoleA(consoleOut, &echo, 1, &written, nullptr) || written != 1) return -1;
  return code;
}

NET_API_STATUS NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  return ::NetServerGetInfo(Wide(servername), level, bufptr);
}

NET_API_STATUS NetServerSetInfo(LPCWSTR servername, DWORD level, LPBYTE buf, DWORD* parm_err) {
  ::DWORD parameter = 0;
  NET_API_STATUS status = ::NetServerSetInfo(Wide(servername), level, buf, &parameter);
  if (parm_err != nullptr) *parm_err = parameter;
  return status;
}

NET_API_STATUS NetApiBufferFree(void* buffer) { return ::NetApiBufferFree(buffer); }

HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, void* hFile, DWORD dwFlags) {
  return ::LoadLibraryExW(Wide(lpLibFileName), static_cast<::HANDLE>(hFile), dwFlags);
}

int FreeLibrary(HMODULE hLibModule) { return ::FreeLibrary(static_cast<::HMODULE>(hLibModule)); }

DWORD FormatMessageW(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPWSTR lpBuffer, DWORD nSize, void* Arguments) {
  return ::FormatMessageW(dwFlags, lpSource, dwMessageId, dwLanguageId,
                          reinterpret_cast<::LPWSTR>(lpBuffer), nSize,
                          static_cast<va_list*>(Arguments));
}

HLOCAL LocalFree(HLOCAL hMem) { return ::LocalFree(static_cast<::HLOCAL>(hMem)); }

int Beep(DWORD dwFreq, DWORD dwDuration) { return ::Beep(dwFreq, dwDuration); }

}  // namespace tarnwick::platform

// ---------------------------------------------------------------------------
// Start and end of the process. No C runtime runs before this: nothing in
// the image may need a constructor, and the arguments are split here.

extern "C" __attribute__((noreturn, force_align_arg_pointer)) void TarnwickStart() {
  const auto* line = reinterpret_cast<const char16_t*>(::GetCommandLineW());
  size_t units = 0;
  size_t count = tarnwick::SplitCommandLine(line, nullptr, 0, nullptr, 0, &units);

  // One block: the pointers, a null after the last, then the texts.
  size_t pointerBytes = (count + 1) * sizeof(const char16_t*);
  void* block = ::HeapAlloc(::GetProcessHeap(), 0, pointerBytes + units * sizeof(char16_t));
  if (block == nullptr) ::ExitProcess(ERROR_NOT_ENOUGH_MEMORY);
  auto** arguments = static_cast<const char16_t**>(block);
  auto* storage = reinterpret_cast<char16_t*>(static_cast<unsigned char*>(block) + pointerBytes);
  tarnwick::SplitCommandLine(line, arguments, count, storage, units, &units);
  arguments[count] = nullptr;

  uint32_t status = tarnwick::CommandMain(static_cast<int>(count), arguments);
  tarnwick::platform::CloseConsoleDevices();
  ::ExitProcess(status);
}
