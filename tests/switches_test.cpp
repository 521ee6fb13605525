// The switch table, the help switches and the usage screen.
#include "cli/entry.h"

#include "tests/test_support.h"

namespace tarnwick::testing {
namespace {

struct SwitchCase {
  std::vector<std::u16string> arguments;
  const char16_t* server;  // nullptr: this machine
  std::u16string comment;
  bool prompt;
  ExitStatus pending;
  size_t beeps;
};

class SwitchTableTest : public PlatformTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchTableTest, FillsTheRecord) {
  const SwitchCase& row = GetParam();
  std::vector<std::u16string> all = row.arguments;
  all.insert(all.begin(), u"tarnwick");
  std::vector<const char16_t*> vector;
  for (const auto& a : all) vector.push_back(a.c_str());

  CommandOptions options;
  InitCommandOptions(options);
  EXPECT_FALSE(ParseSwitches(static_cast<int>(vector.size()), vector.data(), options));
  if (row.server == nullptr) {
    EXPECT_EQ(options.serverName, nullptr);
  } else {
    ASSERT_NE(options.serverName, nullptr);
    EXPECT_EQ(std::u16string(options.serverName), row.server);
  }
  EXPECT_EQ(std::u16string(options.newComment), row.comment);
  EXPECT_EQ(options.promptBeforeChange, row.prompt);
  EXPECT_EQ(options.pendingStatus, row.pending);
  EXPECT_EQ(world->beeps.size(), row.beeps);
  // Whatever was copied, the rest of the buffer is zero to its end.
  for (size_t i = row.comment.size(); i <= MaxCommentLength; ++i) EXPECT_EQ(options.newComment[i], 0) << i;
}

const std::u16string Marker = u"***NotSpecified***";
const std::u16string Sixty = u"123456789012345678901234567890123456789012345678901234567890";

INSTANTIATE_TEST_SUITE_P(
    Table, SwitchTableTest,
    ::testing::Values(
        SwitchCase{{}, nullptr, Marker, true, 0, 0},
        SwitchCase{{u"/Y"}, nullptr, Marker, false, 0, 0},
        SwitchCase{{u"/y"}, nullptr, Marker, false, 0, 0},
        SwitchCase{{u"-Y"}, nullptr, Marker, false, 0, 0},
        SwitchCase{{u"/Yes"}, nullptr, Marker, true, 87, 1},
        SwitchCase{{u"\\\\a"}, u"\\\\a", Marker, true, 0, 0},
        SwitchCase{{u"\\\\"}, nullptr, Marker, true, 87, 1},
        SwitchCase{{u"\\\\one", u"\\\\two"}, u"\\\\two", Marker, true, 0, 0},
        SwitchCase{{u"\\\\/SRVCOMMENT:x"}, u"\\\\/SRVCOMMENT:x", Marker, true, 0, 0},
        SwitchCase{{u"/SRVCOMMENT:Build server"}, nullptr, u"Build server", true, 0, 0},
        SwitchCase{{u"/srvcomment:lower"}, nullptr, u"lower", true, 0, 0},
        SwitchCase{{u"/SRVCOMMENT:"}, nullptr, u"", true, 0, 0},
        SwitchCase{{u"/SRVCOMMENT: padded "}, nullptr, u" padded ", true, 0, 0},
        SwitchCase{{u"/SRVCOMMENT:" + Sixty}, nullptr, Sixty.substr(0, 48), true, 0, 0},
        SwitchCase{{u"/SRVCOMMENT:" + Sixty, u"/SRVCOMMENT:short"}, nullptr, u"short", true, 0, 0},
        SwitchCase{{u"-SRVCOMMENT:x"}, nullptr, Marker, true, 87, 1},
        SwitchCase{{u"/SRVCOMMENT"}, nullptr, Marker, true, 87, 1},
        SwitchCase{{u""}, nullptr, Marker, true, 87, 1},
        SwitchCase{{u"a", u"b", u"/y"}, nullptr, Marker, false, 87, 2}));

TEST_F(PlatformTest, CutAt48NeverSplitsASurrogatePair) {
  // 47 letters, then a character outside the BMP: its first half is unit 48.
  std::u16string text(47, u'a');
  text += u"\U0001F600tail";
  CommandOptions options;
  InitCommandOptions(options);
  std::u16string argument = u"/SRVCOMMENT:" + text;
  const char16_t* vector[] = {u"tarnwick", argument.c_str()};
  ParseSwitches(2, vector, options);
  EXPECT_EQ(std::u16string(options.newComment), std::u16string(47, u'a'));

  // A pair that ends exactly at unit 48 is kept whole.
  argument = u"/SRVCOMMENT:" + std::u16string(46, u'a') + u"\U0001F600tail";
  vector[1] = argument.c_str();
  ParseSwitches(2, vector, options);
  EXPECT_EQ(std::u16string(options.newComment), std::u16string(46, u'a') + u"\U0001F600");
}

TEST_F(PlatformTest, UnknownArgumentsBeepWarnAndCarryOn) {
  EXPECT_EQ(Run({u"one", u"\"two\""}), 87u);
  EXPECT_EQ(world->beeps, (std::vector<std::pair<uint32_t, uint32_t>>{{443, 200}, {443, 200}}));
  EXPECT_EQ(world->err, "\nInvalid switch ignored: \"one\"\nInvalid switch ignored: \"\"two\"\"");
  EXPECT_EQ(world->calls.size(), 1u);
}

TEST_F(PlatformTest, HelpStopsTheWalkWithoutCallingTheServer) {
  for (const char16_t* help : {u"/?", u"-?", u"/help", u"-HELP", u"/HeLp"}) {
    world = &fake::Reset();
    EXPECT_EQ(Run({u"first", help, u"second"}), 1u) << Utf8(help);
    EXPECT_EQ(world->beeps.size(), 1u);
    EXPECT_EQ(world->err, "\nInvalid switch ignored: \"first\"");
    EXPECT_TRUE(world->calls.empty());
    EXPECT_EQ(world->out.substr(0, 26), "\n\nVelmora - version 1.00\n\n");
  }
}

const char UsageScreen[] =
    "\n"
    "\nVelmora - version 1.00"
    "\n"
    "\nDisplays or changes the comment for the Server service, a description of the"
    "\nserver which is announced to the browse list and displayed in apps such as"
    "\nServer Manager, Network Neighborhood and the NET VIEW command."
    "\n"
    "\n"
    "\nThe syntax of this command is:"
    "\n"
    "\nTarnwick.exe [/SRVCOMMENT:\"Description text\"] [/y] [\\\\computername]"
    "\n"
    "\n /SRVCOMMENT: allows you to change the comment, otherwise no changes are made."
    "\n \"Description text\" can be up to 48 characters, and must be enclosed in quotes."
    "\n"
    "\n /y allows you to set the new comment without being prompted."
    "\n"
    "\n \\\\computername allows you to manage the comment of a remote NT/2000 system."
    "\n"
    "\nThe new comment will not appear in the browse list immediately, it may take up"
    "\nto 30 minutes, depending on the complexity of your network.  Likewise, machines"
    "\nremoved from the network are not immediately removed from the browse list.  For"
    "\nmore information, see Microsoft Knowledge Base articles Q150800 and Q102878."
    "\n"
    "\nThe comment can be set using the NET CONFIG SERVER command, unfortunately this"
    "\ncan also disable auto-tuning.  See Microsoft Knowledge Base article Q128167."
    "\n"
    "\nAn argument of /? or -? displays this syntax and always returns 1."
    "\nA successful completion will return 0."
    "\n"
    "\nVelmora is written and kept by the Velmora contributors."
    "\n";

TEST_F(PlatformTest, UsageScreenBytesAndWrites) {
  ShowUsage(u"C:\\Tools\\Tarnwick.exe");
  EXPECT_EQ(world->out, UsageScreen);
  EXPECT_EQ(world->writes.size(), 32u);  // one write per line of the screen
  EXPECT_EQ(world->err, "");
}

TEST_F(PlatformTest, UsageScreenOnTheWindowsConsoleEndsLinesWithCrLf) {
  world->encoding = fake::Encoding::Latin1CrLf;
  ShowUsage(u"Tarnwick.exe");
  std::string expected;
  for (char c : std::string(UsageScreen)) expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(world->out, expected);
}

struct BaseNameCase {
  std::u16string path;
  std::u16string base;
};

TEST_F(PlatformTest, ProgramBaseNameKeepsTheLastComponent) {
  const BaseNameCase cases[] = {
      {u"Tarnwick.exe", u"Tarnwick.exe"},
      {u"C:\\Tools\\Tarnwick.exe", u"Tarnwick.exe"},
      {u"C:/Tools/Tarnwick.exe", u"C:/Tools/Tarnwick.exe"},  // forward slashes do not separate
      {u"\\\\server\\share\\", u""},
      {u"", u""},
      {u"dir\\" + std::u16string(300, u'x'), std::u16string(260, u'x')},
      {std::u16string(259, u'x') + u"\U0001F600", std::u16string(259, u'x')},
  };
  for (const BaseNameCase& c : cases) {
    char16_t base[ProgramBaseNameLength];
    GetProgramBaseName(c.path.c_str(), base);
    EXPECT_EQ(std::u16string(base), c.base) << Utf8(c.path);
    EXPECT_EQ(base[ProgramBaseNameLength - 1], 0);
  }
}

}  // namespace
}  // namespace tarnwick::testing
