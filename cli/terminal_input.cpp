#include "cli/terminal_input.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "app/strings.h"
#include "app/utf8_text.h"
#include "platform/file_io.h"

namespace kvcli {
namespace {

// The terminal settings to put back if a signal ends the program while echo
// is off.
struct termios gSavedTerminal;
volatile sig_atomic_t gEchoOff = 0;

void RestoreAndReraise(int sig) {
  if (gEchoOff != 0) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &gSavedTerminal);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// Bytes kept of a line: kMaxInputLine + 1 characters of up to 4 bytes.
constexpr size_t kMaxLineBytes = 4 * (kMaxInputLine + 1);

// Reads up to a line break or the end of input from |fd|. False when nothing
// was read before the end of input or an error.
bool ReadLineFrom(int fd, std::string& line) {
  kvapp::WipeString(line);
  line.reserve(64);
  bool any = false;
  for (;;) {
    char ch;
    ssize_t n = ::read(fd, &ch, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    any = true;
    if (ch == '\n') break;
    if (line.size() < kMaxLineBytes) {
      // Grow by hand so that no copy of a secret is left behind in a freed block.
      if (line.size() == line.capacity()) {
        std::string bigger;
        bigger.reserve(line.capacity() * 2);
        bigger = line;
        kvapp::WipeString(line);
        line.swap(bigger);
      }
      line.push_back(ch);
    }
    ch = 0;
  }
  if (!any) return false;
  if (line.size() < kMaxLineBytes && !line.empty() && line.back() == '\r') line.pop_back();
  // A longer line is kept as its first kMaxInputLine + 1 characters: too long
  // for every caller's limit, so it is refused there rather than taken cut.
  // Shrinking keeps the buffer, which WipeString clears whole.
  line.resize(kvapp::Utf8Prefix(line, kMaxInputLine + 1).size());
  return true;
}

}  // namespace

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

bool ReadHiddenLine(std::FILE* promptOut, const std::string& prompt, std::string& line) {
  std::fputs(prompt.c_str(), promptOut);
  std::fflush(promptOut);
  struct termios current;
  const bool terminal = ::tcgetattr(STDIN_FILENO, &current) == 0;
  struct sigaction oldInt, oldTerm, oldHup, handler = {};
  if (terminal) {
    gSavedTerminal = current;
    handler.sa_handler = RestoreAndReraise;
    ::sigemptyset(&handler.sa_mask);
    ::sigaction(SIGINT, &handler, &oldInt);
    ::sigaction(SIGTERM, &handler, &oldTerm);
    ::sigaction(SIGHUP, &handler, &oldHup);
    struct termios silent = current;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    silent.c_lflag |= ECHONL;
    gEchoOff = 1;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
  }
  const bool ok = ReadLineFrom(STDIN_FILENO, line);
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &gSavedTerminal);
    gEchoOff = 0;
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    ::sigaction(SIGHUP, &oldHup, nullptr);
  } else {
    std::fputc('\n', promptOut);
  }
  if (!ok) std::fputc('\n', promptOut);
  std::fflush(promptOut);
  return ok;
}

bool ReadLine(std::FILE* promptOut, const std::string& prompt, std::string& line) {
  std::fputs(prompt.c_str(), promptOut);
  std::fflush(promptOut);
  return ReadLineFrom(STDIN_FILENO, line);
}

bool ReadFirstLineOfFile(const std::string& path, std::string& line) {
  // A regular file, or a pipe a script feeds the password through; never a
  // directory or a device.
  const kvplatform::DescriptorCloser in(
      kvplatform::OpenForReading(path.c_str(), kvplatform::OpenKind::kRegularFileOrPipe));
  if (in.fd < 0) return false;
  const bool ok = ReadLineFrom(in.fd, line);
  if (!ok) kvapp::WipeString(line);  // an empty file gives an empty password
  return true;
}

}  // namespace kvcli
