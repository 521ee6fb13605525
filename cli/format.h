// Formatted messages: one fixed UTF-16 template with "%s" and "%d"
// placeholders, written to one stream as one write.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

namespace tarnwick {

struct FormatArg {
  enum class Kind : uint8_t { Text, ServerText, Number };
  Kind kind;
  const char16_t* text;
  int32_t number;
};

inline FormatArg Text(const char16_t* text) { return {FormatArg::Kind::Text, text, 0}; }
// Text the server chose. On a terminal its control characters are shown as
// '?', so a hostile name or comment cannot drive the user's terminal.
inline FormatArg ServerText(const char16_t* text) {
  return {FormatArg::Kind::ServerText, text, 0};
}
inline FormatArg Number(int32_t number) { return {FormatArg::Kind::Number, nullptr, number}; }

// Receives formatted UTF-16 in pieces. A plain callback rather than a virtual
// class, so the Windows image needs no C++ runtime support.
struct FormatSink {
  void (*put)(void* context, const char16_t* units, size_t count);
  void* context;
};

// Expands `templ`: each "%s" or "%d" takes the next argument; every other
// character, and a placeholder with no argument left, stands for itself.
// With `neutralize`, control characters in ServerText arguments become '?'.
void FormatTemplate(const char16_t* templ, const FormatArg* args, size_t count,
                    bool neutralize, const FormatSink& sink);

// Formats and encodes one message and writes it to `stream`.
void WriteMessage(platform::Stream stream, const char16_t* templ, const FormatArg* args,
                  size_t count);

inline void Print(platform::Stream stream, const char16_t* templ) {
  WriteMessage(stream, templ, nullptr, 0);
}

template <typename... Args>
void Print(platform::Stream stream, const char16_t* templ, Args... args) {
  const FormatArg list[] = {args...};
  WriteMessage(stream, templ, list, sizeof...(Args));
}

// True for the C0 and C1 control characters and DEL.
inline bool IsControlCharacter(char16_t unit) {
  return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
}

}  // namespace tarnwick
