// The list of issued certificates as a terminal shows it: a table, or one
// JSON array for scripts.
#ifndef KVCATOOL_APP_ISSUED_LIST_H
#define KVCATOOL_APP_ISSUED_LIST_H

#include <cstdint>
#include <string>
#include <vector>

#include "app/root_register.h"

namespace kvapp {

// How |entry| stands at |now| as a word: "valid", "expiring", "expired", or
// "revoked (<reason name>)".
std::string IssuedStateText(const IssuedEntry& entry, int64_t now);

// A header line and one line an entry, in the order given, with the columns
// serial, expiry date, state, subject, names (comma-separated) and file,
// each padded to its widest value; texts escaped for display.
std::vector<std::string> IssuedTableLines(const std::vector<IssuedEntry>& entries, int64_t now);

// The entries as one JSON array of objects with serial, notBefore,
// notAfter (RFC 3339), state, reason and revokedAt (revoked ones), subject,
// names (an array), file, sha256 and profile.
std::string IssuedJson(const std::vector<IssuedEntry>& entries, int64_t now);

}  // namespace kvapp

#endif
