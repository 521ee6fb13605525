// Shared fixture and helpers for the unit tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/entry.h"
#include "tests/fake_platform.h"

namespace tarnwick::testing {

// Every test starts from a fresh world and must leave no platform buffer
// unreleased and none released twice.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { world = &fake::Reset(); }
  void TearDown() override {
    EXPECT_EQ(fake::OutstandingBuffers(), 0) << "a platform buffer was never released";
    EXPECT_TRUE(world->releaseErrors.empty()) << world->releaseErrors.front();
  }

  // Runs the entry with argument zero "tarnwick" and the given arguments.
  ExitStatus Run(std::vector<std::u16string> arguments) {
    arguments.insert(arguments.begin(), u"tarnwick");
    std::vector<const char16_t*> vector;
    for (const auto& a : arguments) vector.push_back(a.c_str());
    held_ = std::move(arguments);
    return CommandMain(static_cast<int>(vector.size()), vector.data());
  }

  fake::World* world = nullptr;

 private:
  std::vector<std::u16string> held_;
};

inline std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace tarnwick::testing
