// Key translation for both consoles: a key that carries no character never
// answers the confirmation prompt, and every terminal read ends in time.
//
// Input: two bytes of virtual key, one byte of character, then the bytes a
// terminal sent.
#include "fuzz/fuzz_support.h"
#include "platform/platform.h"

namespace {

bool IsYes(int code) { return code == 'y' || code == 'Y'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::platform;
  if (size < 3) return 0;

  const uint16_t virtualKey = static_cast<uint16_t>(data[0] | data[1] << 8);
  const int withCharacter = TranslateConsoleKey(virtualKey, data[2]);
  const int without = TranslateConsoleKey(virtualKey, 0);
  FUZZ_CHECK(data[2] == 0 || withCharacter == data[2]);
  FUZZ_CHECK(without >= KeySkipped && without <= 255 && !IsYes(without));

  // The terminal's bytes in a block of their own size, taken as the
  // platform reads them: one at a time until the key is whole.
  const size_t count = size - 3;
  std::unique_ptr<unsigned char[]> bytes(new unsigned char[count]);
  for (size_t i = 0; i < count; ++i) bytes[i] = data[3 + i];
  FUZZ_CHECK(!TerminalKeyComplete(bytes.get(), 0));
  for (size_t length = 1; length <= count; ++length) {
    bool complete = TerminalKeyComplete(bytes.get(), length);
    FUZZ_CHECK(complete || length < 32);
    int code = TranslateTerminalKey(bytes.get(), length);
    FUZZ_CHECK(code >= 0 && code <= 255);
    if (bytes[0] != 0x1B) FUZZ_CHECK(code == bytes[0]);
    if (bytes[0] == 0x1B && length >= 2) FUZZ_CHECK(!IsYes(code));
    if (complete) break;
  }
  // However long the sequence, the read never waits past 32 bytes.
  FUZZ_CHECK(count < 32 || TerminalKeyComplete(bytes.get(), count));
  // Whatever the read was cut to, the answer stays in range.
  int any = TranslateTerminalKey(bytes.get(), count);
  FUZZ_CHECK(any >= -2 && any <= 255);
  FUZZ_CHECK(count != 0 || any == -1);
  return 0;
}
