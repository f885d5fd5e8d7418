// One run of kvcatool-cli: the program's start-up (administrator test, main
// dialog, remembered root), then one subcommand through the application's
// own dialogs and commands.
#ifndef KVCATOOL_CLI_CLI_SESSION_H
#define KVCATOOL_CLI_CLI_SESSION_H

#include <cstdio>

#include "cli/cli_options.h"

namespace kvcli {

// Exit statuses.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// True when this build holds the certificate commands.
bool CertificateCommandsBuilt();

// Runs |invocation|; messages go to |out| and |err|. Returns the exit status.
int RunInvocation(const Invocation& invocation, std::FILE* out, std::FILE* err);

}  // namespace kvcli

#endif
