// Counting, cutting and escaping UTF-8 text: well-formed characters of every
// length, and the malformed sequences of RFC 3629 (overlong forms,
// surrogates, values above U+10FFFF, stray and missing continuation bytes).
#include <gtest/gtest.h>

#include "app/cert_contents.h"
#include "app/utf8_text.h"

namespace apptest {
namespace {

TEST(Utf8Text, CountCutAndEscape) {
  struct Row {
    std::string text;
    size_t chars;
    std::string shown;
  };
  const Row rows[] = {
      {"", 0, ""},
      {"plain", 5, "plain"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 8, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"a\x1B[2Jb\x07\x7F", 8, "a\\x1B[2Jb\\x07\\x7F"},
      {std::string("nul\0after", 9), 9, "nul\\x00after"},
      {"tab\tline\n", 9, "tab\\x09line\\x0A"},
      {"c1\xC2\x9B" "31m \xC2\xA0", 8, "c1\\xC2\\x9B31m \xC2\xA0"},  // CSI (U+009B) escaped, NBSP kept
      {"\xC0\xAF", 2, "\\xC0\\xAF"},                                     // overlong "/"
      {"\xE0\x80\xAF", 3, "\\xE0\\x80\\xAF"},                            // overlong, three bytes
      {"\xED\xA0\x80", 3, "\\xED\\xA0\\x80"},                            // a surrogate
      {"\xF4\x90\x80\x80", 4, "\\xF4\\x90\\x80\\x80"},                   // above U+10FFFF
      {"\xE9t\xE9", 3, "\\xE9t\\xE9"},                                   // Latin-1 bytes
      {"ab\xE2\x82", 4, "ab\\xE2\\x82"},                                 // cut short at the end
      {"\x80x", 2, "\\x80x"},                                            // stray continuation byte
  };
  for (const Row& row : rows) {
    EXPECT_EQ(kvapp::Utf8Length(row.text), row.chars) << row.shown;
    EXPECT_EQ(kvapp::EscapeForDisplay(row.text), row.shown);
    // Escaping what is shown again changes nothing.
    EXPECT_EQ(kvapp::EscapeForDisplay(row.shown), row.shown);
  }
  const std::string mixed = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  EXPECT_EQ(kvapp::Utf8Prefix(mixed, 0), "");
  EXPECT_EQ(kvapp::Utf8Prefix(mixed, 2), "a\xC3\xA9");
  EXPECT_EQ(kvapp::Utf8Prefix(mixed, 4), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(kvapp::Utf8Prefix(mixed, 99), mixed);
  for (size_t bytes = 0; bytes <= mixed.size(); ++bytes) {
    const std::string_view cut = kvapp::Utf8PrefixBytes(mixed, bytes);
    EXPECT_LE(cut.size(), bytes);
    EXPECT_EQ(kvapp::EscapeForDisplay(cut).find("\\x"), std::string::npos) << bytes;  // no split character
  }
  EXPECT_EQ(kvapp::Utf8PrefixBytes(mixed, 5), "a\xC3\xA9");
}

TEST(Utf8Text, SerialNumbers) {
  struct Row {
    std::string bytes;
    std::string shown;
  };
  const Row rows[] = {
      {"0123456789ABCDEF", "0123456789ABCDEF"},  // this program's own serials
      {"0123abcd", "3031323361626364"},
      {"\x1B[2J", "1B5B324A"},
      {std::string("\x00\x80", 2), "0080"},
      {"", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(kvapp::SerialNumberText(reinterpret_cast<const unsigned char*>(row.bytes.data()), row.bytes.size()),
              row.shown);
  }
}

}  // namespace
}  // namespace apptest
