#include "platform/os_random.h"

#include <sys/random.h>

#include <cerrno>

namespace kvplatform {
namespace {

OsRandomFunction g_source = nullptr;

int SystemRandom(unsigned char* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t got = getrandom(out + done, n - done, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno != 0 ? errno : EIO;
    }
    done += static_cast<size_t>(got);
  }
  return 0;
}

}  // namespace

int OsRandomBytes(unsigned char* out, size_t n) {
  if (out == nullptr && n != 0) return EINVAL;
  return g_source != nullptr ? g_source(out, n) : SystemRandom(out, n);
}

void SetOsRandomForTest(OsRandomFunction source) { g_source = source; }

}  // namespace kvplatform
