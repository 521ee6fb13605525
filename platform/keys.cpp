// Portable key translation for both consoles: what one key press yields as a
// one-byte code. Pure functions only: no system calls belong here.
#include "platform/platform.h"

namespace tarnwick::platform {
namespace {

constexpr int FunctionLead = 0;
constexpr int ExtendedLead = 224;
constexpr unsigned char Escape = 0x1B;

struct VirtualKeyRow {
  uint16_t first;
  uint16_t last;
  int code;
};

// Keys that carry no character, by Windows virtual-key code. The same leads
// as the C runtime's console key read: function keys give 0, cursor and
// editing keys give 224, and modifiers and locks pressed alone are skipped.
// No row yields 121 or 89, so a key without a character never answers yes.
constexpr VirtualKeyRow VirtualKeys[] = {
    {0x10, 0x12, KeySkipped},    // Shift, Ctrl, Alt
    {0x14, 0x14, KeySkipped},    // Caps Lock
    {0x21, 0x28, ExtendedLead},  // Page Up, Page Down, End, Home, arrows
    {0x2D, 0x2E, ExtendedLead},  // Insert, Delete
    {0x70, 0x87, FunctionLead},  // F1 to F24
    {0x90, 0x91, KeySkipped},    // Num Lock, Scroll Lock
    {0xA0, 0xA5, KeySkipped},    // left and right Shift, Ctrl, Alt
};

size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

// Longest escape sequence worth waiting for; anything longer is cut off.
constexpr size_t MaxSequence = 32;

}  // namespace

int TranslateConsoleKey(uint16_t virtualKey, unsigned char ascii) {
  if (ascii != 0) return ascii;
  for (const VirtualKeyRow& row : VirtualKeys) {
    if (virtualKey >= row.first && virtualKey <= row.last) return row.code;
  }
  // The C runtime ignores any other key without a character, and so do we.
  return KeySkipped;
}

bool TerminalKeyComplete(const unsigned char* bytes, size_t length) {
  if (length == 0) return false;
  if (length >= MaxSequence) return true;
  unsigned char first = bytes[0];
  if (first != Escape) return length >= Utf8Length(first);
  if (length == 1) return false;
  unsigned char kind = bytes[1];
  if (kind == 'O') return length >= 3;  // SS3: one final byte
  if (kind != '[') return true;         // Alt with a key: two bytes
  if (length == 2) return false;
  // The Linux console's F1 to F5 are "ESC [ [ letter".
  if (bytes[2] == '[') return length >= 4;
  unsigned char last = bytes[length - 1];
  return length >= 3 && last >= 0x40 && last <= 0x7E;
}

int TranslateTerminalKey(const unsigned char* bytes, size_t length) {
  if (length == 0) return -1;
  unsigned char first = bytes[0];
  if (first != Escape || length == 1) return first;
  unsigned char kind = bytes[1];
  if (kind == 'O') {
    // SS3 P to S are F1 to F4; the rest are cursor keys in application mode.
    if (length >= 3 && bytes[2] >= 'P' && bytes[2] <= 'S') return FunctionLead;
    return ExtendedLead;
  }
  if (kind != '[' || length < 3) return FunctionLead;  // Alt with a key
  if (bytes[2] == '[') return FunctionLead;
  unsigned char last = bytes[length - 1];
  if (last == '~') {
    // "ESC [ n ~": 1 to 8 are the editing keys, higher numbers function keys.
    int number = 0;
    for (size_t i = 2; i < length && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
      number = number * 10 + (bytes[i] - '0');
      if (number > 1000) break;
    }
    return number >= 1 && number <= 8 ? ExtendedLead : FunctionLead;
  }
  if (last >= 'A' && last <= 'D') return ExtendedLead;
  if (last == 'H' || last == 'F') return ExtendedLead;
  return FunctionLead;
}

}  // namespace tarnwick::platform
