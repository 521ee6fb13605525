// Where the explanation of a failed status comes from, and how it is written.
#include "comment/comment_command.h"

#include "tests/test_support.h"

namespace tarnwick::testing {
namespace {

using SystemErrorTest = PlatformTest;

struct Lookup {
  uint32_t status;
  bool moduleLoads;
  bool expectLoad;
  uint32_t expectFlags;
};

TEST_F(SystemErrorTest, NetworkRangeConsultsTheModuleFirst) {
  const Lookup cases[] = {
      {2099, true, false, 0x1300}, {2100, true, true, 0x1B00},  {2999, true, true, 0x1B00},
      {3000, true, false, 0x1300}, {2100, false, true, 0x1300}, {5, true, false, 0x1300},
  };
  for (const Lookup& c : cases) {
    world = &fake::Reset();
    world->moduleLoads = c.moduleLoads;
    PrintSystemErrorText(c.status);
    EXPECT_EQ(world->librariesLoaded.size(), c.expectLoad ? 1u : 0u) << c.status;
    if (c.expectLoad) EXPECT_EQ(world->librariesLoaded[0], u"netmsg.dll|datafile");
    ASSERT_EQ(world->formatCalls.size(), 1u);
    EXPECT_EQ(world->formatCalls[0].flags, c.expectFlags) << c.status;
    EXPECT_EQ(world->formatCalls[0].withModule, c.moduleLoads && c.expectLoad);
    EXPECT_EQ(world->formatCalls[0].id, c.status);
    EXPECT_EQ(world->formatCalls[0].language, 0x0400u);
    EXPECT_EQ(fake::OutstandingBuffers(), 0) << c.status;
  }
}

TEST_F(SystemErrorTest, ModuleTextWinsOverTheSystemTable) {
  world->moduleTexts[2102] = u"The workstation driver is not installed.\n";
  world->systemTexts[2102] = u"system text\n";
  PrintSystemErrorText(2102);
  EXPECT_EQ(world->err, "The workstation driver is not installed.\n");
  EXPECT_EQ(world->writes.size(), 1u);
}

TEST_F(SystemErrorTest, MissingModuleFallsBackToTheSystemTableAlone) {
  world->moduleLoads = false;
  world->moduleTexts[2102] = u"module text\n";
  world->systemTexts[2102] = u"system text\n";
  PrintSystemErrorText(2102);
  EXPECT_EQ(world->err, "system text\n");
}

TEST_F(SystemErrorTest, NoTextAnywhereWritesNothing) {
  PrintSystemErrorText(2500);
  PrintSystemErrorText(987654321);
  EXPECT_EQ(world->err, "");
  EXPECT_TRUE(world->writes.empty());
}

TEST_F(SystemErrorTest, TextIsWrittenAsItStands) {
  world->encoding = fake::Encoding::Latin1CrLf;
  world->systemTexts[1] = u"Insert %1 and %s stay; 100% sure.\r\n";
  PrintSystemErrorText(1);
  EXPECT_EQ(world->err, "Insert %1 and %s stay; 100% sure.\r\r\n");
}

TEST_F(SystemErrorTest, LongTextIsCutAt511Units) {
  world->systemTexts[7] = std::u16string(600, u'x');
  PrintSystemErrorText(7);
  EXPECT_EQ(world->err, std::string(511, 'x'));

  world = &fake::Reset();
  world->systemTexts[7] = std::u16string(510, u'x') + u"\U0001F600" + u"more";
  PrintSystemErrorText(7);
  EXPECT_EQ(world->err, std::string(510, 'x'));
}

}  // namespace
}  // namespace tarnwick::testing
