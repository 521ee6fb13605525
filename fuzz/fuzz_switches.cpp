// Arbitrary argument vectors through the switch parser and the whole entry,
// over the scripted stand-in platform with fuzz-chosen answers.
//
// Input: five bytes of world (flags, read status, change status, two keys),
// then little-endian UTF-16 cut at zero units into the server's name, its
// comment, the text of any system message, and the arguments, zero first.
#include "cli/entry.h"
#include "fuzz/fuzz_support.h"
#include "tests/fake_platform.h"

namespace tarnwick::fuzz {
namespace {

uint32_t PickStatus(uint8_t selector) {
  static const uint32_t statuses[] = {5, 53, 87, 1, 240, 1722, 2102, 2114, 2351, 0xFFFFFFFF};
  return selector == 0 ? 0 : statuses[selector % (sizeof statuses / sizeof statuses[0])];
}

size_t Length(const char16_t* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

char16_t Fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool FoldedEquals(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

bool IsHelp(const std::u16string& a) {
  return FoldedEquals(a, u"/?") || FoldedEquals(a, u"-?") || FoldedEquals(a, u"/help") ||
         FoldedEquals(a, u"-help");
}

// `kept` is what was made of `source` with room for `limit` units: all of it
// that fits, less the first half of a pair whose second half did not fit.
void CheckCut(const char16_t* kept, size_t limit, const std::u16string& source) {
  size_t length = Length(kept);
  FUZZ_CHECK(length <= limit);
  FUZZ_CHECK(source.compare(0, length, kept) == 0);
  size_t whole = source.size() < limit ? source.size() : limit;
  if (length != whole) {
    FUZZ_CHECK(length + 1 == limit && IsHighSurrogate(source[length]) &&
               IsLowSurrogate(source[length + 1]));
  }
}

struct Script {
  uint8_t flags = 0;
  uint32_t getStatus = 0;
  uint32_t setStatus = 0;
  int keys[2] = {-1, -1};
  std::u16string name, comment, message;
};

fake::World& Stage(const Script& script) {
  fake::World& world = fake::Reset();
  world.encoding = (script.flags & 1) ? fake::Encoding::Latin1CrLf : fake::Encoding::Utf8Lf;
  world.outputIsTerminal = (script.flags & 2) != 0;
  world.errorIsTerminal = (script.flags & 4) != 0;
  world.getReturnsBuffer = (script.flags & 8) != 0;
  world.moduleLoads = (script.flags & 16) != 0;
  world.getStatus = script.getStatus;
  world.setStatus = script.setStatus;
  world.keys.assign(script.keys, script.keys + 2);
  world.serverNameText = script.name;
  world.serverCommentText = script.comment;
  for (uint32_t status : {script.getStatus, script.setStatus}) {
    world.systemTexts[status] = script.message;
    world.moduleTexts[status] = script.message;
  }
  return world;
}

void CheckStream(const std::string& bytes, fake::Encoding encoding) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  if (encoding == fake::Encoding::Utf8Lf) {
    FUZZ_CHECK(IsValidUtf8(data, bytes.size()));
  } else {
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '\n') FUZZ_CHECK(i > 0 && bytes[i - 1] == '\r');
    }
  }
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::fuzz;
  uint8_t header[5] = {};
  for (size_t i = 0; i < 5 && i < size; ++i) header[i] = data[i];
  size_t skip = size < 5 ? size : 5;
  std::vector<std::u16string> pieces = Pieces(Units(data + skip, size - skip));
  while (pieces.size() < 3) pieces.emplace_back();

  Script script;
  script.flags = header[0];
  script.getStatus = PickStatus(header[1]);
  script.setStatus = PickStatus(header[2]);
  for (int k = 0; k < 2; ++k) script.keys[k] = header[3 + k] == 0xFF ? -1 : header[3 + k];
  script.name = pieces[0];
  script.comment = pieces[1];
  script.message = pieces[2];

  std::vector<std::u16string> texts(pieces.begin() + 3, pieces.end());
  const int count = static_cast<int>(texts.size());
  std::vector<std::unique_ptr<char16_t[]>> blocks;
  for (const auto& t : texts) blocks.push_back(Exact(t));
  std::unique_ptr<const char16_t*[]> arguments(new const char16_t*[texts.size()]);
  for (size_t i = 0; i < texts.size(); ++i) arguments[i] = blocks[i].get();

  size_t help = texts.size();
  for (size_t i = 1; i < texts.size(); ++i) {
    if (IsHelp(texts[i])) {
      help = i;
      break;
    }
  }

  // The parser alone. Past a help switch it must not even look: those
  // arguments are taken away.
  fake::World& world = Stage(script);
  std::unique_ptr<const char16_t*[]> walked(new const char16_t*[texts.size()]);
  for (size_t i = 0; i < texts.size(); ++i) walked[i] = i <= help ? arguments[i] : nullptr;
  CommandOptions options;
  InitCommandOptions(options);
  bool sawHelp = ParseSwitches(count, walked.get(), options);
  FUZZ_CHECK(sawHelp == (help < texts.size()));

  FUZZ_CHECK(options.newComment[MaxCommentLength] == 0);
  std::u16string source = NotSpecifiedMarker;
  for (size_t i = 1; i < help; ++i) {
    if (texts[i].size() >= 12 && FoldedEquals(texts[i].substr(0, 12), u"/SRVCOMMENT:")) {
      source = texts[i].substr(12);
    }
  }
  CheckCut(options.newComment, MaxCommentLength, source);

  if (options.serverName != nullptr) {
    bool found = false;
    for (size_t i = 1; i < help; ++i) found = found || options.serverName == arguments[i];
    FUZZ_CHECK(found);
    FUZZ_CHECK(options.serverName[0] == u'\\' && options.serverName[1] == u'\\');
    FUZZ_CHECK(Length(options.serverName) >= 3);
  }
  FUZZ_CHECK(options.pendingStatus == (world.beeps.empty() ? 0u : StatusInvalidArgument));
  CheckStream(world.err, world.encoding);

  if (sawHelp) {
    // Help stops the walk: what came before it is all that counted.
    size_t beeps = world.beeps.size();
    Stage(script);
    CommandOptions before;
    InitCommandOptions(before);
    FUZZ_CHECK(!ParseSwitches(static_cast<int>(help), arguments.get(), before));
    FUZZ_CHECK(before.serverName == options.serverName);
    FUZZ_CHECK(std::u16string(before.newComment) == options.newComment);
    FUZZ_CHECK(before.promptBeforeChange == options.promptBeforeChange);
    FUZZ_CHECK(before.pendingStatus == options.pendingStatus);
    FUZZ_CHECK(fake::Current().beeps.size() == beeps);
  }

  if (count > 0) {
    char16_t baseName[ProgramBaseNameLength];
    GetProgramBaseName(arguments[0], baseName);
    size_t slash = texts[0].rfind(u'\\');
    CheckCut(baseName, ProgramBaseNameLength - 1,
             slash == std::u16string::npos ? texts[0] : texts[0].substr(slash + 1));
  }

  // The whole run.
  fake::World& run = Stage(script);
  ExitStatus status = CommandMain(count, arguments.get());
  FUZZ_CHECK(status == StatusSuccess || status == StatusUsage || status == StatusInvalidArgument ||
             status == StatusDeclined || status == script.getStatus || status == script.setStatus);
  FUZZ_CHECK(fake::OutstandingBuffers() == 0);
  FUZZ_CHECK(run.releaseErrors.empty());
  CheckStream(run.out, run.encoding);
  CheckStream(run.err, run.encoding);

  if (sawHelp) {
    FUZZ_CHECK(status == StatusUsage);
    FUZZ_CHECK(run.calls.empty());
  }
  bool changed = false;
  for (const fake::Call& call : run.calls) {
    if (call.what != "set") continue;
    changed = true;
    // Only the parsed comment, only to the named server, only when agreed.
    FUZZ_CHECK(call.comment == options.newComment);
    FUZZ_CHECK(call.local == (options.serverName == nullptr));
    if (!call.local) FUZZ_CHECK(call.server == options.serverName);
    FUZZ_CHECK(!options.promptBeforeChange || script.keys[0] == 'y' || script.keys[0] == 'Y');
    FUZZ_CHECK(source != NotSpecifiedMarker);
  }
  if (status == StatusSuccess) {
    FUZZ_CHECK(script.getStatus == 0);
    FUZZ_CHECK(!changed || script.setStatus == 0);
  }
  return 0;
}
