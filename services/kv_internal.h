// Shared by the service modules only: the trace call with the convention of
// the service layer, and hooks for tests.
#ifndef KVCATOOL_SERVICES_KV_INTERNAL_H
#define KVCATOOL_SERVICES_KV_INTERNAL_H

#include <string.h>

#include <cstddef>
#include <cstdint>

#include "cryptokit/qmemory.h"
#include "platform/trace.h"

// Every trace point passes 16, 9, the module's name (each source defines
// kTraceModule) and its own line number.
#define KV_TRACE(...) KVTraceMessage(16, 9, kTraceModule, __LINE__, __VA_ARGS__)

// The serial number of a certificate issued at |issueTime| for the public
// key encoding |publicKey|: "%08lX%08lX" of the time and of the key's first
// four bytes read as a little-endian number, 16 characters and a terminator.
// The time takes its low 32 bits, so the serial number keeps its 16
// characters for issue times after 2106.
void iKVSerialNumber(int64_t issueTime, const unsigned char* publicKey, uint32_t publicKeyLength, char out[17]);

// Makes |path| hold exactly |data| (a temporary file in the same directory,
// flushed and renamed over the target), so that a failed write never leaves
// a partial file nor spoils the one that was there. 0; 1 when the file cannot
// be made (or the path names a device, pipe or directory); 2 when it cannot
// be written.
int iKVReplaceFileAtomically(const char* path, const unsigned char* data, size_t length);

// Forgets the process seed (wiped), so the next iGetSeed gathers a new pool.
// For tests only.
void iKVForgetSeed();

#endif
