// Shared pieces of the fuzz targets: a check that survives release builds,
// and the carving of fuzz bytes into UTF-16 texts.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

// Aborts, so libFuzzer keeps the input, when an invariant does not hold.
#define FUZZ_CHECK(condition)                                                   \
  do {                                                                          \
    if (!(condition)) {                                                         \
      fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
      abort();                                                                  \
    }                                                                           \
  } while (0)

namespace tarnwick::fuzz {

// The bytes as little-endian UTF-16 units; an odd last byte is dropped.
inline std::u16string Units(const uint8_t* data, size_t size) {
  std::u16string units;
  for (size_t i = 0; i + 1 < size; i += 2) {
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return units;
}

// The units cut at each zero unit: every piece is free of terminators.
inline std::vector<std::u16string> Pieces(const std::u16string& units) {
  std::vector<std::u16string> pieces(1);
  for (char16_t u : units) {
    if (u == 0) {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(u);
    }
  }
  return pieces;
}

// A terminated copy in a block of exactly its size, so that any read or
// write past the terminator lands outside the block and the address
// sanitizer reports it (a std::u16string's spare capacity would hide it).
inline std::unique_ptr<char16_t[]> Exact(const std::u16string& text) {
  std::unique_ptr<char16_t[]> block(new char16_t[text.size() + 1]);
  for (size_t i = 0; i < text.size(); ++i) block[i] = text[i];
  block[text.size()] = 0;
  return block;
}

inline bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Written from the Unicode table of well-formed byte sequences rather than
// from the decoder, so the two can disagree.
inline bool IsValidUtf8(const unsigned char* bytes, size_t count) {
  size_t i = 0;
  while (i < count) {
    unsigned char b = bytes[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b == 0xE0) {
      length = 3, low = 0xA0;
    } else if (b == 0xED) {
      length = 3, high = 0x9F;
    } else if (b >= 0xE1 && b <= 0xEF) {
      length = 3;
    } else if (b == 0xF0) {
      length = 4, low = 0x90;
    } else if (b == 0xF4) {
      length = 4, high = 0x8F;
    } else if (b >= 0xF1 && b <= 0xF3) {
      length = 4;
    } else {
      return false;
    }
    if (count - i < length) return false;
    if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
    for (size_t k = 2; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// The text with each surrogate that is not half of a pair replaced by
// U+FFFD: what a UTF-8 round trip must give back.
inline std::u16string WithLoneSurrogatesReplaced(const std::u16string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      out.push_back(u);
      out.push_back(text[++i]);
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      out.push_back(u'\xFFFD');
    } else {
      out.push_back(u);
    }
  }
  return out;
}

}  // namespace tarnwick::fuzz
