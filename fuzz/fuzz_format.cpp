// The message formatter, its writer and both console encoders.
//
// Input: one byte of flags, one byte giving the number of arguments, then
// little-endian UTF-16 cut at zero units into the template and the pieces
// the arguments take their text from. Each argument's kind and piece come
// from the piece's first unit, so the same text can be used many times and
// messages grow past the writer's buffer.
#include <string.h>

#include "cli/format.h"
#include "fuzz/fuzz_support.h"
#include "tests/fake_platform.h"

namespace tarnwick::fuzz {
namespace {

using platform::EncoderState;
using platform::MaxEncodedBytesPerUnit;

void Collect(void* context, const char16_t* units, size_t count) {
  static_cast<std::u16string*>(context)->append(units, count);
}

std::u16string Format(const char16_t* templ, const std::vector<FormatArg>& args, bool neutralize) {
  std::u16string out;
  FormatTemplate(templ, args.data(), args.size(), neutralize, FormatSink{&Collect, &out});
  return out;
}

using Encoder = size_t (*)(const char16_t*, size_t, unsigned char*, EncoderState&, bool);

// Encodes in pieces of `cut` units (all at once for 0), each into a block of
// exactly the promised size, carrying the state from piece to piece.
std::string Encode(Encoder encode, const std::u16string& text, size_t cut) {
  std::string whole;
  EncoderState state;
  size_t at = 0;
  do {
    size_t rest = text.size() - at;
    size_t take = cut == 0 || cut > rest ? rest : cut;
    size_t room = MaxEncodedBytesPerUnit * (take + 1);
    std::unique_ptr<unsigned char[]> out(new unsigned char[room]);
    size_t n = encode(text.data() + at, take, out.get(), state, take == rest);
    FUZZ_CHECK(n <= room);
    whole.append(reinterpret_cast<const char*>(out.get()), n);
    at += take;
  } while (at < text.size());
  FUZZ_CHECK(state.pendingHigh == 0);
  return whole;
}

void CheckEncoders(const std::u16string& text, size_t cut) {
  std::string utf8 = Encode(platform::EncodeUtf8Lf, text, 0);
  FUZZ_CHECK(Encode(platform::EncodeUtf8Lf, text, cut) == utf8);
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  FUZZ_CHECK(IsValidUtf8(bytes, utf8.size()));
  std::u16string expected = WithLoneSurrogatesReplaced(text);
  std::unique_ptr<char16_t[]> back(new char16_t[utf8.size()]);
  ptrdiff_t n = platform::DecodeUtf8(bytes, utf8.size(), back.get());
  FUZZ_CHECK(n >= 0 && std::u16string(back.get(), static_cast<size_t>(n)) == expected);

  std::string latin1 = Encode(platform::EncodeLatin1CrLf, text, 0);
  FUZZ_CHECK(Encode(platform::EncodeLatin1CrLf, text, cut) == latin1);
  FUZZ_CHECK(latin1.size() <= 2 * text.size());
  size_t lineEnds = 0;
  for (size_t i = 0; i < latin1.size(); ++i) {
    if (latin1[i] != '\n') continue;
    FUZZ_CHECK(i > 0 && latin1[i - 1] == '\r');
    ++lineEnds;
  }
  size_t textLineEnds = 0;
  for (char16_t u : text) textLineEnds += u == u'\n';
  FUZZ_CHECK(lineEnds == textLineEnds && latin1.size() == text.size() + lineEnds);
}

std::u16string WithoutControls(const std::u16string& text) {
  std::u16string out = text;
  for (char16_t& u : out) {
    if (IsControlCharacter(u)) u = u'x';
  }
  return out;
}

bool HasPlaceholder(const std::u16string& templ) {
  for (size_t i = 0; i + 1 < templ.size(); ++i) {
    if (templ[i] == u'%' && (templ[i + 1] == u's' || templ[i + 1] == u'd')) return true;
  }
  return false;
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::fuzz;
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  const size_t argumentCount = data[1] % 32;
  std::vector<std::u16string> pieces = Pieces(Units(data + 2, size - 2));
  std::u16string templ = pieces[0];
  std::vector<std::u16string> texts(pieces.begin() + 1, pieces.end());
  if (texts.empty()) texts.emplace_back();

  // Every argument in a block of its own size; Number takes its value from
  // the first two units.
  std::vector<std::unique_ptr<char16_t[]>> blocks;
  std::vector<FormatArg> args;
  for (size_t i = 0; i < argumentCount; ++i) {
    const std::u16string& piece = texts[i % texts.size()];
    uint32_t pick = piece.empty() ? 0 : piece[0];
    blocks.push_back(Exact(piece));
    int32_t number = static_cast<int32_t>(pick << 16 | (piece.size() > 1 ? piece[1] : 0));
    switch (pick % 3) {
      case 0: args.push_back(Text(blocks.back().get())); break;
      case 1: args.push_back(ServerText(blocks.back().get())); break;
      default: args.push_back(Number(number)); break;
    }
  }
  std::unique_ptr<char16_t[]> exactTempl = Exact(templ);

  const std::u16string plain = Format(exactTempl.get(), args, false);
  const std::u16string neutral = Format(exactTempl.get(), args, true);
  if (args.empty() || !HasPlaceholder(templ)) FUZZ_CHECK(plain == templ);

  // Neutralizing replaces control characters one for one and touches
  // nothing else.
  FUZZ_CHECK(neutral.size() == plain.size());
  for (size_t i = 0; i < plain.size(); ++i) {
    FUZZ_CHECK(neutral[i] == plain[i] || (IsControlCharacter(plain[i]) && neutral[i] == u'?'));
  }

  // With the template and plain texts made harmless, nothing the server
  // chose may put a control character into the message.
  {
    std::unique_ptr<char16_t[]> cleanTempl = Exact(WithoutControls(templ));
    std::vector<std::unique_ptr<char16_t[]>> cleanBlocks;
    std::vector<FormatArg> cleanArgs = args;
    for (FormatArg& arg : cleanArgs) {
      if (arg.kind != FormatArg::Kind::Text) continue;
      cleanBlocks.push_back(Exact(WithoutControls(arg.text)));
      arg.text = cleanBlocks.back().get();
    }
    for (char16_t u : Format(cleanTempl.get(), cleanArgs, true)) FUZZ_CHECK(!IsControlCharacter(u));
  }

  // Numbers read back as themselves.
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].kind != FormatArg::Kind::Number) continue;
    std::u16string one = Format(u"%d", std::vector<FormatArg>{args[i]}, false);
    std::string digits(one.begin(), one.end());
    FUZZ_CHECK(std::to_string(args[i].number) == digits);
  }

  CheckEncoders(plain, 1 + flags % 7);

  // The writer sends exactly what the formatter and the stream's encoder
  // make of the message, however many pieces it takes.
  fake::World& world = fake::Reset();
  world.encoding = (flags & 1) ? fake::Encoding::Latin1CrLf : fake::Encoding::Utf8Lf;
  world.outputIsTerminal = (flags & 2) != 0;
  WriteMessage(platform::Stream::Output, exactTempl.get(), args.data(), args.size());
  const std::u16string& shown = world.outputIsTerminal ? neutral : plain;
  std::string expected = Encode((flags & 1) ? platform::EncodeLatin1CrLf : platform::EncodeUtf8Lf,
                                shown, 0);
  FUZZ_CHECK(world.out == expected);
  FUZZ_CHECK(world.err.empty());
  return 0;
}
