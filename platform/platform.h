// The seam between the portable core and the operating system.
//
// Everything the tool asks of the system goes through the declarations in
// this header. The names are the Win32 ones on purpose: the core reads like
// the Windows program it is, and each platform file supplies them in its own
// way (platform/win32 forwards to the real calls, platform/posix carries them
// over Samba's libnetapi and the terminal). They live in our own namespace so
// they never collide with the system's declarations of the same names.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tarnwick::platform {

using DWORD = uint32_t;
using NET_API_STATUS = DWORD;
using LPBYTE = unsigned char*;
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;
using HMODULE = void*;
using HLOCAL = void*;

// Laid out exactly as the Win32 records, so the Windows layer can hand the
// system's buffer straight through.
struct SERVER_INFO_101 {
  DWORD sv101_platform_id;
  LPWSTR sv101_name;
  DWORD sv101_version_major;
  DWORD sv101_version_minor;
  DWORD sv101_type;
  LPWSTR sv101_comment;
};

struct SERVER_INFO_1005 {
  LPWSTR sv1005_comment;
};

constexpr DWORD NERR_Success = 0;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;

constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;
constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD LANG_USER_DEFAULT = 0x0400;

// Network management.
NET_API_STATUS NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr);
NET_API_STATUS NetServerSetInfo(LPCWSTR servername, DWORD level, LPBYTE buf, DWORD* parm_err);
NET_API_STATUS NetApiBufferFree(void* buffer);

// Message texts.
HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, void* hFile, DWORD dwFlags);
int FreeLibrary(HMODULE hLibModule);
// With FORMAT_MESSAGE_ALLOCATE_BUFFER, lpBuffer is really an LPWSTR* that
// receives a text the caller releases with LocalFree, as on Windows.
DWORD FormatMessageW(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                     DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize, void* Arguments);
HLOCAL LocalFree(HLOCAL hMem);

// The warning tone.
int Beep(DWORD dwFreq, DWORD dwDuration);

// One keystroke from the console keyboard (never standard input), echoed to
// the console: its code 0..255, or -1 when none could be read or echoed.
int ReadConfirmationKey();

// Standard output and standard error.
enum class Stream { Output, Error };

// Writes already-encoded bytes with one system call where the system allows.
void WriteStream(Stream stream, const unsigned char* bytes, size_t count);

// True when the stream is an interactive terminal (a console on Windows),
// where control characters would be acted on rather than stored.
bool IsTerminalStream(Stream stream);

// The separator that ends the directory part of argument zero.
extern const char16_t PathSeparator;

// ---------------------------------------------------------------------------
// Text conversions. The core holds UTF-16; these are the only places where it
// meets bytes. All are pure and portable so both layers' rules can be tested
// anywhere.

// The most bytes any console encoder writes for one UTF-16 unit.
constexpr size_t MaxEncodedBytesPerUnit = 3;

// What pending state an encoder keeps between calls: a high surrogate whose
// partner may arrive in the next piece.
struct EncoderState {
  char16_t pendingHigh = 0;
};

// This platform's console encoding; `out` must hold
// MaxEncodedBytesPerUnit * (count + 1) bytes. A pending high surrogate is kept
// in `state` unless `final` is set.
size_t EncodeConsoleText(const char16_t* units, size_t count, unsigned char* out,
                         EncoderState& state, bool final);

// UTF-8 with LF line ends. A lone surrogate becomes U+FFFD.
size_t EncodeUtf8Lf(const char16_t* units, size_t count, unsigned char* out,
                    EncoderState& state, bool final);

// Windows console bytes with no locale: units below 256 as that byte, 256 and
// above as '?', LF as CR LF, and CR unchanged.
size_t EncodeLatin1CrLf(const char16_t* units, size_t count, unsigned char* out,
                        EncoderState& state, bool final);

// Strict UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF) to
// UTF-16. Returns the number of units written, or -1 when the bytes are not
// valid UTF-8. `out` needs room for `count` units; no terminator is added.
ptrdiff_t DecodeUtf8(const unsigned char* bytes, size_t count, char16_t* out);

// As DecodeUtf8, but each byte that starts no valid sequence becomes U+FFFD,
// for text that must be shown whatever it holds. Never fails.
size_t DecodeUtf8Replacing(const unsigned char* bytes, size_t count, char16_t* out);

// UTF-16 to UTF-8 for the network library's calls; a lone surrogate becomes
// U+FFFD. Returns the bytes written; `out` needs 3 * count bytes.
size_t EncodeUtf8(const char16_t* units, size_t count, unsigned char* out);

// ---------------------------------------------------------------------------
// Keystrokes. What a console key press yields as a one-byte code, by the
// rules of the platform's console key read.

// Result of translating one key press.
constexpr int KeySkipped = -2;

// Windows: a key-down event with virtual key `virtualKey` and the character
// `ascii` (0 when the key carries none). Returns the code, or KeySkipped for
// keys that do not end the read (modifiers and locks alone).
int TranslateConsoleKey(uint16_t virtualKey, unsigned char ascii);

// POSIX: the bytes a terminal sent for one key press. `length` bytes are in
// `bytes`. Returns the code of the key: the byte itself for a single byte, the
// lead byte of a multi-byte character, 224 for a cursor or editing key, 0 for
// a function key, and 27 for Escape.
int TranslateTerminalKey(const unsigned char* bytes, size_t length);

// True when `length` bytes read so far make up one whole key: a plain byte,
// a full UTF-8 character, or an escape sequence up to its final byte.
bool TerminalKeyComplete(const unsigned char* bytes, size_t length);

}  // namespace tarnwick::platform
