// The comment command end to end over the stand-in platform: what is read,
// shown, asked, changed, and which status the run ends with.
#include "comment/comment_command.h"

#include "tests/test_support.h"

namespace tarnwick::testing {
namespace {

const std::string Display = "\n\nServer Name:\t\tALPHA\nServer Comment:\t\tOld comment\n";
const std::string Success = "\nThe command completed successfully.\n";
const std::string Prompt =
    "\n\nThe Server comment will be changed to 'Build server'.\n\nContinue? (Y/N): \n";
const std::string Changed = "\nNew Server Comment:\tBuild server\n" + Success;

using CommentCommandTest = PlatformTest;

TEST_F(CommentCommandTest, TypicalChangeAnsweredYes) {
  world->keys = {'y'};
  EXPECT_EQ(Run({u"/SRVCOMMENT:Build server", u"\\\\alpha"}), 0u);
  EXPECT_EQ(world->out, Display + Prompt + Changed);
  EXPECT_EQ(world->err, "");
  ASSERT_EQ(world->calls.size(), 2u);
  EXPECT_EQ(world->calls[0].what, "get");
  EXPECT_EQ(world->calls[0].server, u"\\\\alpha");
  EXPECT_EQ(world->calls[0].level, 101u);
  EXPECT_EQ(world->calls[1].what, "set");
  EXPECT_EQ(world->calls[1].server, u"\\\\alpha");
  EXPECT_EQ(world->calls[1].level, 1005u);
  EXPECT_EQ(world->calls[1].comment, u"Build server");
  // Everything up to the prompt is written before the key is read.
  EXPECT_EQ(world->writesBeforeFirstKey, 4u);
}

// One row per outcome of a run; the last text written and the status are
// what scripts rely on.
struct Outcome {
  const char* name;
  std::vector<std::u16string> arguments;
  std::vector<int> keys;
  uint32_t getStatus;
  uint32_t setStatus;
  ExitStatus status;
  std::string out;
  std::string err;
  bool changed;
};

class OutcomeTest : public PlatformTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(OutcomeTest, EndsWithItsStatusAndTexts) {
  const Outcome& row = GetParam();
  world->keys = row.keys;
  world->getStatus = row.getStatus;
  world->setStatus = row.setStatus;
  world->systemTexts[5] = u"Access is denied.\n";
  world->systemTexts[53] = u"The network path was not found.\n";
  EXPECT_EQ(Run(row.arguments), row.status);
  EXPECT_EQ(world->out, row.out);
  EXPECT_EQ(world->err, row.err);
  bool changed = !world->calls.empty() && world->calls.back().what == "set";
  EXPECT_EQ(changed, row.changed);
}

const std::string Warning = "\nInvalid switch ignored: \"/bogus\"";

INSTANTIATE_TEST_SUITE_P(
    Runs, OutcomeTest,
    ::testing::Values(
        Outcome{"DisplayOnly", {}, {}, 0, 0, 0, Display + Success, "", false},
        Outcome{"DisplayWithUnknownArgument", {u"/bogus"}, {}, 0, 0, 87, Display, Warning, false},
        Outcome{"ReadFails", {u"/SRVCOMMENT:Build server", u"/y"}, {}, 53, 0, 53, "",
                "\n\nNetServerGetInfo() failed.\n\nSystem error 53 has occurred.\n\n"
                "The network path was not found.\n",
                false},
        Outcome{"ReadFailsAfterUnknownArgument", {u"/bogus"}, {}, 2320, 0, 2320, "",
                Warning + "\n\nNetServerGetInfo() failed.\n\nSystem error 2320 has occurred.\n\n", false},
        Outcome{"AnsweredCapitalY", {u"/SRVCOMMENT:Build server"}, {'Y'}, 0, 0, 0,
                Display + Prompt + Changed, "", true},
        Outcome{"AnsweredN", {u"/SRVCOMMENT:Build server"}, {'n'}, 0, 0, 240, Display + Prompt, "", false},
        Outcome{"AnsweredEnter", {u"/SRVCOMMENT:Build server"}, {13}, 0, 0, 240, Display + Prompt, "", false},
        Outcome{"AnsweredEscape", {u"/SRVCOMMENT:Build server"}, {27}, 0, 0, 240, Display + Prompt, "", false},
        Outcome{"AnsweredCtrlC", {u"/SRVCOMMENT:Build server"}, {3}, 0, 0, 240, Display + Prompt, "", false},
        Outcome{"AnsweredCursorKey", {u"/SRVCOMMENT:Build server"}, {224}, 0, 0, 240, Display + Prompt, "", false},
        Outcome{"AnsweredFunctionKey", {u"/SRVCOMMENT:Build server"}, {0}, 0, 0, 240, Display + Prompt, "", false},
        Outcome{"NoConsole", {u"/SRVCOMMENT:Build server"}, {}, 0, 0, 240, Display + Prompt, "", false},
        Outcome{"NoPromptWithSlashY", {u"/SRVCOMMENT:Build server", u"/Y"}, {}, 0, 0, 0, Display + Changed, "", true},
        Outcome{"NoPromptWithDashY", {u"-y", u"/SRVCOMMENT:Build server"}, {}, 0, 0, 0, Display + Changed, "", true},
        Outcome{"UnknownArgumentDroppedOnSuccess", {u"/bogus", u"/Y", u"/SRVCOMMENT:Build server"}, {}, 0, 0, 0,
                Display + Changed, Warning, true},
        Outcome{"ChangeRefused", {u"/SRVCOMMENT:Build server"}, {'y'}, 0, 5, 5, Display + Prompt,
                "\n\nSystem error 5 has occurred.\n\nAccess is denied.\n", true},
        Outcome{"ChangeFailsWithNoText", {u"/SRVCOMMENT:Build server", u"/y"}, {}, 0, 1234567, 1234567, Display,
                "\n\nSystem error 1234567 has occurred.\n\n", true},
        Outcome{"MarkerMeansNoChange", {u"/SRVCOMMENT:***NotSpecified***", u"/y"}, {}, 0, 0, 0, Display + Success,
                "", false}),
    [](const ::testing::TestParamInfo<Outcome>& info) { return std::string(info.param.name); });

TEST_F(CommentCommandTest, KeyIsNotReadWhenThePromptIsWaived) {
  world->keys = {'n'};
  EXPECT_EQ(Run({u"/Y", u"/SRVCOMMENT:x"}), 0u);
  EXPECT_EQ(world->keyReads, 0);
}

TEST_F(CommentCommandTest, MarkerInAnotherCaseIsAnOrdinaryComment) {
  EXPECT_EQ(Run({u"/SRVCOMMENT:***notspecified***", u"/Y"}), 0u);
  ASSERT_EQ(world->calls.size(), 2u);
  EXPECT_EQ(world->calls[1].comment, u"***notspecified***");
}

TEST_F(CommentCommandTest, EmptyCommentIsShownAndApplied) {
  world->keys = {'y'};
  EXPECT_EQ(Run({u"/SRVCOMMENT:"}), 0u);
  EXPECT_NE(world->out.find("changed to ''."), std::string::npos);
  ASSERT_EQ(world->calls.size(), 2u);
  EXPECT_EQ(world->calls[1].comment, u"");
}

TEST_F(CommentCommandTest, CommentEqualToTheCurrentOneIsStillApplied) {
  EXPECT_EQ(Run({u"/SRVCOMMENT:Old comment", u"/Y"}), 0u);
  EXPECT_EQ(world->calls.size(), 2u);
}

TEST_F(CommentCommandTest, LocalMachineWhenNoServerIsNamed) {
  EXPECT_EQ(Run({u"/Y", u"/SRVCOMMENT:x"}), 0u);
  ASSERT_EQ(world->calls.size(), 2u);
  EXPECT_TRUE(world->calls[0].local);
  EXPECT_TRUE(world->calls[1].local);
}

TEST_F(CommentCommandTest, BufferFromAFailedReadIsReleased) {
  world->getStatus = 53;
  world->getReturnsBuffer = true;
  EXPECT_EQ(Run({}), 53u);
  // The fixture checks the release.
}

TEST_F(CommentCommandTest, ServerTextIsNeutralisedOnlyOnATerminal) {
  world->serverNameText = u"EVIL\x1b]0;owned\x07";
  world->serverCommentText = u"\x1b[2J\x9b" u"1m\tok";
  Run({});
  const std::string raw = Utf8(u"\n\nServer Name:\t\tEVIL\x1b]0;owned\x07\nServer Comment:\t\t\x1b[2J\x9b" u"1m\tok\n");
  EXPECT_EQ(world->out.substr(0, raw.size()), raw);

  world = &fake::Reset();
  world->serverNameText = u"EVIL\x1b]0;owned\x07";
  world->serverCommentText = u"\x1b[2J\x9b" u"1m\tok";
  world->outputIsTerminal = true;
  Run({});
  EXPECT_EQ(world->out, "\n\nServer Name:\t\tEVIL?]0;owned?\nServer Comment:\t\t?[2J?1m?ok\n" + Success);
}

TEST_F(CommentCommandTest, StatusesKeepAllTheirBitsAndPrintSigned) {
  world->getStatus = 0xC0000022u;
  EXPECT_EQ(Run({}), 0xC0000022u);
  EXPECT_EQ(world->err, "\n\nNetServerGetInfo() failed.\n\nSystem error -1073741790 has occurred.\n\n");
}

}  // namespace
}  // namespace tarnwick::testing
