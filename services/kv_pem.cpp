// PEM (RFC 7468): the first block of a label ("CERTIFICATE", "X509 CRL")
// decoded to DER in place, with a count of the blocks after it; and blocks
// written for the exports.
#include "services/kv_pem.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "services/kv_internal.h"
#include "services/kvservices.h"

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The first occurrence of |needle| in |data| from |from| on, or |length|.
size_t Find(const unsigned char* data, size_t length, size_t from, const char* needle) {
  const size_t n = std::strlen(needle);
  for (size_t i = from; i + n <= length; ++i) {
    if (std::memcmp(data + i, needle, n) == 0) return i;
  }
  return length;
}

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Decodes the base64 text data[from, to) into |out| (which may be |data|
// itself: output never overtakes input). White space is skipped; '=' only
// ends the text. Returns the decoded length, or -1 for anything else.
long DecodeBase64(unsigned char* data, size_t from, size_t to, unsigned char* out) {
  uint32_t accumulator = 0;
  int bits = 0;
  long written = 0;
  bool padding = false;
  for (size_t i = from; i < to; ++i) {
    const unsigned char c = data[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    const int value = Base64Value(c);
    if (value < 0 || padding) return -1;
    accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out[written++] = static_cast<unsigned char>((accumulator >> bits) & 0xFF);
    }
  }
  // Left-over bits must be the zero padding of the last group.
  if (bits >= 6 || (accumulator & ((1u << bits) - 1)) != 0) return -1;
  return written;
}

}  // namespace

int iKVFromPEM(unsigned char* buffer, int* length, const char* label, int* skipped) {
  if (skipped != nullptr) *skipped = 0;
  if (buffer == nullptr || length == nullptr || *length <= 0 || label == nullptr || std::strlen(label) > 64) {
    return KV_CERT_BAD_CERTIFICATE;
  }
  const std::string begin = std::string("-----BEGIN ") + label + "-----";
  const std::string endLine = std::string("-----END ") + label + "-----";
  const size_t total = static_cast<size_t>(*length);
  const size_t start = Find(buffer, total, 0, begin.c_str());
  // A file without the header is taken as DER, as it is.
  if (start == total) return 0;
  const size_t body = start + begin.size();
  const size_t end = Find(buffer, total, body, endLine.c_str());
  if (end == total) return KV_CERT_BAD_CERTIFICATE;
  int more = 0;
  for (size_t at = Find(buffer, total, end, begin.c_str()); at < total; at = Find(buffer, total, at + 1, begin.c_str())) {
    ++more;
  }
  const long decoded = DecodeBase64(buffer, body, end, buffer);
  if (decoded <= 0) return KV_CERT_BAD_CERTIFICATE;
  // The text after the DER is wiped: the buffer is released by length.
  QMem_Wipe(buffer + decoded, total - static_cast<size_t>(decoded));
  *length = static_cast<int>(decoded);
  if (skipped != nullptr) *skipped = more;
  return 0;
}

int iKVCertFromPEM(unsigned char* buffer, int* length, int* skipped) {
  return iKVFromPEM(buffer, length, "CERTIFICATE", skipped);
}

namespace kvpem {

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

}  // namespace kvpem
