// The Qt implementation of the application's UserInterface: message boxes,
// prompts, file dialogs, the progress window, the busy pointer, help and the
// dialogs of app/, all as Qt Widgets.
//
// Every modal dialog and menu goes through a ModalRunner. The program's
// runner calls exec(); tests put in a runner that drives the real dialog
// (types into it, presses its buttons) without blocking the run.
#ifndef KVCATOOL_GUI_QT_UI_H
#define KVCATOOL_GUI_QT_UI_H

#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

#include "app/ui.h"
#include "gui/help.h"

class QAction;
class QDialog;
class QFileDialog;
class QMenu;
class QTextBrowser;

namespace kvgui {

class ControlDialog;
class ProgressWindow;

class ModalRunner {
 public:
  virtual ~ModalRunner() = default;
  // Runs |dialog| modally; its result (QDialog::Accepted, a QMessageBox
  // button, ...).
  virtual int Exec(QDialog& dialog) = 0;
  // Shows |menu| at |globalPos|; the chosen action or null.
  virtual QAction* ExecMenu(QMenu& menu, const QPoint& globalPos) = 0;
};

// The program's runner: QDialog::exec and QMenu::exec.
class BlockingModalRunner : public ModalRunner {
 public:
  int Exec(QDialog& dialog) override;
  QAction* ExecMenu(QMenu& menu, const QPoint& globalPos) override;
};

// Object names of the windows this front end makes, for tests and styling.
inline constexpr const char* kErrorBoxName = "errorBox";
inline constexpr const char* kMessageBoxName = "messageBox";
inline constexpr const char* kQuestionBoxName = "questionBox";
inline constexpr const char* kOpenDialogName = "openFileDialog";
inline constexpr const char* kDirectoryDialogName = "directoryDialog";
inline constexpr const char* kSaveDialogName = "saveFileDialog";
inline constexpr const char* kHelpWindowName = "helpWindow";
inline constexpr const char* kWhatsThisActionName = "whatsThisAction";
inline constexpr const char* kAboutActionName = "aboutAction";
inline constexpr const char* kItemDialogName = "itemDialog";
inline constexpr const char* kNumberDialogName = "numberDialog";

class QtUserInterface : public kvapp::UserInterface {
 public:
  // |runner| must outlive the interface. |helpPath| names the help document
  // (empty: HelpDocument::DefaultPath()).
  explicit QtUserInterface(ModalRunner& runner, const QString& helpPath = QString());
  ~QtUserInterface() override;

  void ShowError(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  bool AskRootPassword(std::string& password) override;
  bool ChooseFileToOpen(const std::string& filter, const std::string& initialName, std::string& path) override;
  bool ChooseDirectory(const std::string& filter, const std::string& initialName, std::string& path) override;
  void ShowProgress(const std::string& text) override;
  void HideProgress() override;
  void SetBusyPointer(bool busy) override;
  void WriteOutputLine(const std::string& line) override;
  void ShowHelp(kvapp::HelpCommand command, uint32_t context,
                const std::vector<std::pair<uint32_t, uint32_t>>& menuTable) override;
  void RunMainDialog(kvapp::MainDialog& dialog) override;
  bool RunCertDetailsDialog(kvapp::CertDetailsDialog& dialog) override;
  void ShowCertContents(const kvapp::CertContentsFields& fields) override;
  void ShowAbout(const std::string& productLine) override;
  bool AskRootPasswordUpTo(size_t maxChars, std::string& password) override;
  void RunIssuedDialog(kvapp::IssuedDialog& dialog) override;
  bool ChooseItem(const std::string& title, const std::string& prompt, const std::vector<std::string>& items,
                  int& index) override;
  bool AskNumber(const std::string& title, const std::string& prompt, int minimum, int maximum, int& value) override;
  bool ChooseFileToSave(const std::string& caption, const std::string& filter, const std::string& initialName,
                        std::string& path) override;
  bool AskPassword(const kvapp::PasswordRequest& request, std::string& password) override;
  bool AskNewPassword(const kvapp::PasswordRequest& request, std::string& password, std::string& confirm) override;

  // The window new dialogs are centred on (the main dialog once it runs).
  void SetMainWindow(QWidget* window) { mainWindow_ = window; }
  // The dialog and the point of a context-menu request, set by the dialog
  // before it passes the request to its logic.
  void SetContextMenuOrigin(ControlDialog* dialog, const QPoint& globalPos);

  const HelpDocument& help() const { return help_; }
  ModalRunner& runner() { return runner_; }
  // What help showed last: its command and context number (0 before any).
  kvapp::HelpCommand lastHelpCommand() const { return lastHelpCommand_; }
  uint32_t lastHelpContext() const { return lastHelpContext_; }
  QString lastHelpText() const { return lastHelpText_; }
  QTextBrowser* helpWindow() const;
  ProgressWindow* progressWindow() const;
  int busyDepth() const { return busyDepth_; }
  // Whether the last progress window had been painted when ShowProgress
  // returned, that is before the blocking work began.
  bool progressPaintedBeforeWork() const { return progressPainted_; }

 private:
  QWidget* DialogParent() const;
  int MessageBox(const char* objectName, const std::string& text, bool stopIcon, bool question);
  void ShowHelpWindow(uint32_t context);
  void ShowPopup(uint32_t context);
  QString TopicText(uint32_t context) const;
  // Runs a file chooser modally: the first chosen path, or false when it was
  // cancelled or nothing was chosen.
  bool RunFileChooser(QFileDialog& dialog, std::string& chosen);

  ModalRunner& runner_;
  HelpDocument help_;
  QPointer<QWidget> mainWindow_;
  QPointer<QTextBrowser> helpWindow_;
  QPointer<ProgressWindow> progress_;
  QPointer<ControlDialog> menuOrigin_;
  QPoint menuPos_;
  int busyDepth_ = 0;
  bool progressPainted_ = false;
  kvapp::HelpCommand lastHelpCommand_ = kvapp::HelpCommand::kQuit;
  uint32_t lastHelpContext_ = 0;
  QString lastHelpText_;
};

// "Name|pattern;pattern|Name|pattern|" as Qt name filters: each name with
// its patterns in parentheses ("*.*" becomes "*", which Qt matches against
// every name as the platform's "*.*" does).
QStringList NameFiltersFromTable(const std::string& filter);

}  // namespace kvgui

#endif
