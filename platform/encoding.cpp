// Portable text conversions between the core's UTF-16 and the bytes of each
// platform. Pure functions only: no system calls belong here.
#include "platform/platform.h"

namespace tarnwick::platform {
namespace {

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

size_t PutUtf8(uint32_t c, unsigned char* out) {
  if (c < 0x80) {
    out[0] = static_cast<unsigned char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
    out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
  out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
  return 4;
}

constexpr uint32_t Replacement = 0xFFFD;

}  // namespace

size_t EncodeUtf8Lf(const char16_t* units, size_t count, unsigned char* out,
                    EncoderState& state, bool final) {
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    char16_t u = units[i];
    if (state.pendingHigh != 0) {
      char16_t high = state.pendingHigh;
      state.pendingHigh = 0;
      if (IsLow(u)) {
        uint32_t c = 0x10000 + ((static_cast<uint32_t>(high) - 0xD800) << 10) +
                     (static_cast<uint32_t>(u) - 0xDC00);
        n += PutUtf8(c, out + n);
        continue;
      }
      n += PutUtf8(Replacement, out + n);
    }
    if (IsHigh(u)) {
      state.pendingHigh = u;
    } else if (IsLow(u)) {
      n += PutUtf8(Replacement, out + n);
    } else {
      n += PutUtf8(u, out + n);
    }
  }
  if (final && state.pendingHigh != 0) {
    state.pendingHigh = 0;
    n += PutUtf8(Replacement, out + n);
  }
  return n;
}

size_t EncodeLatin1CrLf(const char16_t* units, size_t count, unsigned char* out,
                        EncoderState& state, bool /*final*/) {
  // Each unit stands alone here: a surrogate is 256 or more like any other.
  state.pendingHigh = 0;
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    char16_t u = units[i];
    if (u == u'\n') {
      out[n++] = '\r';
      out[n++] = '\n';
    } else {
      out[n++] = u < 256 ? static_cast<unsigned char>(u) : '?';
    }
  }
  return n;
}

size_t EncodeUtf8(const char16_t* units, size_t count, unsigned char* out) {
  EncoderState state;
  return EncodeUtf8Lf(units, count, out, state, true);
}

namespace {

// Decodes the sequence at bytes[0..count); returns its length, or 0 when the
// bytes there start no valid sequence.
size_t DecodeOne(const unsigned char* bytes, size_t count, uint32_t& c) {
  unsigned char b = bytes[0];
  size_t extra;
  uint32_t min;
  if (b < 0x80) {
    c = b;
    return 1;
  } else if (b >= 0xC2 && b <= 0xDF) {
    c = b & 0x1F;
    extra = 1;
    min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    c = b & 0x0F;
    extra = 2;
    min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    c = b & 0x07;
    extra = 3;
    min = 0x10000;
  } else {
    return 0;
  }
  if (count <= extra) return 0;
  for (size_t k = 1; k <= extra; ++k) {
    unsigned char t = bytes[k];
    if ((t & 0xC0) != 0x80) return 0;
    c = (c << 6) | (t & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return extra + 1;
}

size_t PutUtf16(uint32_t c, char16_t* out) {
  if (c < 0x10000) {
    out[0] = static_cast<char16_t>(c);
    return 1;
  }
  c -= 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (c >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  return 2;
}

}  // namespace

ptrdiff_t DecodeUtf8(const unsigned char* bytes, size_t count, char16_t* out) {
  size_t n = 0;
  for (size_t i = 0; i < count;) {
    uint32_t c = 0;
    size_t used = DecodeOne(bytes + i, count - i, c);
    if (used == 0) return -1;
    n += PutUtf16(c, out + n);
    i += used;
  }
  return static_cast<ptrdiff_t>(n);
}

size_t DecodeUtf8Replacing(const unsigned char* bytes, size_t count, char16_t* out) {
  size_t n = 0;
  for (size_t i = 0; i < count;) {
    uint32_t c = 0;
    size_t used = DecodeOne(bytes + i, count - i, c);
    if (used == 0) {
      c = Replacement;
      used = 1;
    }
    n += PutUtf16(c, out + n);
    i += used;
  }
  return n;
}

}  // namespace tarnwick::platform
