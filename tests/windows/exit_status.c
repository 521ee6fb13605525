/* Test-only: runs the rest of its command line with its own standard
   handles and writes the child's whole 32-bit exit status, in decimal, to
   the file named by STANDIN_STATUS_FILE. Wine's own exit status keeps only
   the low 8 bits. */
#include <windows.h>

static const wchar_t *SkipArgumentZero(const wchar_t *line) {
  int quoted = 0;
  for (; *line != 0 && (quoted || (*line != L' ' && *line != L'\t')); ++line) {
    if (*line == L'"') quoted = !quoted;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

int main(void) {
  static wchar_t command[32768];
  wchar_t path[MAX_PATH];
  char text[16];
  int n = 0;
  DWORD status = 0, written, value;
  STARTUPINFOW start;
  PROCESS_INFORMATION process;
  HANDLE file;

  if (GetEnvironmentVariableW(L"STANDIN_STATUS_FILE", path, MAX_PATH) == 0) return 2;
  lstrcpynW(command, SkipArgumentZero(GetCommandLineW()), 32768);
  ZeroMemory(&start, sizeof start);
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  if (!CreateProcessW(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &start, &process)) return 3;
  WaitForSingleObject(process.hProcess, INFINITE);
  if (!GetExitCodeProcess(process.hProcess, &status)) return 4;

  value = status;
  do {
    ++n;
    value /= 10;
  } while (value != 0);
  for (value = status, text[n] = 0; n > 0; value /= 10) text[--n] = (char)('0' + value % 10);
  file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 5;
  WriteFile(file, text, (DWORD)lstrlenA(text), &written, NULL);
  CloseHandle(file);
  return 0;
}
