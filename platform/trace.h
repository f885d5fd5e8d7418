// The trace library: one call that every service operation makes at its
// entry, exit and failure points.
//
// The call always returns, changes no state of its caller (errno included)
// and accepts any printf-style format with its arguments. Tracing is off by
// default. When the environment variable KVCATOOL_TRACE names a file, each
// call appends one line to it:
//
//   <UTC time> <module> <line> <formatted text>
//
// The variable is read at every call, so it can be switched on and off while
// the program runs.
#ifndef KVCATOOL_PLATFORM_TRACE_H
#define KVCATOOL_PLATFORM_TRACE_H

// |level| and |category| are kept for the callers' convention (always 16 and
// 9) and do not change what is written.
void KVTraceMessage(int level, int category, const char* module, int line, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

#endif
