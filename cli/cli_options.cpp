#include "cli/cli_options.h"

#include <cstdint>

namespace kvcli {
namespace {

constexpr uint32_t Bit(Command c) { return 1u << static_cast<int>(c); }

constexpr uint32_t kCreating = Bit(Command::kNewRoot) | Bit(Command::kNewServer) | Bit(Command::kCreateServerCert);
constexpr uint32_t kEvery = 0xFFFFFFFEu;  // every subcommand

struct CommandEntry {
  Command id;
  const char* name;
  const char* argument;  // positional argument as shown, or null
  bool argumentRequired;
  bool certificateCommands;  // needs the application's certificate commands
  const char* summary;
  const char* description;
};

const CommandEntry kCommands[] = {
    {Command::kNewRoot, "new-root", nullptr, false, true, "Create a root certificate and key file; make it the current root",
     "Creates a 2048-bit key pair (with --profile modern, --key-bits bits) in a new key\n"
     "file, its private key encrypted under a new password (asked twice; 8 to 16\n"
     "characters, 8 to 64 for the modern profile), and a self-signed root certificate,\n"
     "then makes it the current root. The file names default to <host>.crt and\n"
     "<host>.key in the directory."},
    {Command::kSelectRoot, "select-root", "CERT", true, true, "Make an existing root certificate the current root",
     "Checks the certificate, its key file (same name, .key) and that it is self-signed,\n"
     "asks for the root key password and remembers the root."},
    {Command::kViewRoot, "view-root", nullptr, false, true, "Show the contents of the current root certificate",
     "Shows subject, issuer, validity dates, version and serial number of the current root."},
    {Command::kNewServer, "new-server", nullptr, false, true,
     "Create a server certificate and key file, signed by the current root",
     "Creates a key pair in a new key file under a new password (asked twice) and a\n"
     "certificate for it issued by the current root (the root key password is asked\n"
     "for). Under a classic root the key has 1024 bits and the password 8 to 16\n"
     "characters; under a modern root 2048 bits (or --key-bits) and the password 8 to\n"
     "64 characters. Organization and country default to those of the current root."},
    {Command::kCreateServerCert, "create-server-cert", "KEYFILE", true, true,
     "Create a server certificate for an existing key file",
     "Unlocks KEYFILE with its password and issues a certificate for its key, signed by\n"
     "the current root (the root key password is asked for). The certificate file\n"
     "defaults to KEYFILE with .crt in place of .key."},
    {Command::kView, "view", "CERT", true, true, "Show the contents of a certificate or CRL file",
     "Shows subject, issuer, validity dates, version and serial number of CERT. For a\n"
     "CRL (a .crl file, DER or PEM): issuer, this and next update, CRL number,\n"
     "authority key identifier, signature algorithm and the revoked entries."},
    {Command::kVerify, "verify", "CERT", true, true,
     "Verify that a certificate or CRL was signed by the current root",
     "Exits with 0 when the signature of CERT (or of a .crl file) verifies with the\n"
     "current root's key, with 1 when it does not or cannot be verified."},
    {Command::kList, "list", "[DIR]", false, false, "List the certificate and key files of a directory",
     "Lists the files of DIR (default: the working directory) that match the filter."},
    {Command::kStatus, "status", nullptr, false, false, "Show the current root certificate and its key file",
     "Exits with 0 when a root is current, with 1 when none is. When the root has a\n"
     "register, a line says how many issued certificates are expired or expire\n"
     "within 30 days."},
    {Command::kExportCert, "export-cert", "CERT", true, false, "Write a certificate file as PEM",
     "Writes the certificate CERT as PEM (\"BEGIN CERTIFICATE\"). An existing file is\n"
     "never overwritten."},
    {Command::kExportKey, "export-key", "KEYFILE", true, false, "Write the private key of a key file as PKCS #8 PEM",
     "Unlocks KEYFILE with its password and writes the private key as PKCS #8: encrypted\n"
     "under a new export password (asked twice) with PBES2 (PBKDF2-HMAC-SHA256,\n"
     "AES-256-CBC), or with\n"
     "--unencrypted in the clear. The file is made with mode 0600 and an existing file\n"
     "is never overwritten."},
    // export-p12 and change-password.
    {Command::kExportP12, "export-p12", "KEYFILE", true, true,
     "Write a key, its certificate and the current root as PKCS #12",
     "Unlocks KEYFILE with its password and writes a PKCS #12 file with the private key,\n"
     "its certificate (default: KEYFILE with .crt) and the current root certificate,\n"
     "encrypted under a new export password (asked twice) with PBES2 (PBKDF2-HMAC-SHA256,\n"
     "AES-256-CBC) and an HMAC-SHA256 MAC. The file is made with mode 0600 and an\n"
     "existing file is never overwritten."},
    {Command::kChangePassword, "change-password", "KEYFILE", true, false,
     "Encrypt the private key of a key file under a new password",
     "Unlocks KEYFILE with its password and writes it again with the private key\n"
     "encrypted under a new password (asked twice): 8 to 16 characters for a classic key\n"
     "file, 8 to 64 for a modern one. --upgrade writes a classic key file in the modern\n"
     "form (PBES2 with PBKDF2-HMAC-SHA256 and AES-256-CBC). The new file replaces the old\n"
     "one only once it is written whole."},
    // Trusting the current root on this machine.
    {Command::kTrustRoot, "trust-root", nullptr, false, true,
     "Install the current root certificate in the system's trusted certificates",
     "Writes the current root certificate as PEM to the system's directory of trusted\n"
     "certificates (/usr/local/share/ca-certificates/kvcatool-<name>.crt, or the\n"
     "directory in KVCATOOL_CA_DIR) and runs update-ca-certificates (or the program in\n"
     "KVCATOOL_UPDATE_CA). Refuses a root of the classic profile, which TLS clients\n"
     "refuse. Needs root."},
    {Command::kUntrustRoot, "untrust-root", nullptr, false, true,
     "Take the current root certificate out of the system's trusted certificates",
     "Removes the file trust-root wrote for the current root, only when it holds that\n"
     "certificate, and runs update-ca-certificates. Needs root."},
    // The issued-certificate register of the current root.
    {Command::kIssued, "issued", nullptr, false, true, "List the certificates the current root has issued",
     "Lists the certificates recorded in the current root's register, soonest expiry\n"
     "first: serial number, expiry date, state (valid, expiring within 30 days,\n"
     "expired, or revoked with its reason), subject, names and file."},
    {Command::kRegisterExisting, "register-existing", "DIR", true, true,
     "Record certificates of a directory that the current root issued",
     "Records the .crt, .pem and .cer files of DIR (not its subdirectories) whose\n"
     "signature verifies under the current root and that are not recorded yet, and\n"
     "names the files it skipped with the reason."},
    {Command::kRevoke, "revoke", "[CERT]", false, true, "Revoke a certificate the current root issued",
     "Marks the certificate CERT, or the one of serial number --serial, revoked in the\n"
     "current root's register after asking; the next CRL lists it. Reasons (RFC 5280):\n"
     "unspecified (default), keyCompromise, cACompromise, affiliationChanged,\n"
     "superseded, cessationOfOperation, certificateHold, removeFromCRL,\n"
     "privilegeWithdrawn, aACompromise."},
    {Command::kCrl, "crl", nullptr, false, true, "Write a CRL of the current root's revoked certificates",
     "Writes a version 2 CRL signed with the root key (its password is asked for): the\n"
     "next CRL number, this update now, next update --days later, and every revoked\n"
     "certificate with its date and reason. DER, or PEM with --pem. An existing file\n"
     "is never overwritten."},
};

struct OptionEntry {
  const char* name;
  const char* argument;  // null for a flag
  uint32_t commands;     // subcommands that take it
  uint32_t shownRequired;  // subcommands whose usage line shows it without brackets
  const char* help;
  // The parser refuses a command line without it (for the subcommands of
  // |shownRequired|). The names of the details are shown as required but
  // left to the details dialog's own checks, as in the desktop program.
  bool enforced = false;
  // May be given more than once; every value is kept (Invocation::All).
  bool repeatable = false;
};

const OptionEntry kOptions[] = {
    {"dir", "D", Bit(Command::kNewRoot) | Bit(Command::kNewServer), 0,
     "directory of the proposed file names (default: the working directory)"},
    {"host", "H", kCreating, Bit(Command::kNewServer), "host name, the certificate's common name"},
    {"org", "O", kCreating, Bit(Command::kNewRoot), "organization"},
    {"country", "CC", kCreating, Bit(Command::kNewRoot), "two-letter country code"},
    {"cert", "F", kCreating | Bit(Command::kExportP12), 0, "certificate file to write (export-p12: to read)"},
    {"key", "F", Bit(Command::kNewRoot) | Bit(Command::kNewServer), 0, "key file to write"},
    {"password-file", "FILE", kCreating | Bit(Command::kExportKey) | Bit(Command::kExportP12) | Bit(Command::kChangePassword), 0,
     "read the key password from the first line of FILE (a new password\n"
     "counts as entered twice) instead of asking on the terminal"},
    {"root-password-file", "FILE",
     Bit(Command::kSelectRoot) | Bit(Command::kNewServer) | Bit(Command::kCreateServerCert) | Bit(Command::kCrl), 0,
     "read the root key password from the first line of FILE"},
    {"export-password-file", "FILE", Bit(Command::kExportKey) | Bit(Command::kExportP12), 0,
     "read the new export password from the first line of FILE"},
    {"unencrypted", nullptr, Bit(Command::kExportKey), 0, "write the private key unencrypted"},
    {"out", "F", Bit(Command::kExportCert) | Bit(Command::kExportKey) | Bit(Command::kExportP12) | Bit(Command::kCrl),
     Bit(Command::kExportCert) | Bit(Command::kExportKey) | Bit(Command::kExportP12) | Bit(Command::kCrl),
     "file to write (must not exist)", true},
    // export-p12 and change-password.
    {"name", "FRIENDLY", Bit(Command::kExportP12), 0, "friendly name of the key and certificate (default: KEYFILE's name)"},
    {"new-password-file", "FILE", Bit(Command::kChangePassword), 0,
     "read the new key password from the first line of FILE"},
    {"upgrade", nullptr, Bit(Command::kChangePassword), 0, "write a classic key file in the modern form"},
    {"filter", "crt|key|both|all", Bit(Command::kList), 0, "which files to list (default: crt)"},
    {"yes", nullptr, kCreating | Bit(Command::kRevoke), 0, "answer yes to every question"},
    {"no", nullptr, kCreating | Bit(Command::kRevoke), 0, "answer no to every question"},
    // The modern certificate profile.
    {"profile", "classic|modern", Bit(Command::kNewRoot), 0, "certificate profile of the new root (default: classic)"},
    {"key-bits", "N", Bit(Command::kNewRoot) | Bit(Command::kNewServer), 0,
     "key size under the modern profile: 2048 (default), 3072 or 4096"},
    {"san", "NAME", Bit(Command::kNewServer) | Bit(Command::kCreateServerCert), 0,
     "further DNS name or IP address of the server (repeatable;\nmodern profile)", false, true},
    {"days", "N", Bit(Command::kNewServer) | Bit(Command::kCreateServerCert) | Bit(Command::kCrl), 0,
     "validity in days: a certificate 1 to 7300 (default 825; modern\nprofile), a CRL 1 to 3650 (default 30)"},
    // Contents display (view, view-root).
    {"all", nullptr, Bit(Command::kView) | Bit(Command::kViewRoot), 0,
     "also show the algorithms, the key, the fingerprints and the extensions"},
    {"nss", "DIR", Bit(Command::kTrustRoot) | Bit(Command::kUntrustRoot), 0,
     "an NSS store (sql:DIR) to follow the system's trusted\ncertificates through the system trust module"},
    {"json", nullptr, Bit(Command::kView) | Bit(Command::kViewRoot) | Bit(Command::kIssued), 0,
     "print the contents and details as one JSON object (issued: one JSON\narray), for scripts"},
    // The register.
    {"expiring", "DAYS", Bit(Command::kIssued), 0, "only certificates not yet expired that expire within DAYS days"},
    {"revoked", nullptr, Bit(Command::kIssued), 0, "only revoked certificates"},
    {"serial", "HEX", Bit(Command::kRevoke), 0, "serial number (hexadecimal) of the certificate to revoke"},
    {"reason", "NAME", Bit(Command::kRevoke), 0, "revocation reason (default: unspecified)"},
    {"pem", nullptr, Bit(Command::kCrl), 0, "write the CRL as PEM (\"BEGIN X509 CRL\")"},
    {"help", nullptr, kEvery, 0, "show this help"},
};

const CommandEntry* FindCommand(const std::string& name) {
  for (const CommandEntry& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

const CommandEntry& EntryOf(Command id) {
  for (const CommandEntry& c : kCommands) {
    if (c.id == id) return c;
  }
  return kCommands[0];
}

const OptionEntry* FindOption(const std::string& name) {
  for (const OptionEntry& o : kOptions) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

std::string Pad(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

// |text| with every line after the first indented by |indent| spaces.
std::string Indent(const std::string& text, size_t indent) {
  std::string out;
  for (char ch : text) {
    out += ch;
    if (ch == '\n') out.append(indent, ' ');
  }
  return out;
}

std::string UsageLine(const CommandEntry& c) {
  std::string line = std::string("Usage: ") + kProgramName + " " + c.name;
  if (c.argument != nullptr) line += std::string(" ") + c.argument;
  for (const OptionEntry& o : kOptions) {
    if ((o.commands & Bit(c.id)) == 0 || std::string(o.name) == "help") continue;
    std::string item = std::string("--") + o.name;
    if (o.argument != nullptr) item += std::string(" ") + o.argument;
    line += (o.shownRequired & Bit(c.id)) != 0 ? " " + item : " [" + item + "]";
  }
  return line;
}

std::string UsageError(const std::string& problem, const std::string& helpFor) {
  std::string text = std::string(kProgramName) + ": " + problem + "\n";
  text += std::string("Try '") + kProgramName + (helpFor.empty() ? "" : " " + helpFor) + " --help'.\n";
  return text;
}

}  // namespace

bool NeedsCertificateCommands(Command command) {
  return command != Command::kNone && EntryOf(command).certificateCommands;
}

std::string ProgramHelp() {
  std::string text = std::string("Usage: ") + kProgramName + " COMMAND [ARGUMENT] [OPTIONS]\n";
  text += "       " + std::string(kProgramName) + " --help | --version\n\n";
  text += "The certificate utility's commands from a terminal or a script. Passwords are\n"
          "read from the terminal without echo, or from files named by the *-password-file\n"
          "options; never from the command line.\n\nCommands:\n";
  for (const CommandEntry& c : kCommands) text += "  " + Pad(c.name, 20) + c.summary + "\n";
  text += "\nExit status: 0 success, 1 the command failed, 2 usage error.\n";
  text += std::string("Run '") + kProgramName + " COMMAND --help' for the options of a command.\n";
  return text;
}

std::string CommandHelp(Command command) {
  const CommandEntry& c = EntryOf(command);
  std::string text = UsageLine(c) + "\n\n" + c.summary + ".\n" + c.description + "\n\nOptions:\n";
  for (const OptionEntry& o : kOptions) {
    if ((o.commands & Bit(c.id)) == 0) continue;
    std::string item = std::string("--") + o.name;
    if (o.argument != nullptr) item += std::string(" ") + o.argument;
    text += "  " + Pad(item, 28) + Indent(o.help, 30) + "\n";
  }
  return text;
}

ParseResult ParseCommandLine(int argc, const char* const* argv) {
  ParseResult result;
  if (argc < 2) {
    result.text = UsageError("no command given", "");
    return result;
  }
  const std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    result.outcome = ParseOutcome::kShowHelp;
    result.text = ProgramHelp();
    return result;
  }
  if (first == "--version") {
    result.outcome = ParseOutcome::kShowVersion;
    return result;
  }
  const CommandEntry* entry = FindCommand(first);
  if (entry == nullptr) {
    result.text = UsageError(first.rfind("-", 0) == 0 ? "unknown option '" + first + "'"
                                                      : "unknown command '" + first + "'",
                             "");
    return result;
  }
  Invocation& inv = result.invocation;
  inv.command = entry->id;
  inv.commandName = entry->name;
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      inv.arguments.push_back(arg);
      continue;
    }
    if (arg == "-h") {
      result.outcome = ParseOutcome::kShowHelp;
      result.text = CommandHelp(entry->id);
      return result;
    }
    if (arg.rfind("--", 0) != 0) {
      result.text = UsageError("unknown option '" + arg + "'", entry->name);
      return result;
    }
    std::string name = arg.substr(2);
    std::string value;
    bool inlineValue = false;
    const size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inlineValue = true;
    }
    const OptionEntry* option = FindOption(name);
    if (option == nullptr || (option->commands & Bit(entry->id)) == 0) {
      result.text = UsageError("unknown option '--" + name + "' for " + entry->name, entry->name);
      return result;
    }
    if (name == "help") {
      result.outcome = ParseOutcome::kShowHelp;
      result.text = CommandHelp(entry->id);
      return result;
    }
    if (option->argument == nullptr) {
      if (inlineValue) {
        result.text = UsageError("option '--" + name + "' takes no value", entry->name);
        return result;
      }
    } else if (!inlineValue) {
      if (i + 1 >= argc) {
        result.text = UsageError("option '--" + name + "' needs a value (" + option->argument + ")", entry->name);
        return result;
      }
      value = argv[++i];
    }
    if (option->repeatable) inv.lists[name].push_back(value);
    if (inv.values.count(name) != 0 && !option->repeatable) {
      result.text = UsageError("option '--" + name + "' given twice", entry->name);
      return result;
    }
    inv.values[name] = value;
  }
  // The positional argument.
  const size_t allowed = entry->argument == nullptr ? 0 : 1;
  if (inv.arguments.size() > allowed) {
    result.text = UsageError("unexpected argument '" + inv.arguments[allowed] + "'", entry->name);
    return result;
  }
  if (entry->argumentRequired && inv.arguments.empty()) {
    result.text = UsageError(std::string("missing argument ") + entry->argument, entry->name);
    return result;
  }
  // Options that must be there or go together.
  for (const OptionEntry& o : kOptions) {
    if (o.enforced && (o.shownRequired & Bit(entry->id)) != 0 && !inv.Has(o.name)) {
      result.text = UsageError(std::string("missing option --") + o.name + " " + o.argument, entry->name);
      return result;
    }
  }
  if (inv.Has("yes") && inv.Has("no")) {
    result.text = UsageError("options '--yes' and '--no' exclude each other", entry->name);
    return result;
  }
  if (inv.Has("unencrypted") && inv.Has("export-password-file")) {
    result.text = UsageError("options '--unencrypted' and '--export-password-file' exclude each other", entry->name);
    return result;
  }
  if (inv.Has("filter")) {
    const std::string f = inv.Get("filter");
    if (f != "crt" && f != "key" && f != "both" && f != "all") {
      result.text = UsageError("bad value '" + f + "' for --filter (crt, key, both or all)", entry->name);
      return result;
    }
  }
  // Values of the modern profile's options: their form here, their ranges
  // in the commands (a number out of range is the command's failure).
  if (inv.Has("profile") && inv.Get("profile") != "classic" && inv.Get("profile") != "modern") {
    result.text = UsageError("bad value '" + inv.Get("profile") + "' for --profile (classic or modern)", entry->name);
    return result;
  }
  if (entry->id == Command::kRevoke && inv.arguments.empty() == !inv.Has("serial")) {
    result.text = UsageError("give either CERT or --serial HEX", entry->name);
    return result;
  }
  for (const char* numberOption : {"key-bits", "days", "expiring"}) {
    const std::string v = inv.Get(numberOption);
    if (inv.Has(numberOption) &&
        (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos)) {
      result.text = UsageError("bad value '" + v + "' for --" + numberOption + " (a number)", entry->name);
      return result;
    }
  }
  for (const char* pathOption : {"dir", "cert", "key", "out", "password-file", "root-password-file",
                                 "export-password-file", "new-password-file", "name", "nss", "serial", "reason"}) {
    if (inv.Has(pathOption) && inv.Get(pathOption).empty()) {
      result.text = UsageError(std::string("option '--") + pathOption + "' needs a value", entry->name);
      return result;
    }
  }
  result.outcome = ParseOutcome::kRun;
  return result;
}

}  // namespace kvcli
