// The program's string table and the small text helpers every dialog uses.
#ifndef KVCATOOL_APP_STRINGS_H
#define KVCATOOL_APP_STRINGS_H

#include <string>
#include <string_view>

namespace kvapp {

// The text of string |id|; empty for an id the table does not hold.
const char* LoadString(int id);

// |text| with its first "%s" replaced by |arg|. Only the placeholder is
// interpreted: "%" anywhere else, and in |arg|, is copied as it stands.
std::string FormatText(std::string_view text, std::string_view arg);
// |text| with its first "%d" (decimal) or "%X" (upper-case hexadecimal)
// replaced by |value|.
std::string FormatNumber(std::string_view text, int value);

// True when the last |suffix.size()| characters of |text| equal |suffix|
// without regard to case.
bool EndsWithNoCase(std::string_view text, std::string_view suffix);

// Path helpers: "/" separates directories.
// The text before the last "/" (empty when there is none).
std::string DirectoryPart(const std::string& path);
// The text after the last "/" (all of it when there is none).
std::string NamePart(const std::string& path);
// |dir| plus "/" when it does not already end in one.
std::string WithTrailingSlash(const std::string& dir);

// Overwrites the characters of |text| (its whole capacity) with zeros and
// empties it. For passwords.
void WipeString(std::string& text);

}  // namespace kvapp

#endif
