// kvcatool-cli: the certificate utility's commands from a terminal or a
// script.
#include <cstdio>

#include "app/main_dialog.h"
#include "cli/cli_options.h"
#include "cli/cli_session.h"

int main(int argc, char** argv) {
  const kvcli::ParseResult parsed = kvcli::ParseCommandLine(argc, argv);
  switch (parsed.outcome) {
    case kvcli::ParseOutcome::kShowHelp:
      std::fputs(parsed.text.c_str(), stdout);
      return kvcli::kExitSuccess;
    case kvcli::ParseOutcome::kShowVersion:
      std::printf("%s\n", kvapp::AboutProductLine().c_str());
      return kvcli::kExitSuccess;
    case kvcli::ParseOutcome::kUsageError:
      std::fputs(parsed.text.c_str(), stderr);
      return kvcli::kExitUsage;
    case kvcli::ParseOutcome::kRun:
      break;
  }
  return kvcli::RunInvocation(parsed.invocation, stdout, stderr);
}
