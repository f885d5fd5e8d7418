#include "app/issued_list.h"

#include <algorithm>

#include "app/cert_info.h"
#include "app/utf8_text.h"

namespace kvapp {
namespace {

std::string DateOnly(int64_t seconds) {
  const std::string text = UtcDateText(seconds);
  return text.size() >= 10 ? text.substr(0, 10) : text;
}

std::string Joined(const std::vector<std::string>& names, const char* separator) {
  std::string out;
  for (const std::string& name : names) {
    if (!out.empty()) out += separator;
    out += name;
  }
  return out;
}

}  // namespace

std::string IssuedStateText(const IssuedEntry& entry, int64_t now) {
  switch (StateOf(entry, now)) {
    case IssuedState::kRevoked: {
      const std::string name = ReasonName(entry.reason);
      return "revoked (" + (name.empty() ? std::to_string(entry.reason) : name) + ")";
    }
    case IssuedState::kExpired: return "expired";
    case IssuedState::kExpiringSoon: return "expiring";
    case IssuedState::kValid: break;
  }
  return "valid";
}

std::vector<std::string> IssuedTableLines(const std::vector<IssuedEntry>& entries, int64_t now) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"SERIAL", "EXPIRES", "STATE", "SUBJECT", "NAMES", "FILE"});
  for (const IssuedEntry& e : entries) {
    rows.push_back({e.serialHex, DateOnly(e.notAfter), IssuedStateText(e, now), EscapeForDisplay(e.subject),
                    EscapeForDisplay(Joined(e.altNames, ",")), EscapeForDisplay(e.path)});
  }
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Utf8Length(row[i]));
  }
  std::vector<std::string> lines;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - Utf8Length(row[i]) + 2, ' ');
    }
    lines.push_back(line);
  }
  return lines;
}

std::string IssuedJson(const std::vector<IssuedEntry>& entries, int64_t now) {
  std::string out = "[";
  for (size_t i = 0; i < entries.size(); ++i) {
    const IssuedEntry& e = entries[i];
    out += i == 0 ? "\n  {" : ",\n  {";
    out += "\"serial\": " + JsonString(e.serialHex);
    out += ", \"notBefore\": " + JsonString(Rfc3339Text(e.notBefore));
    out += ", \"notAfter\": " + JsonString(Rfc3339Text(e.notAfter));
    const IssuedState state = StateOf(e, now);
    out += ", \"state\": " + JsonString(state == IssuedState::kRevoked       ? "revoked"
                                        : state == IssuedState::kExpired     ? "expired"
                                        : state == IssuedState::kExpiringSoon ? "expiring"
                                                                              : "valid");
    if (e.revoked) {
      out += ", \"reason\": " + JsonString(ReasonName(e.reason));
      out += ", \"revokedAt\": " + JsonString(Rfc3339Text(e.revokedAt));
    }
    out += ", \"subject\": " + JsonString(e.subject);
    out += ", \"names\": [";
    for (size_t n = 0; n < e.altNames.size(); ++n) out += (n == 0 ? "" : ", ") + JsonString(e.altNames[n]);
    out += "]";
    out += ", \"file\": " + JsonString(e.path);
    out += ", \"sha256\": " + JsonString(e.sha256Hex);
    out += ", \"profile\": " + JsonString(e.profile);
    out += "}";
  }
  out += entries.empty() ? "]" : "\n]";
  return out;
}

}  // namespace kvapp
