#include "app/cert_utility_app.h"

namespace kvapp {

CertUtilityApp::CertUtilityApp(AppContext& context, kvplatform::AdministratorTest& administrator,
                               CommandsFactory commands)
    : context_(context), administrator_(administrator), commands_(std::move(commands)) {}

int CertUtilityApp::Run() {
  if (!administrator_.IsUserAdministrator()) {
    context_.Error(FormatText(LoadString(2037), LoadString(102)));
    return 1;
  }
  MainDialog dialog(context_);
  std::unique_ptr<MainCommands> commands;
  if (commands_) commands = commands_(dialog);
  dialog.SetCommands(commands.get());
  context_.ui.RunMainDialog(dialog);
  return 0;
}

}  // namespace kvapp
