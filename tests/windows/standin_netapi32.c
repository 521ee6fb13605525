/* A stand-in NETAPI32.dll for running the image under Wine, whose own
   NetServerSetInfo is missing. Test-only: it is built into a temporary
   folder beside a copy of the image and never shipped.

   Scripted by the environment:
     STANDIN_GET_STATUS  status NetServerGetInfo returns (default 0)
     STANDIN_NAME        sv101_name of the record it returns
     STANDIN_COMMENT     sv101_comment of the record it returns
     STANDIN_SET_STATUS  status NetServerSetInfo returns (default 0)
     STANDIN_LOG         Windows path of a file to which every call is
                         appended, one line each, in UTF-8

   What it logs lets the tests see the server name, the level and the new
   comment exactly as the image passed them, and that what the image frees
   is what it was given. */
#include <windows.h>
#include <lm.h>

static void *handedOut;

static DWORD EnvNumber(const wchar_t *name, DWORD fallback) {
  wchar_t text[16];
  DWORD n = GetEnvironmentVariableW(name, text, 16);
  DWORD value = 0;
  DWORD i;
  if (n == 0 || n >= 16) return fallback;
  for (i = 0; i < n; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return fallback;
    value = value * 10 + (DWORD)(text[i] - L'0');
  }
  return value;
}

/* The variable's value in a fresh heap block, or an empty text. */
static wchar_t *EnvText(const wchar_t *name, DWORD *length) {
  DWORD n = GetEnvironmentVariableW(name, NULL, 0);
  wchar_t *text = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (n + 1) * sizeof(wchar_t));
  *length = 0;
  if (text != NULL && n != 0) *length = GetEnvironmentVariableW(name, text, n + 1);
  return text;
}

static void Append(HANDLE file, const wchar_t *text) {
  char bytes[1024];
  DWORD written;
  int n = text == NULL ? 0
                       : WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
  if (text == NULL) {
    WriteFile(file, "(null)", 6, &written, NULL);
  } else if (n > 1) {
    WriteFile(file, bytes, (DWORD)(n - 1), &written, NULL);
  }
}

/* Appends "what|a|b|c\n" to the log; a null text shows as "(null)". */
static void Log(const wchar_t *what, const wchar_t *a, const wchar_t *b, const wchar_t *c) {
  wchar_t path[MAX_PATH];
  DWORD written;
  HANDLE file;
  DWORD n = GetEnvironmentVariableW(L"STANDIN_LOG", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  Append(file, what);
  WriteFile(file, "|", 1, &written, NULL);
  Append(file, a);
  WriteFile(file, "|", 1, &written, NULL);
  Append(file, b);
  WriteFile(file, "|", 1, &written, NULL);
  Append(file, c);
  WriteFile(file, "\n", 1, &written, NULL);
  CloseHandle(file);
}

static void Decimal(DWORD value, wchar_t *out) {
  wchar_t digits[12];
  int n = 0;
  do {
    digits[n++] = (wchar_t)(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) *out++ = digits[--n];
  *out = 0;
}

NET_API_STATUS WINAPI NetServerGetInfo(LMSTR servername, DWORD level, LPBYTE *bufptr) {
  wchar_t levelText[12];
  DWORD status = EnvNumber(L"STANDIN_GET_STATUS", 0);
  DWORD nameLength, commentLength;
  wchar_t *name, *comment;
  SERVER_INFO_101 *info;
  Decimal(level, levelText);
  Log(L"get", servername, levelText, NULL);
  *bufptr = NULL;
  if (status != 0) return status;
  if (level != 101) return ERROR_INVALID_LEVEL;

  name = EnvText(L"STANDIN_NAME", &nameLength);
  comment = EnvText(L"STANDIN_COMMENT", &commentLength);
  /* One block, as the real one hands out, so one free releases it all. */
  info = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                   sizeof *info + (nameLength + commentLength + 2) * sizeof(wchar_t));
  if (info == NULL || name == NULL || comment == NULL) return ERROR_NOT_ENOUGH_MEMORY;
  info->sv101_platform_id = PLATFORM_ID_NT;
  info->sv101_version_major = 5;
  info->sv101_version_minor = 0;
  info->sv101_type = SV_TYPE_SERVER | SV_TYPE_WORKSTATION;
  info->sv101_name = (LMSTR)(info + 1);
  info->sv101_comment = info->sv101_name + nameLength + 1;
  lstrcpyW(info->sv101_name, name);
  lstrcpyW(info->sv101_comment, comment);
  HeapFree(GetProcessHeap(), 0, name);
  HeapFree(GetProcessHeap(), 0, comment);
  handedOut = info;
  *bufptr = (LPBYTE)info;
  return NERR_Success;
}

NET_API_STATUS WINAPI NetServerSetInfo(LMSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err) {
  wchar_t levelText[12];
  Decimal(level, levelText);
  Log(L"set", servername, levelText,
      level == 1005 && buf != NULL ? ((SERVER_INFO_1005 *)buf)->sv1005_comment : NULL);
  if (parm_err != NULL) *parm_err = 0;
  return EnvNumber(L"STANDIN_SET_STATUS", 0);
}

NET_API_STATUS WINAPI NetApiBufferFree(LPVOID buffer) {
  Log(L"free", buffer == handedOut && buffer != NULL ? L"record" : L"other", NULL, NULL);
  /* Anything else is not ours to release: leave it, the log says enough. */
  if (buffer != NULL && buffer == handedOut) {
    HeapFree(GetProcessHeap(), 0, buffer);
    handedOut = NULL;
  }
  return NERR_Success;
}
