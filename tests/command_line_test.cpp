// Splitting a Windows command line, one line per case.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

std::vector<std::u16string> Split(const std::u16string& line) {
  size_t needed = 0;
  size_t count = SplitCommandLine(line.c_str(), nullptr, 0, nullptr, 0, &needed);
  std::vector<const char16_t*> arguments(count);
  std::u16string storage(needed, u'\0');
  size_t again = SplitCommandLine(line.c_str(), arguments.data(), count, &storage[0], needed, &needed);
  EXPECT_EQ(again, count);
  std::vector<std::u16string> out;
  for (const char16_t* a : arguments) out.emplace_back(a);
  return out;
}

std::string Show(const std::vector<std::u16string>& arguments) {
  std::string out;
  for (const auto& a : arguments) {
    out += '<';
    for (char16_t c : a) out += c < 128 ? static_cast<char>(c) : '#';
    out += '>';
  }
  return out;
}

struct SplitCase {
  std::u16string line;
  std::vector<std::u16string> arguments;
};

TEST(CommandLineTest, RuntimeSplittingRules) {
  const SplitCase cases[] = {
      {u"", {}},
      {u"tool", {u"tool"}},
      {u"tool  a\t\tb ", {u"tool", u"a", u"b"}},
      {u"\"C:\\Program Files\\tool.exe\" a", {u"C:\\Program Files\\tool.exe", u"a"}},
      {u"C:\\dir\\tool.exe a", {u"C:\\dir\\tool.exe", u"a"}},
      {u"\"C:\\dir\\\" a", {u"C:\\dir\\", u"a"}},  // no backslash rule in argument zero
      {u"tool /SRVCOMMENT:\"Build server\" \\\\alpha",
       {u"tool", u"/SRVCOMMENT:Build server", u"\\\\alpha"}},
      {u"tool \"/SRVCOMMENT:Build server\"", {u"tool", u"/SRVCOMMENT:Build server"}},
      {u"tool \"\"", {u"tool", u""}},
      {u"tool \"\" x", {u"tool", u"", u"x"}},
      {u"tool a\\\\b", {u"tool", u"a\\\\b"}},           // backslashes alone stand
      {u"tool a\\\\\\\"b", {u"tool", u"a\\\"b"}},         // 3 backslashes + quote
      {u"tool a\\\\\"b c\"", {u"tool", u"a\\b c"}},        // 2 backslashes + quote
      {u"tool a\\\"b", {u"tool", u"a\"b"}},                // 1 backslash + quote
      {u"tool \"a\"\"b\" c", {u"tool", u"a\"b c"}},        // "" yields " and ends the section
      {u"tool \"a\"\"\"b", {u"tool", u"a\"b"}},
      {u"tool \"unterminated arg", {u"tool", u"unterminated arg"}},
      {u"tool \\\\", {u"tool", u"\\\\"}},
      {u"tool\ta", {u"tool", u"a"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(Show(Split(c.line)), Show(c.arguments)) << Show({c.line});
  }
}

TEST(CommandLineTest, NeverWritesPastItsRoom) {
  const std::u16string line = u"tool alpha beta";
  char16_t storage[8];
  for (auto& c : storage) c = u'#';
  const char16_t* arguments[1] = {nullptr};
  size_t needed = 0;
  size_t count = SplitCommandLine(line.c_str(), arguments, 1, storage, 6, &needed);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(needed, 16u);
  EXPECT_EQ(std::u16string(arguments[0]), u"tool");
  EXPECT_EQ(storage[6], u'#');
  EXPECT_EQ(storage[7], u'#');
}

}  // namespace
}  // namespace tarnwick
