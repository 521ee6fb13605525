// The Windows command-line splitter against arbitrary lines: both passes
// agree, short buffers are filled only as far as they reach, and a quoted
// argument list splits back into itself.
#include <string.h>

#include "cli/command_line.h"
#include "fuzz/fuzz_support.h"

namespace tarnwick::fuzz {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::vector<std::u16string> Split(const std::u16string& line) {
  std::unique_ptr<char16_t[]> exactLine = Exact(line);
  size_t needed = 0;
  size_t count = SplitCommandLine(exactLine.get(), nullptr, 0, nullptr, 0, &needed);
  std::unique_ptr<const char16_t*[]> arguments(new const char16_t*[count]);
  std::unique_ptr<char16_t[]> storage(new char16_t[needed]);
  size_t again = 0;
  FUZZ_CHECK(SplitCommandLine(exactLine.get(), arguments.get(), count, storage.get(), needed,
                              &again) == count);
  FUZZ_CHECK(again == needed);
  std::vector<std::u16string> out;
  for (size_t i = 0; i < count; ++i) out.emplace_back(arguments[i]);
  return out;
}

// Quotes an argument so the runtime's rules give it back unchanged.
std::u16string Quote(const std::u16string& argument) {
  std::u16string out = u"\"";
  size_t backslashes = 0;
  for (char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(2 * backslashes, u'\\');
  out.push_back(u'"');
  return out;
}

void CheckLine(const std::u16string& line, size_t seed) {
  std::unique_ptr<char16_t[]> exactLine = Exact(line);
  const char16_t* text = exactLine.get();

  size_t needed = 0;
  size_t count = SplitCommandLine(text, nullptr, 0, nullptr, 0, &needed);
  FUZZ_CHECK(needed <= line.size() + count);
  FUZZ_CHECK((count == 0) == line.empty());
  // Room claimed without a block to put it in must not be used.
  size_t ignored = 0;
  FUZZ_CHECK(SplitCommandLine(text, nullptr, count + 4, nullptr, needed + 4, &ignored) == count);
  FUZZ_CHECK(ignored == needed);

  // Exactly the room measured: every argument placed, back to back.
  std::unique_ptr<const char16_t*[]> arguments(new const char16_t*[count]);
  std::unique_ptr<char16_t[]> storage(new char16_t[needed]);
  size_t filled = 0;
  FUZZ_CHECK(SplitCommandLine(text, arguments.get(), count, storage.get(), needed, &filled) == count);
  FUZZ_CHECK(filled == needed);
  std::vector<size_t> offsets;
  size_t next = 0;
  for (size_t i = 0; i < count; ++i) {
    FUZZ_CHECK(arguments[i] == storage.get() + next);
    offsets.push_back(next);
    size_t length = 0;
    while (next + length < needed && storage[next + length] != 0) ++length;
    FUZZ_CHECK(next + length < needed);
    next += length + 1;
  }
  FUZZ_CHECK(next == needed);

  // Without quotes nothing groups and backslashes are plain: the arguments
  // are the blank-separated words, the first one even when empty.
  if (line.find(u'"') == std::u16string::npos) {
    std::vector<std::u16string> words(1);
    size_t i = 0;
    for (; i < line.size() && !IsBlank(line[i]); ++i) words.back().push_back(line[i]);
    while (i < line.size()) {
      while (i < line.size() && IsBlank(line[i])) ++i;
      if (i == line.size()) break;
      words.emplace_back();
      for (; i < line.size() && !IsBlank(line[i]); ++i) words.back().push_back(line[i]);
    }
    if (line.empty()) words.clear();
    FUZZ_CHECK(words.size() == count);
    for (size_t k = 0; k < count; ++k) FUZZ_CHECK(words[k] == arguments[k]);
  }

  // Short of room: the same answers, and only whole arguments handed out.
  for (int round = 0; round < 2; ++round) {
    size_t argumentRoom = round == 0 ? seed % (count + 1) : count;
    size_t storageRoom = round == 0 ? (seed / 7) % (needed + 1) : needed - (needed != 0);
    std::unique_ptr<const char16_t*[]> someArguments(new const char16_t*[argumentRoom]);
    for (size_t k = 0; k < argumentRoom; ++k) someArguments[k] = nullptr;
    std::unique_ptr<char16_t[]> someStorage(new char16_t[storageRoom]);
    size_t measured = 0;
    FUZZ_CHECK(SplitCommandLine(text, someArguments.get(), argumentRoom, someStorage.get(),
                                storageRoom, &measured) == count);
    FUZZ_CHECK(measured == needed);
    FUZZ_CHECK(memcmp(someStorage.get(), storage.get(), storageRoom * sizeof(char16_t)) == 0);
    for (size_t k = 0; k < argumentRoom; ++k) {
      size_t end = offsets[k] + std::u16string(arguments[k]).size() + 1;
      FUZZ_CHECK(someArguments[k] == (end <= storageRoom ? someStorage.get() + offsets[k] : nullptr));
    }
  }
}

// Pieces of the input as an argument list, quoted into a line and split.
void CheckRoundTrip(std::vector<std::u16string> list) {
  // Argument zero takes quotes only as grouping, so it cannot hold one.
  std::u16string zero;
  for (char16_t c : list[0]) {
    if (c != u'"') zero.push_back(c);
  }
  list[0] = zero;
  std::u16string line = u"\"" + zero + u"\"";
  for (size_t i = 1; i < list.size(); ++i) line += (i % 2 ? u" " : u"\t ") + Quote(list[i]);
  FUZZ_CHECK(Split(line) == list);
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarnwick::fuzz;
  std::u16string units = Units(data, size);
  size_t seed = size;
  for (size_t i = 0; i < size && i < 8; ++i) seed = seed * 131 + data[i];
  std::vector<std::u16string> pieces = Pieces(units);
  // The line runs to the first zero unit, as a terminated line would.
  CheckLine(pieces[0], seed);
  CheckRoundTrip(pieces);
  return 0;
}
