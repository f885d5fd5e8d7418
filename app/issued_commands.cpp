// The main dialog's register commands: the Issued Certificates dialog and
// the expiry line under the root.
#include "app/cert_commands.h"
#include "app/issued_dialog.h"
#include "platform/clock.h"

namespace kvapp {

CommandOutcome CertCommands::IssuedCertificates() {
  if (main_.rootSelected() == 0) return CommandOutcome::kNotRun;
  IssuedDialog dialog(main_);
  context_.ui.RunIssuedDialog(dialog);
  return CommandOutcome::kSucceeded;
}

bool CertCommands::RootExpiryLine(std::string& line) {
  if (main_.rootSelected() == 0) return false;
  return ExistingRegisterExpiryLine(context_, main_.rootCertPath(), kvplatform::CalendarSeconds(), line);
}

}  // namespace kvapp
