// UTF-8 text as the dialogs count, cut and show it: limits are counted in
// characters (code points), a cut never falls inside a character, and text
// that came from a file is made safe to put on a screen or a terminal.
#ifndef KVCATOOL_APP_UTF8_TEXT_H
#define KVCATOOL_APP_UTF8_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace kvapp {

// The number of bytes of the well-formed UTF-8 character (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF) that starts at
// |pos| of |text|; 0 when the bytes there are not one.
size_t Utf8SequenceLength(std::string_view text, size_t pos);

// The number of characters of |text|. A byte that starts no well-formed
// character counts as one character of its own.
size_t Utf8Length(std::string_view text);

// The longest beginning of |text| of at most |maxChars| characters (counted
// as Utf8Length does): never ends inside a well-formed character.
std::string_view Utf8Prefix(std::string_view text, size_t maxChars);

// The longest beginning of |text| of at most |maxBytes| bytes that does not
// end inside a well-formed character.
std::string_view Utf8PrefixBytes(std::string_view text, size_t maxBytes);

// Fills the |capacity| bytes at |out| with the longest beginning of |text|
// that leaves room for a terminator and does not end inside a character
// (Utf8PrefixBytes), followed by zeros. |capacity| must be at least 1.
void CopyTextCut(char* out, size_t capacity, std::string_view text);

// |text| for display: well-formed characters other than control characters
// as they are; each byte of a control character (U+0000 to U+001F, U+007F,
// U+0080 to U+009F) and each byte that starts no well-formed character as
// "\x" and two upper-case hexadecimal digits (ESC shows as \x1B).
std::string EscapeForDisplay(std::string_view text);

}  // namespace kvapp

#endif
