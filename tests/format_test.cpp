// The message formatter and writer.
#include "cli/format.h"

#include "tests/test_support.h"

namespace tarnwick::testing {
namespace {

using FormatTest = PlatformTest;
using platform::Stream;

TEST_F(FormatTest, PlaceholdersTakeTheirArgumentsInOrder) {
  struct Case {
    const char16_t* templ;
    std::vector<FormatArg> args;
    std::string expected;
  };
  const Case cases[] = {
      {u"plain", {}, "plain"},
      {u"%s=%d", {Text(u"x"), Number(42)}, "x=42"},
      {u"%d|%d|%d", {Number(0), Number(-7), Number(INT32_MIN)}, "0|-7|-2147483648"},
      {u"%d", {Number(INT32_MAX)}, "2147483647"},
      {u"%s%s", {Text(u"a")}, "a%s"},  // no argument left: the placeholder stays
      {u"100% %x %", {}, "100% %x %"},
      {u"[%s]", {Text(nullptr)}, "[]"},
      {u"%s", {Text(u"%d %s")}, "%d %s"},  // arguments are never expanded again
  };
  for (const Case& c : cases) {
    world = &fake::Reset();
    WriteMessage(Stream::Output, c.templ, c.args.data(), c.args.size());
    EXPECT_EQ(world->out, c.expected) << Utf8(c.templ);
    EXPECT_LE(world->writes.size(), 1u);
  }
}

TEST_F(FormatTest, ServerTextControlsBecomeQuestionMarksOnATerminalOnly) {
  const char16_t* hostile = u"a\x1b[2J\x07\x7f\x85\x9f\xa0z";
  world->errorIsTerminal = true;
  Print(Stream::Error, u"\t%s|%s\n", ServerText(hostile), Text(u"\x1b"));
  // U+00A0 is not a control character and stays; the tool's own text stays.
  EXPECT_EQ(world->err, "\ta?[2J????\xC2\xA0z|\x1b\n");
}

TEST_F(FormatTest, LongMessageArrivesWholeAcrossSeveralWrites) {
  // A pair straddles the writer's buffer boundary and must stay one character.
  std::u16string text(2047, u'a');
  text += u"\U0001F600";
  text += std::u16string(3000, u'b');
  Print(Stream::Output, u"%s", Text(text.c_str()));
  std::string expected = std::string(2047, 'a') + "\xF0\x9F\x98\x80" + std::string(3000, 'b');
  EXPECT_EQ(world->out, expected);
  EXPECT_GT(world->writes.size(), 1u);
}

}  // namespace
}  // namespace tarnwick::testing
