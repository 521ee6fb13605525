// The console encoders and the argument decoder, one line per case.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnwick::platform {
namespace {

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

using Encoder = size_t (*)(const char16_t*, size_t, unsigned char*, EncoderState&, bool);

std::string Encode(Encoder encoder, const std::u16string& text) {
  std::string out(MaxEncodedBytesPerUnit * (text.size() + 1), '\0');
  EncoderState state;
  size_t n = encoder(text.data(), text.size(), reinterpret_cast<unsigned char*>(&out[0]), state, true);
  out.resize(n);
  return out;
}

struct EncodeCase {
  std::u16string text;
  std::string utf8;
  std::string latin1;
};

TEST(EncodingTest, BothConsoleEncoders) {
  const EncodeCase cases[] = {
      {u"", "", ""},
      {u"plain", "plain", "plain"},
      {u"a\nb", "a\nb", "a\r\nb"},
      {u"a\r\nb", "a\r\nb", "a\r\r\nb"},
      {u"\u00e9\u00ff", "\xC3\xA9\xC3\xBF", "\xE9\xFF"},
      {u"\u0100\u20ac", "\xC4\x80\xE2\x82\xAC", "??"},
      {u"\U0001F600", "\xF0\x9F\x98\x80", "??"},
      {std::u16string(1, char16_t(0xD800)) + u"x", "\xEF\xBF\xBDx", "?x"},  // lone high half
      {std::u16string(1, char16_t(0xDC00)), "\xEF\xBF\xBD", "?"},           // lone low half
      {std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD", "?"},           // high half at the end
      {std::u16string(1, u'\0'), std::string(1, '\0'), std::string(1, '\0')},
  };
  for (const EncodeCase& c : cases) {
    EXPECT_EQ(Hex(Encode(EncodeUtf8Lf, c.text)), Hex(c.utf8));
    EXPECT_EQ(Hex(Encode(EncodeLatin1CrLf, c.text)), Hex(c.latin1));
  }
}

TEST(EncodingTest, PairSplitAcrossTwoPiecesStaysOneCharacter) {
  const std::u16string text = u"\U0001F600";
  unsigned char out[16];
  EncoderState state;
  size_t first = EncodeUtf8Lf(text.data(), 1, out, state, false);
  EXPECT_EQ(first, 0u);
  size_t second = EncodeUtf8Lf(text.data() + 1, 1, out, state, true);
  EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(out), second)), "F0 9F 98 80");
}

struct DecodeCase {
  std::string bytes;
  std::u16string text;  // empty with valid == false
  bool valid;
};

TEST(EncodingTest, DecoderAcceptsOnlyStrictUtf8) {
  const DecodeCase cases[] = {
      {"", u"", true},
      {"abc", u"abc", true},
      {"\xC3\xA9", u"\u00e9", true},
      {"\xE2\x82\xAC", u"\u20ac", true},
      {"\xF0\x9F\x98\x80", u"\U0001F600", true},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},
      {"\xFF", u"", false},
      {"\xC3", u"", false},           // cut short at the end
      {"\xC3" "a", u"", false},       // continuation missing in the middle
      {"\x80", u"", false},           // stray continuation at the start
      {"\xC0\xAF", u"", false},       // overlong
      {"\xE0\x80\xAF", u"", false},   // overlong
      {"\xED\xA0\x80", u"", false},   // encoded surrogate
      {"\xF4\x90\x80\x80", u"", false},  // above U+10FFFF
  };
  for (const DecodeCase& c : cases) {
    std::u16string out(c.bytes.size() + 1, u'\0');
    ptrdiff_t n = DecodeUtf8(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size(), &out[0]);
    if (!c.valid) {
      EXPECT_EQ(n, -1) << Hex(c.bytes);
      continue;
    }
    ASSERT_GE(n, 0) << Hex(c.bytes);
    out.resize(static_cast<size_t>(n));
    EXPECT_EQ(out, c.text) << Hex(c.bytes);
  }
}

TEST(EncodingTest, ReplacingDecoderMarksEachBadByte) {
  const std::string bytes = "a\xFF\xC3z\xE2\x82\xAC";
  std::u16string out(bytes.size(), u'\0');
  size_t n = DecodeUtf8Replacing(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &out[0]);
  out.resize(n);
  EXPECT_EQ(out, u"a\uFFFD\uFFFDz\u20ac");
}

}  // namespace
}  // namespace tarnwick::platform
