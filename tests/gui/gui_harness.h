// What the desktop program's tests share: a runner that answers modal
// dialogs and menus by driving the real widgets (never blocking), a
// temporary working directory with its own settings file, and screenshots.
#ifndef KVCATOOL_TESTS_GUI_GUI_HARNESS_H
#define KVCATOOL_TESTS_GUI_GUI_HARNESS_H

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/context.h"
#include "gui/qt_ui.h"
#include "gui/views.h"
#include "platform/file_system.h"
#include "platform/settings_store.h"

class QAbstractButton;

namespace guitest {

// One modal window as the runner saw it.
struct Shown {
  QString name;   // object name: "errorBox", "dialog136", ...
  QString title;  // window title
  QString text;   // a message box's text
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class ScriptedRunner : public kvgui::ModalRunner {
 public:
  using Handler = std::function<void(QDialog&)>;
  using MenuHandler = std::function<QAction*(QMenu&)>;
  std::deque<Handler> handlers;
  std::deque<MenuHandler> menuHandlers;
  std::vector<Shown> shown;
  int unanswered = 0;

  // Shows |dialog| (not modally), hands it to the next handler and returns
  // its result; a dialog still open afterwards is cancelled.
  int Exec(QDialog& dialog) override;
  // The next menu handler picks an action, which is then triggered.
  QAction* ExecMenu(QMenu& menu, const QPoint& globalPos) override;
  // The message boxes seen, in order.
  std::vector<Shown> Boxes() const;
};

// A file system whose working directory is fixed.
class FixedDirFileSystem : public kvplatform::PosixFileSystem {
 public:
  std::string workingDirectory;
  std::string WorkingDirectory() override { return workingDirectory; }
};

// A temporary directory as the working directory, its own settings file, the
// scripted runner and a Qt front end over them.
struct Bench {
  Bench();
  QString Path(const QString& name) const { return dir.filePath(name); }
  std::string PathStd(const QString& name) const { return Path(name).toStdString(); }
  void WriteFile(const QString& name, const QByteArray& contents = "x") const;

  QTemporaryDir dir;
  FixedDirFileSystem files;
  std::unique_ptr<kvplatform::FileSettingsStore> settings;
  ScriptedRunner runner;
  std::unique_ptr<kvgui::QtUserInterface> ui;
  std::unique_ptr<kvapp::AppContext> context;
};

// Drops the offscreen platform's notes about window-system features it does
// not have (raise, keyboard grabs, size hints); other messages pass.
void QuietOffscreenNotes();
// Saves a picture of |widget| as <name>.png in the screenshot directory.
void Snap(QWidget& widget, const QString& name);
// Clicks the control with |id| of |root| with the mouse.
void ClickControl(QWidget& root, int id);
// Clicks |button| of a message box.
void ClickBox(QDialog& dialog, QMessageBox::StandardButton button);
// A handler that answers a message box with |button|.
ScriptedRunner::Handler Answer(QMessageBox::StandardButton button = QMessageBox::Ok);
// A handler that types |password| into the root password prompt and presses
// OK (or Cancel when |cancel|).
ScriptedRunner::Handler TypeRootPassword(const QString& password, bool cancel = false);
// A handler for the save-as chooser: checks that it proposes |proposed|,
// types the name of |path| into its file name field and saves.
ScriptedRunner::Handler SaveAs(const QString& proposed, const QString& path);
// A handler for the password dialog of the key commands with |title|: types
// |password| (and, when the dialog has one, the same confirmation), saves a
// screenshot as |snapName| when given and presses OK, or Cancel when
// |cancel|.
ScriptedRunner::Handler TypePassword(const QString& title, const QString& password, bool cancel = false,
                                     const QString& snapName = QString());
// Types |text| into the line edit with |id| of |root| as a user does (the
// field is emptied first with the keyboard).
void TypeInto(QWidget& root, int id, const QString& text);
// Clicks the file-list row showing |name|; false when it is not listed.
bool ClickFile(QWidget& mainView, const QString& name);

// Handlers for the register's choosers: the item chooser set to |item| and
// confirmed, the number prompt set to |value| and confirmed, the save
// chooser given the file |path|, the directory chooser walked into |dir|.
// Each checks that it got the window it expects.
ScriptedRunner::Handler ChooseListItem(const QString& item);
ScriptedRunner::Handler EnterNumber(int value);
ScriptedRunner::Handler SaveAs(const QString& path);
ScriptedRunner::Handler PickDirectory(const QString& dir);

}  // namespace guitest

#endif
