// The command line of kvcatool-cli: one table of subcommands and one table of
// options, from which both the parser and the --help texts are made.
#ifndef KVCATOOL_CLI_CLI_OPTIONS_H
#define KVCATOOL_CLI_CLI_OPTIONS_H

#include <map>
#include <string>
#include <vector>

namespace kvcli {

enum class Command {
  kNone,
  kNewRoot,
  kSelectRoot,
  kViewRoot,
  kNewServer,
  kCreateServerCert,
  kView,
  kVerify,
  kList,
  kStatus,
  kExportCert,
  kExportKey,
  kExportP12,
  kChangePassword,
  // The issued-certificate register.
  kIssued,
  kRegisterExisting,
  kRevoke,
  kCrl,
};

// One parsed command line.
struct Invocation {
  Command command = Command::kNone;
  std::string commandName;
  std::vector<std::string> arguments;         // positional arguments
  std::map<std::string, std::string> values;  // option name (without "--") to value; "" for a flag
  // Every value of a repeatable option (--san), in the order given.
  std::map<std::string, std::vector<std::string>> lists;

  bool Has(const std::string& name) const { return values.count(name) != 0; }
  std::vector<std::string> All(const std::string& name) const {
    auto it = lists.find(name);
    return it == lists.end() ? std::vector<std::string>() : it->second;
  }
  std::string Get(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
  }
};

// What the parser decided.
enum class ParseOutcome {
  kRun,          // run |invocation|
  kShowHelp,     // print |text| (the program's or a subcommand's help) and exit 0
  kShowVersion,  // print the product line and exit 0
  kUsageError,   // print |text| to standard error and exit 2
};

struct ParseResult {
  ParseOutcome outcome = ParseOutcome::kUsageError;
  Invocation invocation;
  std::string text;
};

// Parses argv[1..argc-1]. Options may come before or after the positional
// arguments, as "--name value" or "--name=value"; "--" ends the options.
ParseResult ParseCommandLine(int argc, const char* const* argv);

// The help texts.
std::string ProgramHelp();
std::string CommandHelp(Command command);

// True for the subcommands that need the certificate commands of the
// application (left out of builds without them).
bool NeedsCertificateCommands(Command command);

// The name of the program as it names itself in messages.
constexpr const char* kProgramName = "kvcatool-cli";

}  // namespace kvcli

#endif
