// The Qt views of the program's dialogs. A view shows the fields of its
// logic class (app/), passes the user's edits and presses to the logic's
// handlers and shows the result; it decides nothing itself.
//
// Every control carries its dialog-template id as its object name (the id in
// decimal, e.g. "1028") and in the property "kvControlId"; help topics and
// tests find controls by it. A label carries the id of the control it names.
#ifndef KVCATOOL_GUI_VIEWS_H
#define KVCATOOL_GUI_VIEWS_H

#include <QDialog>
#include <QList>
#include <QString>
#include <map>
#include <string>

#include "app/cert_details_dialog.h"
#include "app/main_dialog.h"
#include "app/ui.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace kvapp {
struct CertContentsFields;
}

namespace kvgui {

class QtUserInterface;

inline constexpr const char* kControlIdProperty = "kvControlId";
// Standard dialog buttons.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
// Help topics of whole dialogs: 0x20000 + template id.
inline constexpr uint32_t kDialogHelpBase = 0x20000;

void SetControlId(QWidget* widget, int id);
// The id of |widget| or of the nearest ancestor that has one; -1 for none.
int ControlIdOf(const QWidget* widget);
// The control with |id| under |root|, or null.
QWidget* FindControl(const QWidget* root, int id);
// Holds |edit| to |maxChars| characters counted as the logic counts them
// (UTF-8 code points, so a character outside the BMP counts once): an edit
// or paste that would go over is refused whole. Called again it changes the
// limit.
void LimitCharacters(QLineEdit* edit, size_t maxChars);

// A dialog whose controls answer F1, What's This and the context menu with
// help topics.
class ControlDialog : public QDialog {
  Q_OBJECT
 public:
  ControlDialog(QtUserInterface& ui, int templateId, QWidget* parent);
  int templateId() const { return templateId_; }
  // Help for control |id| (F1 or What's This); -1: the dialog's own topic.
  virtual void ContextHelp(int id);
  // A right-button click: the logic's context-menu help by default.
  virtual void ContextMenuHelp();
  // Extra entries of the context menu (the main dialog's About).
  virtual QList<QAction*> ContextActions() { return {}; }

 protected:
  // Call at the end of construction: routes help events of every control.
  void WatchControls();
  bool eventFilter(QObject* watched, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  QtUserInterface& ui_;

 private:
  int templateId_;
};

// Dialog 102, the program's main window.
class MainDialogView : public ControlDialog {
  Q_OBJECT
 public:
  MainDialogView(kvapp::MainDialog& logic, QtUserInterface& ui, QWidget* parent = nullptr);
  ~MainDialogView() override;
  // Opens the dialog: the logic's opening, the window shown, then (once the
  // window is on screen) what the opening posted.
  void Open();
  // Shows the logic's controls.
  void Refresh();
  kvapp::MainDialog& logic() { return logic_; }
  void ContextHelp(int id) override;
  void ContextMenuHelp() override;
  QList<QAction*> ContextActions() override;
  QPushButton* button(int id) const;
  QComboBox* directoryCombo() const { return directory_; }
  QComboBox* filterCombo() const { return filter_; }
  QListWidget* fileList() const { return files_; }
  QLineEdit* rootCertField() const { return rootCert_; }
  QLabel* expiryLine() const { return expiry_; }
  bool postedMessagesRun() const { return postedRun_; }

 public slots:
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Copies the widgets' state into the logic's controls.
  void Sync();
  // Runs |event| on the logic between Sync and Refresh.
  template <typename F>
  void Dispatch(F event);
  void RunPosted(int attempt);
  // Opens the Export menu below its button; the chosen entry runs through
  // the logic.
  void OpenExportMenu();

  kvapp::MainDialog& logic_;
  QLineEdit* rootCert_;
  QLabel* expiry_;
  QComboBox* directory_;
  QComboBox* filter_;
  QListWidget* files_;
  std::map<int, QPushButton*> buttons_;
  QAction* about_;
  bool refreshing_ = false;
  bool postedRun_ = false;
};

// Template 136: names, files and password of a new certificate.
class CertDetailsView : public ControlDialog {
  Q_OBJECT
 public:
  CertDetailsView(kvapp::CertDetailsDialog& logic, QtUserInterface& ui, QWidget* parent);
  ~CertDetailsView() override;
  void Refresh();
  QLineEdit* field(int id) const;
  QPushButton* button(int id) const;
  QRadioButton* profileButton(int id) const;
  QComboBox* keySizeCombo() const { return keySize_; }
  QPlainTextEdit* furtherNamesField() const { return furtherNames_; }
  void ContextHelp(int id) override;
  void ContextMenuHelp() override;

 private:
  void Edited(int id, const QString& text);
  void Chosen(int id, int index);
  void PressOk();
  // The profile's choice: two radio buttons, each with its line of text.
  QWidget* MakeProfilePanel();

  kvapp::CertDetailsDialog& logic_;
  std::map<int, QLineEdit*> fields_;
  std::map<int, QPushButton*> buttons_;
  // Every control's widgets that come and go with it (label, buttons).
  std::multimap<int, QWidget*> rowWidgets_;
  std::map<int, QRadioButton*> profileButtons_;
  QWidget* profilePanel_ = nullptr;
  QComboBox* keySize_ = nullptr;
  QPlainTextEdit* furtherNames_ = nullptr;
  bool refreshing_ = false;
};

// Template 135: the six fields of a certificate.
class CertContentsView : public ControlDialog {
  Q_OBJECT
 public:
  CertContentsView(const kvapp::CertContentsFields& fields, QtUserInterface& ui, QWidget* parent);
};

// Template 134: the root key password prompt.
class RootPasswordView : public ControlDialog {
  Q_OBJECT
 public:
  // The entry takes at most |maxChars| characters (16 for a classic root
  // key file, 64 for a modern one).
  RootPasswordView(QtUserInterface& ui, QWidget* parent, size_t maxChars = kvapp::kRootPasswordMaxChars);
  ~RootPasswordView() override;
  QLineEdit* passwordField() const { return password_; }

 private:
  QLineEdit* password_;
};

// Template 142: a password prompt of the key commands: one hidden entry
// (1021), or with |confirm| a second one for the confirmation (1022), each
// held to the request's limit. The fields are emptied when it goes.
class KeyPasswordView : public ControlDialog {
  Q_OBJECT
 public:
  KeyPasswordView(const kvapp::PasswordRequest& request, bool confirm, QtUserInterface& ui, QWidget* parent);
  ~KeyPasswordView() override;
  QLineEdit* passwordField() const { return password_; }
  QLineEdit* confirmField() const { return confirm_; }  // null without a confirmation

 private:
  QLineEdit* password_;
  QLineEdit* confirm_ = nullptr;
};

// Template 100: the About box.
class AboutView : public ControlDialog {
  Q_OBJECT
 public:
  AboutView(const QString& productLine, QtUserInterface& ui, QWidget* parent);
};

// Template 141: a modeless window without caption text or buttons, centred
// on the screen, with the icon and one line of text.
class ProgressWindow : public QWidget {
  Q_OBJECT
 public:
  explicit ProgressWindow(const QString& text, QWidget* parent);
  // Shows the window and waits (briefly) until it has been painted, so that
  // it is on screen before the blocking work starts.
  void ShowPainted();
  int paintCount() const { return paintCount_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int paintCount_ = 0;
};

}  // namespace kvgui

#endif
