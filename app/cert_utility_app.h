// The application object: start-up with the administrator test, then the
// main dialog for as long as the program runs.
#ifndef KVCATOOL_APP_CERT_UTILITY_APP_H
#define KVCATOOL_APP_CERT_UTILITY_APP_H

#include <functional>
#include <memory>

#include "app/context.h"
#include "app/main_dialog.h"
#include "platform/administrator.h"

namespace kvapp {

class CertUtilityApp {
 public:
  // Makes the command routines for a main dialog; may give null (the buttons
  // then do nothing).
  using CommandsFactory = std::function<std::unique_ptr<MainCommands>(MainDialog&)>;

  CertUtilityApp(AppContext& context, kvplatform::AdministratorTest& administrator, CommandsFactory commands);

  // Start-up: refuses a user who is not an administrator (message 2037),
  // otherwise runs the main dialog through the front end until it ends.
  // Returns 0 when the dialog ran, 1 when the user was refused.
  int Run();

 private:
  AppContext& context_;
  kvplatform::AdministratorTest& administrator_;
  CommandsFactory commands_;
};

}  // namespace kvapp

#endif
