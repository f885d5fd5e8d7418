// kvcatool: the certificate utility as a Qt desktop program.
#include <QApplication>
#include <cstdio>

#include "app/cert_utility_app.h"
#include "app/context.h"
#include "gui/app_icon.h"
#include "gui/qt_ui.h"
#include "platform/administrator.h"
#include "platform/file_system.h"
#include "platform/settings_store.h"
#ifdef KVAPP_CERT_COMMANDS
#include "app/cert_commands.h"
#endif

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kvcatool"));
  QApplication::setDesktopFileName(QStringLiteral("kvcatool"));
  QApplication::setWindowIcon(kvgui::AppIcon());

  kvplatform::PosixFileSystem files;
  kvplatform::SettingsWithUserFallback settings(kvplatform::FileSettingsStore::DefaultPath(),
                                              kvplatform::UserSettingsPath());
  kvplatform::SystemAdministratorTest administrator;
  kvgui::BlockingModalRunner runner;
  kvgui::QtUserInterface ui(runner);
  kvapp::AppContext context{ui, files, settings};

  kvapp::CertUtilityApp::CommandsFactory commands;
#ifdef KVAPP_CERT_COMMANDS
  commands = kvapp::MakeCertCommands;
#else
  std::fprintf(stderr,
               "kvcatool: this build has no certificate commands yet (CMake option KVAPP_CERT_COMMANDS is off); "
               "the command buttons do nothing.\n");
#endif
  kvapp::CertUtilityApp utility(context, administrator, commands);
  return utility.Run();
}
