// Where the program's help lives: the executable's path with the extension
// ".hlp". Front ends show help topics by context number from this file.
#ifndef KVCATOOL_PLATFORM_HELP_FILE_H
#define KVCATOOL_PLATFORM_HELP_FILE_H

#include <string>

namespace kvplatform {

// The help file for the executable at |executablePath|: its extension (the
// text from the last "." of the last path component) replaced by ".hlp", or
// ".hlp" appended when it has none.
std::string HelpFilePathFor(const std::string& executablePath);

// The help file of the running program (from /proc/self/exe); empty when the
// executable's path cannot be learned.
std::string HelpFilePath();

}  // namespace kvplatform

#endif
