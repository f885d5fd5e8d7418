#include "app/utf8_text.h"

#include "cryptokit/qmemory.h"

namespace kvapp {
namespace {

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

void AppendHexByte(std::string& out, unsigned char b) {
  static const char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[b >> 4];
  out += kDigits[b & 0x0F];
}

}  // namespace

size_t Utf8SequenceLength(std::string_view text, size_t pos) {
  if (pos >= text.size()) return 0;
  const auto at = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  const unsigned char lead = at(0);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) high = 0x9F;  // surrogates U+D800..U+DFFF
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;  // a continuation byte, C0, C1 or F5..FF
  }
  if (text.size() - pos < length) return 0;
  if (at(1) < low || at(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!IsContinuation(at(i))) return 0;
  }
  return length;
}

size_t Utf8Length(std::string_view text) {
  size_t chars = 0;
  for (size_t pos = 0; pos < text.size(); ++chars) {
    const size_t n = Utf8SequenceLength(text, pos);
    pos += n == 0 ? 1 : n;
  }
  return chars;
}

std::string_view Utf8Prefix(std::string_view text, size_t maxChars) {
  size_t pos = 0;
  for (size_t chars = 0; chars < maxChars && pos < text.size(); ++chars) {
    const size_t n = Utf8SequenceLength(text, pos);
    pos += n == 0 ? 1 : n;
  }
  return text.substr(0, pos);
}

std::string_view Utf8PrefixBytes(std::string_view text, size_t maxBytes) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t n = Utf8SequenceLength(text, pos);
    const size_t step = n == 0 ? 1 : n;
    if (step > maxBytes - pos) break;
    pos += step;
  }
  return text.substr(0, pos);
}

std::string EscapeForDisplay(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const size_t n = Utf8SequenceLength(text, pos);
    const auto lead = static_cast<unsigned char>(text[pos]);
    const bool c0 = n == 1 && (lead < 0x20 || lead == 0x7F);
    // U+0080..U+009F are C2 80..C2 9F.
    const bool c1 = n == 2 && lead == 0xC2 && static_cast<unsigned char>(text[pos + 1]) < 0xA0;
    if (n == 0) {
      AppendHexByte(out, lead);
      ++pos;
    } else if (c0 || c1) {
      for (size_t i = 0; i < n; ++i) AppendHexByte(out, static_cast<unsigned char>(text[pos + i]));
      pos += n;
    } else {
      out.append(text.substr(pos, n));
      pos += n;
    }
  }
  return out;
}

void CopyTextCut(char* out, size_t capacity, std::string_view text) {
  const std::string_view kept = Utf8PrefixBytes(text, capacity - 1);
  QMem_Copy(out, kept.data(), static_cast<uint32_t>(kept.size()));
  QMem_Fill(out + kept.size(), 0, static_cast<uint32_t>(capacity - kept.size()));
}

}  // namespace kvapp
