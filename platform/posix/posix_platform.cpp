// POSIX platform layer: only code that talks to a POSIX system and to Samba's
// libnetapi lives here. It carries the Win32 calls of the seam over libnetapi
// (loaded on first use), the controlling terminal and the standard streams.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "cli/entry.h"
#include "platform/platform.h"

extern "C" {
#include <netapi.h>
}

namespace tarnwick::platform {

const char16_t PathSeparator = u'/';

size_t EncodeConsoleText(const char16_t* units, size_t count, unsigned char* out,
                         EncoderState& state, bool final) {
  return EncodeUtf8Lf(units, count, out, state, final);
}

namespace {

// ---------------------------------------------------------------------------
// Standard streams.

int StreamFd(Stream stream) { return stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO; }

void WriteAll(int fd, const unsigned char* bytes, size_t count) {
  while (count != 0) {
    ssize_t written = write(fd, bytes, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // A failed write never changes the run.
    }
    bytes += written;
    count -= static_cast<size_t>(written);
  }
}

// libnetapi prints its own chatter ("Password for ...", "Anonymous login
// successful") on standard output. While one of its calls runs, standard
// output points at /dev/null, and whatever it left in stdio's buffer is
// dropped there too before the real output comes back.
class QuietStdout {
 public:
  QuietStdout() {
    fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDOUT_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStdout() {
    fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
    }
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_;
};

// ---------------------------------------------------------------------------
// The controlling terminal, for the tone and the confirmation key.

int terminalFd = -2;  // -2: not tried yet; -1: there is none

int Terminal() {
  if (terminalFd == -2) {
    terminalFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminalFd < 0) terminalFd = -1;
  }
  return terminalFd;
}

// The terminal mode to put back if a signal ends the run mid-read.
struct termios savedMode;
volatile sig_atomic_t rawModeActive = 0;

void RestoreAndReraise(int signal) {
  if (rawModeActive) tcsetattr(terminalFd, TCSANOW, &savedMode);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

constexpr int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

class RawMode {
 public:
  explicit RawMode(int fd) : fd_(fd) {
    if (tcgetattr(fd, &savedMode) != 0) return;
    struct termios raw = savedMode;
    raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON);
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    struct sigaction action = {};
    action.sa_handler = RestoreAndReraise;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof EndingSignals / sizeof EndingSignals[0]; ++i) {
      sigaction(EndingSignals[i], &action, &previous_[i]);
    }
    rawModeActive = 1;
    active_ = tcsetattr(fd, TCSANOW, &raw) == 0;
  }
  ~RawMode() {
    if (rawModeActive) {
      tcsetattr(fd_, TCSANOW, &savedMode);
      rawModeActive = 0;
      for (size_t i = 0; i < sizeof EndingSignals / sizeof EndingSignals[0]; ++i) {
        sigaction(EndingSignals[i], &previous_[i], nullptr);
      }
    }
  }
  bool Active() const { return active_; }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  int fd_;
  bool active_ = false;
  struct sigaction previous_[sizeof EndingSignals / sizeof EndingSignals[0]];
};

// Reads one byte, waiting at most `timeoutMs` (negative: for ever).
bool ReadByte(int fd, unsigned char& byte, int timeoutMs) {
  for (;;) {
    if (timeoutMs >= 0) {
      struct pollfd p = {fd, POLLIN, 0};
      int ready = poll(&p, 1, timeoutMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
    }
    ssize_t got = read(fd, &byte, 1);
    if (got == 1) return true;
    if (got < 0 && errno == EINTR) continue;
    return false;
  }
}

// The rest of an escape sequence arrives at once; a lone Escape has none.
constexpr int SequenceWaitMs = 50;
constexpr size_t MaxKeyBytes = 32;

// ---------------------------------------------------------------------------
// libnetapi, loaded on first use so that runs which never reach the network
// do not pay for the hundred-odd libraries it pulls in.

constexpr char LibraryName[] = "libnetapi.so.1";

struct NetApi {
  decltype(&::libnetapi_init) init;
  decltype(&::libnetapi_free) free;
  decltype(&::libnetapi_set_username) setUsername;
  decltype(&::libnetapi_set_password) setPassword;
  decltype(&::libnetapi_get_password) getPassword;
  // Exported, though the public header leaves it out.
  ::NET_API_STATUS (*setErrorString)(struct libnetapi_ctx*, const char*, ...);
  decltype(&::libnetapi_get_error_string) getErrorString;
  decltype(&::libnetapi_errstr) errstr;
  decltype(&::NetServerGetInfo) getInfo;
  decltype(&::NetServerSetInfo) setInfo;
  decltype(&::NetApiBufferFree) bufferFree;
};

NetApi api;
bool libraryTried = false;
void* library = nullptr;
struct libnetapi_ctx* context = nullptr;
NET_API_STATUS initStatus = ERROR_MOD_NOT_FOUND;

// libnetapi declares its status as an enum; the values are Win32's.
NET_API_STATUS FromLibrary(::NET_API_STATUS status) { return static_cast<NET_API_STATUS>(status); }
::NET_API_STATUS ToLibrary(NET_API_STATUS status) { return static_cast<::NET_API_STATUS>(status); }

// What the last failed call said about itself, for FormatMessageW.
NET_API_STATUS failedStatus = 0;
char* failedReason = nullptr;

void RecordFailure(NET_API_STATUS status, const char* reason) {
  ::free(failedReason);
  failedReason = reason != nullptr && reason[0] != 0 ? strdup(reason) : nullptr;
  failedStatus = status;
}

template <typename T>
bool Resolve(T& slot, const char* name) {
  slot = reinterpret_cast<T>(dlsym(library, name));
  return slot != nullptr;
}

bool LoadLibrary() {
  if (libraryTried) return library != nullptr;
  libraryTried = true;
  library = dlopen(LibraryName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    RecordFailure(ERROR_MOD_NOT_FOUND, why != nullptr ? why : LibraryName);
    return false;
  }
  bool ok = Resolve(api.init, "libnetapi_init") && Resolve(api.free, "libnetapi_free") &&
            Resolve(api.setUsername, "libnetapi_set_username") &&
            Resolve(api.setPassword, "libnetapi_set_password") &&
            Resolve(api.getPassword, "libnetapi_get_password") &&
            Resolve(api.setErrorString, "libnetapi_set_error_string") &&
            Resolve(api.getErrorString, "libnetapi_get_error_string") &&
            Resolve(api.errstr, "libnetapi_errstr") && Resolve(api.getInfo, "NetServerGetInfo") &&
            Resolve(api.setInfo, "NetServerSetInfo") && Resolve(api.bufferFree, "NetApiBufferFree");
  if (!ok) {
    const char* why = dlerror();
    RecordFailure(ERROR_MOD_NOT_FOUND, why != nullptr ? why : LibraryName);
    library = nullptr;  // Left loaded: closing Samba's libraries is not safe.
  }
  return ok;
}

bool PasswordKnown() {
  const char* user = getenv("USER");
  return getenv("PASSWD") != nullptr || getenv("PASSWD_FILE") != nullptr ||
         getenv("PASSWD_FD") != nullptr || getenv("KRB5CCNAME") != nullptr ||
         (user != nullptr && strchr(user, '%') != nullptr);
}

// libnetapi reads USER, PASSWD, PASSWD_FILE and a ticket cache itself, but
// only as guesses, and a guess the server refuses quietly becomes an
// anonymous session. Credentials the user gave must fail instead, so they
// are handed back as given.
void PinCredentials() {
  const char* user = getenv("USER");
  if (user != nullptr) api.setUsername(context, user);  // also "DOMAIN\user%password"
  const char* password = getenv("PASSWD");
  if (password != nullptr) {
    api.setPassword(context, password);
  } else if (getenv("PASSWD_FILE") != nullptr || getenv("PASSWD_FD") != nullptr) {
    const char* read = nullptr;
    if (api.getPassword(context, &read) == 0 && read != nullptr) {
      char* copy = strdup(read);
      if (copy != nullptr) api.setPassword(context, copy);
      ::free(copy);
    }
  }
}

// Returns 0 with the library ready, or the status that stands for the call.
NET_API_STATUS EnsureNetApi() {
  static bool tried = false;
  if (tried) return initStatus;
  tried = true;
  if (!LoadLibrary()) return initStatus = ERROR_MOD_NOT_FOUND;
  QuietStdout quiet;
  initStatus = FromLibrary(api.init(&context));
  if (initStatus != 0) {
    RecordFailure(initStatus, nullptr);
    context = nullptr;
    return initStatus;
  }
  // With no password known libnetapi would prompt for one. "%" is its word
  // for an anonymous session: an empty name with an empty password would be
  // a logon as a user called "", which a server refuses unless it maps
  // unknown users to guest.
  if (PasswordKnown()) {
    PinCredentials();
  } else {
    api.setUsername(context, "%");
  }
  return initStatus;
}

// A server argument "\\name" reaches libnetapi as "name": it would try to
// resolve the backslashes. The caller frees the result.
char* ServerNameForLibrary(LPCWSTR servername, NET_API_STATUS& status) {
  status = 0;
  if (servername == nullptr) return nullptr;
  if (servername[0] == u'\\' && servername[1] == u'\\') servername += 2;
  size_t length = 0;
  while (servername[length] != 0) ++length;
  auto* name = static_cast<unsigned char*>(malloc(3 * length + 1));
  if (name == nullptr) {
    status = 8;  // ERROR_NOT_ENOUGH_MEMORY
    return nullptr;
  }
  name[EncodeUtf8(servername, length, name)] = 0;
  return reinterpret_cast<char*>(name);
}

// Starts a call with no stale reason left from an earlier one.
void ClearReason() { api.setErrorString(context, "%s", ""); }

void NoteFailure(NET_API_STATUS status) {
  char* reason = api.getErrorString(context, ToLibrary(status));
  // An empty reason means the library recorded none for this call.
  RecordFailure(status, reason);
  if (reason != nullptr) api.bufferFree(reason);
}

size_t Utf8Length(const char* text) { return text != nullptr ? strlen(text) : 0; }

// Copies UTF-8 text as UTF-16 at `out`, terminated; returns units written.
size_t CopyAsUtf16(const char* text, char16_t* out) {
  size_t n = text != nullptr
                 ? DecodeUtf8Replacing(reinterpret_cast<const unsigned char*>(text), strlen(text), out)
                 : 0;
  out[n] = 0;
  return n + 1;
}

// The text libnetapi has for a status, if it has a real one ("DOS code
// 0x..." is its way of saying it has none). The caller frees the result.
char* KnownText(NET_API_STATUS status) {
  char* text = api.errstr(ToLibrary(status));
  if (text == nullptr) return nullptr;
  char* copy = strncmp(text, "DOS code ", 9) == 0 ? nullptr : strdup(text);
  api.bufferFree(text);
  return copy;
}

// The one module this layer can load: the network messages, which live in
// libnetapi. Its handle is only ever compared.
char networkMessages;

constexpr DWORD FirstNetworkStatus = 2100;
constexpr DWORD LastNetworkStatus = 2999;

bool IsTerminalFd(int fd) { return isatty(fd) == 1; }

}  // namespace

// ---------------------------------------------------------------------------

void WriteStream(Stream stream, const unsigned char* bytes, size_t count) {
  WriteAll(StreamFd(stream), bytes, count);
}

bool IsTerminalStream(Stream stream) {
  static int known[2] = {-1, -1};
  int& slot = known[stream == Stream::Output ? 0 : 1];
  if (slot < 0) slot = IsTerminalFd(StreamFd(stream)) ? 1 : 0;
  return slot == 1;
}

int Beep(DWORD /*dwFreq*/, DWORD dwDuration) {
  int fd = Terminal();
  if (fd < 0) return 0;
  static const unsigned char bell = '\a';
  WriteAll(fd, &bell, 1);
  struct timespec wait = {static_cast<time_t>(dwDuration / 1000),
                          static_cast<long>(dwDuration % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
  return 1;
}

int ReadConfirmationKey() {
  int fd = Terminal();
  if (fd < 0) return -1;
  unsigned char bytes[MaxKeyBytes];
  size_t length = 0;
  {
    RawMode raw(fd);
    if (!raw.Active()) return -1;
    if (!ReadByte(fd, bytes[0], -1)) return -1;
    length = 1;
    // Take the whole key, so no tail of an escape sequence reaches the shell.
    while (!TerminalKeyComplete(bytes, length) && length < MaxKeyBytes &&
           ReadByte(fd, bytes[length], SequenceWaitMs)) {
      ++length;
    }
  }
  int code = TranslateTerminalKey(bytes, length);
  // Echo what prints: a printable byte, or a whole character. Control keys
  // and escape sequences would be acted on by the terminal, so they show
  // nothing.
  bool printable = length == 1 ? bytes[0] >= 0x20 && bytes[0] < 0x7F : bytes[0] >= 0xC2;
  if (printable) {
    ssize_t written;
    do {
      written = write(fd, bytes, length);
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(length)) return -1;
  }
  return code;
}

NET_API_STATUS NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  *bufptr = nullptr;
  NET_API_STATUS status = EnsureNetApi();
  if (status != 0) return status;
  char* name = ServerNameForLibrary(servername, status);
  if (status != 0) return status;

  uint8_t* raw = nullptr;
  {
    QuietStdout quiet;
    ClearReason();
    status = FromLibrary(api.getInfo(name, level, &raw));
    if (status != 0) NoteFailure(status);
  }
  ::free(name);
  if (status != 0) {
    if (raw != nullptr) api.bufferFree(raw);
    return status;
  }
  if (level != 101 || raw == nullptr) {
    if (raw != nullptr) api.bufferFree(raw);
    return ERROR_INVALID_PARAMETER;
  }

  // One block holds the record and its two texts, so NetApiBufferFree
  // releases it all at once, as on Windows.
  const auto* info = reinterpret_cast<const struct ::SERVER_INFO_101*>(raw);
  size_t units = Utf8Length(info->sv101_name) + Utf8Length(info->sv101_comment) + 2;
  auto* block = static_cast<unsigned char*>(malloc(sizeof(SERVER_INFO_101) + units * sizeof(char16_t)));
  if (block == nullptr) {
    api.bufferFree(raw);
    return 8;  // ERROR_NOT_ENOUGH_MEMORY
  }
  auto* record = reinterpret_cast<SERVER_INFO_101*>(block);
  auto* text = reinterpret_cast<char16_t*>(block + sizeof(SERVER_INFO_101));
  record->sv101_platform_id = info->sv101_platform_id;
  record->sv101_version_major = info->sv101_version_major;
  record->sv101_version_minor = info->sv101_version_minor;
  record->sv101_type = info->sv101_type;
  record->sv101_name = text;
  text += CopyAsUtf16(info->sv101_name, text);
  record->sv101_comment = text;
  CopyAsUtf16(info->sv101_comment, text);
  api.bufferFree(raw);
  *bufptr = block;
  return 0;
}

NET_API_STATUS NetServerSetInfo(LPCWSTR servername, DWORD level, LPBYTE buf, DWORD* parm_err) {
  NET_API_STATUS status = EnsureNetApi();
  if (status != 0) return status;
  if (level != 1005 || buf == nullptr) return ERROR_INVALID_PARAMETER;
  char* name = ServerNameForLibrary(servername, status);
  if (status != 0) return status;

  const char16_t* comment = reinterpret_cast<const SERVER_INFO_1005*>(buf)->sv1005_comment;
  size_t length = 0;
  while (comment != nullptr && comment[length] != 0) ++length;
  auto* utf8 = static_cast<unsigned char*>(malloc(3 * length + 1));
  if (utf8 == nullptr) {
    ::free(name);
    return 8;  // ERROR_NOT_ENOUGH_MEMORY
  }
  utf8[EncodeUtf8(comment, length, utf8)] = 0;

  struct ::SERVER_INFO_1005 record = {reinterpret_cast<const char*>(utf8)};
  uint32_t parameter = 0;
  {
    QuietStdout quiet;
    ClearReason();
    status = FromLibrary(api.setInfo(name, 1005, reinterpret_cast<uint8_t*>(&record), &parameter));
    if (status != 0) NoteFailure(status);
  }
  if (parm_err != nullptr) *parm_err = parameter;
  ::free(utf8);
  ::free(name);
  return status;
}

NET_API_STATUS NetApiBufferFree(void* buffer) {
  ::free(buffer);
  return 0;
}

HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, void* /*hFile*/, DWORD /*dwFlags*/) {
  static const char16_t wanted[] = u"netmsg.dll";
  for (size_t i = 0;; ++i) {
    char16_t a = lpLibFileName[i];
    char16_t b = wanted[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
    if (a != b) return nullptr;
    if (a == 0) break;
  }
  return LoadLibrary() ? &networkMessages : nullptr;
}

int FreeLibrary(HMODULE hLibModule) { return hLibModule == &networkMessages ? 1 : 0; }

DWORD FormatMessageW(DWORD dwFlags, const void* lpSource, DWORD dwMessageId,
                     DWORD /*dwLanguageId*/, LPWSTR lpBuffer, DWORD /*nSize*/, void* /*Arguments*/) {
  if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) == 0 || lpBuffer == nullptr) return 0;
  LPWSTR* result = reinterpret_cast<LPWSTR*>(lpBuffer);
  *result = nullptr;

  bool network = dwMessageId >= FirstNetworkStatus && dwMessageId <= LastNetworkStatus;
  bool fromModule = (dwFlags & FORMAT_MESSAGE_FROM_HMODULE) != 0 && lpSource == &networkMessages;
  bool fromSystem = (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) != 0;

  // The reason recorded for the call that failed says most; then the network
  // messages (2100 to 2999, only through the module), then the system's.
  char* text = nullptr;
  if (failedReason != nullptr && failedStatus == dwMessageId && (fromModule || fromSystem)) {
    text = strdup(failedReason);
  } else if (library != nullptr && ((network && fromModule) || (!network && fromSystem))) {
    text = KnownText(dwMessageId);
  }
  if (text == nullptr) return 0;

  size_t bytes = strlen(text);
  // The text plus the line end that Windows' message texts carry.
  auto* wide = static_cast<char16_t*>(malloc((bytes + 2) * sizeof(char16_t)));
  if (wide == nullptr) {
    ::free(text);
    return 0;
  }
  size_t units = DecodeUtf8Replacing(reinterpret_cast<const unsigned char*>(text), bytes, wide);
  ::free(text);
  wide[units++] = u'\n';
  wide[units] = 0;
  *result = wide;
  return static_cast<DWORD>(units);
}

HLOCAL LocalFree(HLOCAL hMem) {
  ::free(hMem);
  return nullptr;
}

// ---------------------------------------------------------------------------
// Start and end of the process.

namespace {

void Shutdown() {
  if (context != nullptr) {
    QuietStdout quiet;
    api.free(context);
    context = nullptr;
  }
  ::free(failedReason);
  failedReason = nullptr;
  // The terminal is closed only after every message has been written.
  if (terminalFd >= 0) close(terminalFd);
  terminalFd = -1;
}

// POSIX keeps 8 bits of an exit status. Statuses past 254 end with 255 so
// that none of them reads as success (2304) or as a declined change (1008
// would read as 240).
int ProcessExitCode(uint32_t status) { return status < 255 ? static_cast<int>(status) : 255; }

void ReportInvalidArgument(int position) {
  char line[96];
  int length = snprintf(line, sizeof line, "tarnwick: argument %d is not valid UTF-8\n", position);
  if (length > 0) WriteAll(STDERR_FILENO, reinterpret_cast<unsigned char*>(line), static_cast<size_t>(length));
}

}  // namespace

}  // namespace tarnwick::platform

int main(int argc, char** argv) {
  using namespace tarnwick::platform;
  // A closed pipe must not end the run: a failed write changes nothing.
  signal(SIGPIPE, SIG_IGN);

  size_t total = 0;
  for (int i = 0; i < argc; ++i) total += strlen(argv[i]) + 1;
  auto** arguments = static_cast<const char16_t**>(calloc(static_cast<size_t>(argc) + 1, sizeof(char16_t*)));
  auto* storage = static_cast<char16_t*>(malloc((total + 1) * sizeof(char16_t)));
  if (arguments == nullptr || storage == nullptr) return 8;

  char16_t* next = storage;
  for (int i = 0; i < argc; ++i) {
    size_t length = strlen(argv[i]);
    ptrdiff_t units = DecodeUtf8(reinterpret_cast<const unsigned char*>(argv[i]), length, next);
    if (units < 0) {
      ReportInvalidArgument(i);
      free(storage);
      free(arguments);
      return static_cast<int>(ERROR_INVALID_PARAMETER);
    }
    arguments[i] = next;
    next[units] = 0;
    next += units + 1;
  }

  uint32_t status = tarnwick::CommandMain(argc, arguments);
  Shutdown();
  free(storage);
  free(arguments);
  return ProcessExitCode(status);
}
