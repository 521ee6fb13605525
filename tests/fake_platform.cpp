// Test stand-in of the platform seam: it answers from a scripted World and
// records every call, write and release.
#include "tests/fake_platform.h"

#include <cstdlib>
#include <cstring>
#include <set>

namespace tarnwick::fake {
namespace {

World world;
std::set<const void*> netBuffers;
std::set<const void*> localTexts;
std::set<const void*> modules;
int moduleToken;

std::u16string Copy(const char16_t* text) { return text != nullptr ? std::u16string(text) : u""; }

char16_t* AllocateText(const std::u16string& text) {
  auto* block = static_cast<char16_t*>(std::malloc((text.size() + 1) * sizeof(char16_t)));
  std::memcpy(block, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  return block;
}

void Release(std::set<const void*>& live, const void* p, const char* kind) {
  if (live.erase(p) == 0) {
    world.releaseErrors.push_back(std::string(kind) + " of a buffer not handed out or released twice");
    return;
  }
  if (&live != &modules) std::free(const_cast<void*>(p));
}

}  // namespace

World& Reset() {
  for (const void* p : netBuffers) std::free(const_cast<void*>(p));
  for (const void* p : localTexts) std::free(const_cast<void*>(p));
  netBuffers.clear();
  localTexts.clear();
  modules.clear();
  world = World();
  return world;
}

World& Current() { return world; }

int OutstandingBuffers() {
  return static_cast<int>(netBuffers.size() + localTexts.size() + modules.size());
}

}  // namespace tarnwick::fake

namespace tarnwick::platform {

using fake::world;

// Windows' separator, so the usage tests read like the Windows program's.
const char16_t PathSeparator = u'\\';

size_t EncodeConsoleText(const char16_t* units, size_t count, unsigned char* out,
                         EncoderState& state, bool final) {
  return world.encoding == fake::Encoding::Utf8Lf ? EncodeUtf8Lf(units, count, out, state, final)
                                                  : EncodeLatin1CrLf(units, count, out, state, final);
}

void WriteStream(Stream stream, const unsigned char* bytes, size_t count) {
  std::string text(reinterpret_cast<const char*>(bytes), count);
  (stream == Stream::Output ? world.out : world.err) += text;
  world.writes.push_back((stream == Stream::Output ? "1:" : "2:") + text);
}

bool IsTerminalStream(Stream stream) {
  return stream == Stream::Output ? world.outputIsTerminal : world.errorIsTerminal;
}

int Beep(DWORD dwFreq, DWORD dwDuration) {
  world.beeps.emplace_back(dwFreq, dwDuration);
  return 1;
}

int ReadConfirmationKey() {
  if (world.keyReads == 0) world.writesBeforeFirstKey = world.writes.size();
  size_t index = static_cast<size_t>(world.keyReads++);
  return index < world.keys.size() ? world.keys[index] : -1;
}

NET_API_STATUS NetServerGetInfo(LPCWSTR servername, DWORD level, LPBYTE* bufptr) {
  world.calls.push_back({"get", fake::Copy(servername), servername == nullptr, level, u""});
  *bufptr = nullptr;
  if (world.getStatus != 0 && !world.getReturnsBuffer) return world.getStatus;
  // One block, record first and texts after it, as the platform hands out.
  const std::u16string& name = world.serverNameText;
  const std::u16string& comment = world.serverCommentText;
  size_t size = sizeof(SERVER_INFO_101) + (name.size() + comment.size() + 2) * sizeof(char16_t);
  auto* block = static_cast<unsigned char*>(std::malloc(size));
  auto* record = reinterpret_cast<SERVER_INFO_101*>(block);
  auto* text = reinterpret_cast<char16_t*>(block + sizeof(SERVER_INFO_101));
  std::memcpy(text, name.c_str(), (name.size() + 1) * sizeof(char16_t));
  record->sv101_name = text;
  text += name.size() + 1;
  std::memcpy(text, comment.c_str(), (comment.size() + 1) * sizeof(char16_t));
  record->sv101_comment = text;
  fake::netBuffers.insert(block);
  *bufptr = block;
  return world.getStatus;
}

NET_API_STATUS NetServerSetInfo(LPCWSTR servername, DWORD level, LPBYTE buf, DWORD* /*parm_err*/) {
  const auto* record = reinterpret_cast<const SERVER_INFO_1005*>(buf);
  world.calls.push_back(
      {"set", fake::Copy(servername), servername == nullptr, level, fake::Copy(record->sv1005_comment)});
  return world.setStatus;
}

NET_API_STATUS NetApiBufferFree(void* buffer) {
  fake::Release(fake::netBuffers, buffer, "NetApiBufferFree");
  return 0;
}

HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, void* /*hFile*/, DWORD dwFlags) {
  world.librariesLoaded.push_back(fake::Copy(lpLibFileName) + u"|" +
                                  (dwFlags == LOAD_LIBRARY_AS_DATAFILE ? u"datafile" : u"other"));
  if (!world.moduleLoads) return nullptr;
  fake::modules.insert(&fake::moduleToken);
  return &fake::moduleToken;
}

int FreeLibrary(HMODULE hLibModule) {
  fake::Release(fake::modules, hLibModule, "FreeLibrary");
  return 1;
}

DWORD FormatMessageW(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPWSTR lpBuffer, DWORD /*nSize*/, void* /*Arguments*/) {
  world.formatCalls.push_back({dwFlags, lpSource == &fake::moduleToken, dwMessageId, dwLanguageId});
  auto* result = reinterpret_cast<LPWSTR*>(lpBuffer);
  *result = nullptr;
  const std::u16string* text = nullptr;
  if ((dwFlags & FORMAT_MESSAGE_FROM_HMODULE) != 0 && lpSource == &fake::moduleToken) {
    auto found = world.moduleTexts.find(dwMessageId);
    if (found != world.moduleTexts.end()) text = &found->second;
  }
  if (text == nullptr && (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) != 0) {
    auto found = world.systemTexts.find(dwMessageId);
    if (found != world.systemTexts.end()) text = &found->second;
  }
  if (text == nullptr) return 0;
  *result = fake::AllocateText(*text);
  fake::localTexts.insert(*result);
  return static_cast<DWORD>(text->size());
}

HLOCAL LocalFree(HLOCAL hMem) {
  fake::Release(fake::localTexts, hMem, "LocalFree");
  return nullptr;
}

}  // namespace tarnwick::platform
