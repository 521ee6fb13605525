// The UTF-8 decoders against arbitrary bytes: strict decoding is exact and
// reversible, and the replacing one never fails and agrees with it.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::fuzz;
  // Exactly `size` units of room, as promised: no more.
  std::unique_ptr<char16_t[]> strict(new char16_t[size]);
  std::unique_ptr<char16_t[]> replacing(new char16_t[size]);

  ptrdiff_t n = platform::DecodeUtf8(data, size, strict.get());
  size_t m = platform::DecodeUtf8Replacing(data, size, replacing.get());
  FUZZ_CHECK(m <= size);
  FUZZ_CHECK((n >= 0) == IsValidUtf8(data, size));
  if (n < 0) return 0;

  const size_t units = static_cast<size_t>(n);
  FUZZ_CHECK(units <= size);
  FUZZ_CHECK(m == units);
  FUZZ_CHECK(std::u16string(strict.get(), units) == std::u16string(replacing.get(), m));
  // Valid input never yields a lone surrogate or a replacement of its own.
  FUZZ_CHECK(WithLoneSurrogatesReplaced(std::u16string(strict.get(), units)) ==
             std::u16string(strict.get(), units));

  std::unique_ptr<unsigned char[]> again(new unsigned char[3 * units]);
  size_t bytes = platform::EncodeUtf8(strict.get(), units, again.get());
  FUZZ_CHECK(bytes == size);
  FUZZ_CHECK(std::equal(data, data + size, again.get()));
  return 0;
}
