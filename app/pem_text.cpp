#include "app/pem_text.h"

#include <cstdint>

namespace kvapp {
namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string PemBlock(const char* label, const unsigned char* data, size_t length) {
  const std::string begin = std::string("-----BEGIN ") + label + "-----\n";
  const std::string end = std::string("-----END ") + label + "-----\n";
  const size_t chars = (length + 2) / 3 * 4;
  std::string out;
  out.reserve(begin.size() + chars + chars / 64 + 1 + end.size());
  out += begin;
  size_t column = 0;
  auto put = [&](char c) {
    out.push_back(c);
    if (++column == 64) {
      out.push_back('\n');
      column = 0;
    }
  };
  for (size_t i = 0; i < length; i += 3) {
    const uint32_t b0 = data[i];
    const uint32_t b1 = i + 1 < length ? data[i + 1] : 0;
    const uint32_t b2 = i + 2 < length ? data[i + 2] : 0;
    const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
    put(kBase64[(triple >> 18) & 63]);
    put(kBase64[(triple >> 12) & 63]);
    put(i + 1 < length ? kBase64[(triple >> 6) & 63] : '=');
    put(i + 2 < length ? kBase64[triple & 63] : '=');
  }
  if (column != 0) out.push_back('\n');
  out += end;
  return out;
}

}  // namespace kvapp
