// The message formatter and writer shared by every message the tool prints.
#include "cli/format.h"

namespace tarnwick {
namespace {

using platform::Stream;

void PutNumber(int32_t value, const FormatSink& sink) {
  char16_t digits[12];
  size_t n = sizeof digits / sizeof digits[0];
  // Work in unsigned so the most negative value has a magnitude too.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[--n] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[--n] = u'-';
  sink.put(sink.context, digits + n, sizeof digits / sizeof digits[0] - n);
}

void PutText(const char16_t* text, bool neutralize, const FormatSink& sink) {
  if (text == nullptr) return;
  const char16_t* run = text;
  const char16_t* p = text;
  for (; *p != 0; ++p) {
    if (neutralize && IsControlCharacter(*p)) {
      if (p != run) sink.put(sink.context, run, static_cast<size_t>(p - run));
      static const char16_t question = u'?';
      sink.put(sink.context, &question, 1);
      run = p + 1;
    }
  }
  if (p != run) sink.put(sink.context, run, static_cast<size_t>(p - run));
}

// Collects one message's UTF-16, encodes it, and hands the bytes to the
// platform in one write. Only a message longer than the buffer, which the
// tool's own texts never are, is written in more than one piece.
class MessageBuffer {
 public:
  explicit MessageBuffer(Stream stream) : stream_(stream) {}

  static void Put(void* context, const char16_t* units, size_t count) {
    auto* self = static_cast<MessageBuffer*>(context);
    while (count != 0) {
      size_t room = Capacity - self->used_;
      size_t take = count < room ? count : room;
      for (size_t i = 0; i < take; ++i) units_[self->used_ + i] = units[i];
      self->used_ += take;
      units += take;
      count -= take;
      if (self->used_ == Capacity) self->Flush(false);
    }
  }

  void Flush(bool final) {
    size_t bytes = platform::EncodeConsoleText(units_, used_, bytes_, state_, final);
    used_ = 0;
    if (bytes != 0) platform::WriteStream(stream_, bytes_, bytes);
  }

 private:
  static constexpr size_t Capacity = 2048;
  // Static rather than on the stack: one thread, one message at a time, and
  // no stack probe for the Windows image.
  static char16_t units_[Capacity];
  static unsigned char bytes_[platform::MaxEncodedBytesPerUnit * (Capacity + 1)];

  Stream stream_;
  size_t used_ = 0;
  platform::EncoderState state_;
};

char16_t MessageBuffer::units_[MessageBuffer::Capacity];
unsigned char MessageBuffer::bytes_[platform::MaxEncodedBytesPerUnit * (MessageBuffer::Capacity + 1)];

}  // namespace

void FormatTemplate(const char16_t* templ, const FormatArg* args, size_t count,
                    bool neutralize, const FormatSink& sink) {
  size_t next = 0;
  const char16_t* run = templ;
  const char16_t* p = templ;
  while (*p != 0) {
    if (p[0] == u'%' && (p[1] == u's' || p[1] == u'd') && next < count) {
      if (p != run) sink.put(sink.context, run, static_cast<size_t>(p - run));
      const FormatArg& arg = args[next++];
      if (p[1] == u'd') {
        PutNumber(arg.kind == FormatArg::Kind::Number ? arg.number : 0, sink);
      } else if (arg.kind != FormatArg::Kind::Number) {
        PutText(arg.text, neutralize && arg.kind == FormatArg::Kind::ServerText, sink);
      } else {
        PutNumber(arg.number, sink);
      }
      p += 2;
      run = p;
    } else {
      ++p;
    }
  }
  if (p != run) sink.put(sink.context, run, static_cast<size_t>(p - run));
}

void WriteMessage(Stream stream, const char16_t* templ, const FormatArg* args, size_t count) {
  MessageBuffer buffer(stream);
  FormatTemplate(templ, args, count, platform::IsTerminalStream(stream),
                 FormatSink{&MessageBuffer::Put, &buffer});
  buffer.Flush(true);
}

}  // namespace tarnwick
