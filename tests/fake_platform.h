// A scripted stand-in for the platform seam, for unit tests that must choose
// what the system answers and see exactly what the tool did with it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tarnwick::fake {

enum class Encoding { Utf8Lf, Latin1CrLf };

struct Call {
  std::string what;        // "get", "set"
  std::u16string server;   // empty with `local`
  bool local = false;
  uint32_t level = 0;
  std::u16string comment;  // for "set"
};

struct FormatCall {
  uint32_t flags;
  bool withModule;
  uint32_t id;
  uint32_t language;
};

struct World {
  // Network management.
  uint32_t getStatus = 0;
  bool getReturnsBuffer = true;  // a buffer even when the read fails
  std::u16string serverNameText = u"ALPHA";
  std::u16string serverCommentText = u"Old comment";
  uint32_t setStatus = 0;

  // Keystrokes answered in order; -1 once they run out.
  std::vector<int> keys;

  // Message texts.
  bool moduleLoads = true;
  std::map<uint32_t, std::u16string> moduleTexts;
  std::map<uint32_t, std::u16string> systemTexts;

  Encoding encoding = Encoding::Utf8Lf;
  bool outputIsTerminal = false;
  bool errorIsTerminal = false;

  // What happened.
  std::string out;
  std::string err;
  // Both streams in the order written, each write tagged "1:" or "2:".
  std::vector<std::string> writes;
  std::vector<Call> calls;
  std::vector<std::pair<uint32_t, uint32_t>> beeps;
  int keyReads = 0;
  size_t writesBeforeFirstKey = 0;
  std::vector<std::u16string> librariesLoaded;
  std::vector<FormatCall> formatCalls;
  std::vector<std::string> releaseErrors;  // double or unknown releases
};

// Resets the world to its defaults and returns it for scripting.
World& Reset();
World& Current();

// Buffers handed out and not yet released, by kind.
int OutstandingBuffers();

}  // namespace tarnwick::fake
