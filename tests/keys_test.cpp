// What a key press yields as a code, on either console.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnwick::platform {
namespace {

struct ConsoleKey {
  uint16_t virtualKey;
  unsigned char ascii;
  int code;
};

TEST(KeysTest, WindowsConsoleKeys) {
  const ConsoleKey cases[] = {
      {'Y', 'y', 'y'},         {'Y', 'Y', 'Y'},        {'N', 'n', 'n'},
      {0x0D, '\r', 13},        {0x1B, 0x1B, 27},       {'C', 3, 3},  // Ctrl+C is a key
      {0x26, 0, 224},          {0x25, 0, 224},         {0x2E, 0, 224},  // Up, Left, Delete
      {0x24, 0, 224},          {0x21, 0, 224},         {0x2D, 0, 224},  // Home, Page Up, Insert
      {0x70, 0, 0},            {0x7B, 0, 0},           {0x87, 0, 0},    // F1, F12, F24
      {0x10, 0, KeySkipped},   {0x11, 0, KeySkipped},  {0x12, 0, KeySkipped},
      {0x14, 0, KeySkipped},   {0x90, 0, KeySkipped},  {0x91, 0, KeySkipped},
      {0xA0, 0, KeySkipped},   {0xA5, 0, KeySkipped},  {0x5B, 0, KeySkipped},  // Windows key
      {0xE9, 0xE9, 0xE9},  // a character above 127 keeps its 8-bit code
  };
  for (const ConsoleKey& c : cases) {
    EXPECT_EQ(TranslateConsoleKey(c.virtualKey, c.ascii), c.code) << "virtual key " << c.virtualKey;
  }
}

TEST(KeysTest, NoKeyWithoutACharacterAnswersYes) {
  for (uint32_t vk = 0; vk <= 0xFFFF; ++vk) {
    int code = TranslateConsoleKey(static_cast<uint16_t>(vk), 0);
    ASSERT_NE(code, 'y') << vk;
    ASSERT_NE(code, 'Y') << vk;
  }
}

struct TerminalKey {
  std::string bytes;
  int code;
};

TEST(KeysTest, TerminalKeys) {
  const TerminalKey cases[] = {
      {"y", 'y'},          {"Y", 'Y'},         {"\r", 13},          {"\x03", 3},
      {"\x1b", 27},        {"\x1b[A", 224},    {"\x1b[D", 224},     {"\x1bOA", 224},
      {"\x1b[H", 224},     {"\x1b[F", 224},    {"\x1b[2~", 224},    {"\x1b[3~", 224},
      {"\x1b[5~", 224},    {"\x1b[1;5A", 224}, {"\x1bOP", 0},       {"\x1b[15~", 0},
      {"\x1b[24~", 0},     {"\x1b[[A", 0},     {"\x1by", 0},        {"\x1bY", 0},  // Alt+y is no
      {"\xC3\xA9", 0xC3},
  };
  for (const TerminalKey& c : cases) {
    auto bytes = reinterpret_cast<const unsigned char*>(c.bytes.data());
    // A lone Escape is only known to be whole when nothing follows in time.
    if (c.bytes != "\x1b") EXPECT_TRUE(TerminalKeyComplete(bytes, c.bytes.size())) << c.bytes.substr(1);
    EXPECT_EQ(TranslateTerminalKey(bytes, c.bytes.size()), c.code) << c.bytes.substr(1);
  }
}

TEST(KeysTest, TerminalKeyIsIncompleteUntilItsLastByte) {
  const char* partial[] = {"\x1b", "\x1b[", "\x1bO", "\x1b[1", "\x1b[1;5", "\x1b[[", "\xE2\x82"};
  for (const char* p : partial) {
    std::string bytes(p);
    EXPECT_FALSE(TerminalKeyComplete(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()))
        << bytes.substr(1);
  }
}

}  // namespace
}  // namespace tarnwick::platform
