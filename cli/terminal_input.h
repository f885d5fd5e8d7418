// Reading answers and passwords from the terminal on standard input.
#ifndef KVCATOOL_CLI_TERMINAL_INPUT_H
#define KVCATOOL_CLI_TERMINAL_INPUT_H

#include <cstdio>
#include <string>

namespace kvcli {

// Most characters (UTF-8 code points) of a line read as an answer or a
// password. A longer line is read to its end and given back as its first
// kMaxInputLine + 1 characters, so that a caller refuses it as too long
// instead of taking a cut value.
constexpr size_t kMaxInputLine = 1024;

// True when standard input is a terminal.
bool StdinIsTerminal();

// Writes |prompt| to |promptOut| and reads one line from standard input with
// the terminal's echo switched off (restored afterwards, also when the
// program is interrupted). False at end of input or on a read error. The
// line break is not part of |line|.
bool ReadHiddenLine(std::FILE* promptOut, const std::string& prompt, std::string& line);

// The same with echo (for yes/no answers).
bool ReadLine(std::FILE* promptOut, const std::string& prompt, std::string& line);

// The first line of the file |path| (without its line break) into |line|.
// False when the file cannot be read; a first line longer than
// kMaxInputLine characters is given back as described there.
bool ReadFirstLineOfFile(const std::string& path, std::string& line);

}  // namespace kvcli

#endif
