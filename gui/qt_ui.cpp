#include "gui/qt_ui.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTextBrowser>
#include <QWhatsThis>
#include <cstdio>

#include "app/cert_contents.h"
#include "app/cert_details_dialog.h"
#include "app/main_dialog.h"
#include "app/strings.h"
#ifdef KVAPP_CERT_COMMANDS
#include "gui/issued_view.h"
#endif
#include "gui/views.h"

namespace kvgui {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

int BlockingModalRunner::Exec(QDialog& dialog) { return dialog.exec(); }

QAction* BlockingModalRunner::ExecMenu(QMenu& menu, const QPoint& globalPos) { return menu.exec(globalPos); }

QStringList NameFiltersFromTable(const std::string& filter) {
  QStringList parts = Text(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i].trimmed();
    if (name.isEmpty()) continue;
    // The name shows its patterns in parentheses already; Qt reads the
    // patterns from there, so they are replaced by the real ones.
    const qsizetype open = name.lastIndexOf(QLatin1Char('('));
    if (open > 0 && name.endsWith(QLatin1Char(')'))) name = name.left(open).trimmed();
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      patterns << (p.trimmed() == QStringLiteral("*.*") ? QStringLiteral("*") : p.trimmed());
    }
    if (patterns.isEmpty()) continue;
    filters << name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return filters;
}

QtUserInterface::QtUserInterface(ModalRunner& runner, const QString& helpPath) : runner_(runner) {
  help_.Load(helpPath.isEmpty() ? HelpDocument::DefaultPath() : helpPath);
}

QtUserInterface::~QtUserInterface() {
  HideProgress();
  delete helpWindow_.data();
  while (busyDepth_ > 0) SetBusyPointer(false);
}

QWidget* QtUserInterface::DialogParent() const {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return mainWindow_.data();
}

bool QtUserInterface::RunFileChooser(QFileDialog& dialog, std::string& chosen) {
  runner_.Exec(dialog);
  if (dialog.result() != QDialog::Accepted) return false;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return false;
  chosen = files.first().toStdString();
  return true;
}

int QtUserInterface::MessageBox(const char* objectName, const std::string& text, bool stopIcon, bool question) {
  QMessageBox box(DialogParent());
  box.setObjectName(QString::fromLatin1(objectName));
  box.setWindowTitle(QString::fromUtf8(kvapp::LoadString(kvapp::kMessageCaptionId)));
  box.setIcon(stopIcon ? QMessageBox::Critical : QMessageBox::NoIcon);
  // Plain text: messages such as "Key File <%s> already exists" are not markup.
  box.setTextFormat(Qt::PlainText);
  box.setText(Text(text));
  if (question) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  runner_.Exec(box);
  QAbstractButton* clicked = box.clickedButton();
  return clicked == nullptr ? QMessageBox::NoButton : box.standardButton(clicked);
}

void QtUserInterface::ShowError(const std::string& text) { MessageBox(kErrorBoxName, text, true, false); }

void QtUserInterface::ShowMessage(const std::string& text) { MessageBox(kMessageBoxName, text, false, false); }

bool QtUserInterface::AskYesNo(const std::string& text) {
  return MessageBox(kQuestionBoxName, text, false, true) == QMessageBox::Yes;
}

bool QtUserInterface::AskRootPassword(std::string& password) {
  return AskRootPasswordUpTo(kvapp::kRootPasswordMaxChars, password);
}

bool QtUserInterface::AskRootPasswordUpTo(size_t maxChars, std::string& password) {
  kvapp::WipeString(password);
  RootPasswordView dialog(*this, DialogParent(), maxChars);
  runner_.Exec(dialog);
  if (dialog.result() != QDialog::Accepted) return false;
  password = dialog.passwordField()->text().toStdString();
  return true;
}

bool QtUserInterface::ChooseFileToOpen(const std::string& filter, const std::string& initialName,
                                       std::string& path) {
  QFileDialog dialog(DialogParent(), QStringLiteral("Open"));
  dialog.setObjectName(kOpenDialogName);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(NameFiltersFromTable(filter));
  dialog.setDirectory(QDir::currentPath());
  dialog.selectFile(Text(initialName));
  return RunFileChooser(dialog, path);
}

bool QtUserInterface::ChooseDirectory(const std::string& filter, const std::string& initialName,
                                      std::string& path) {
  // A directory picker that still lists the files of the filter, so that the
  // user sees what a directory holds.
  QFileDialog dialog(DialogParent(), QStringLiteral("Open"));
  dialog.setObjectName(kDirectoryDialogName);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setNameFilters(NameFiltersFromTable(filter));
  dialog.setDirectory(QDir::currentPath());
  std::string directory;
  if (!RunFileChooser(dialog, directory)) return false;
  path = kvapp::WithTrailingSlash(directory) + initialName;
  return true;
}

bool QtUserInterface::ChooseFileToSave(const std::string& caption, const std::string& filter,
                                       const std::string& initialName, std::string& path) {
  QFileDialog dialog(DialogParent(), Text(caption));
  dialog.setObjectName(kSaveDialogName);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  // The command refuses an existing file itself, with its own message.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(NameFiltersFromTable(filter));
  const QFileInfo proposed(Text(initialName));
  dialog.setDirectory(proposed.path().isEmpty() ? QDir::currentPath() : proposed.path());
  dialog.selectFile(proposed.fileName());
  return RunFileChooser(dialog, path);
}

bool QtUserInterface::AskPassword(const kvapp::PasswordRequest& request, std::string& password) {
  kvapp::WipeString(password);
  KeyPasswordView dialog(request, false, *this, DialogParent());
  runner_.Exec(dialog);
  if (dialog.result() != QDialog::Accepted) return false;
  password = dialog.passwordField()->text().toStdString();
  return true;
}

bool QtUserInterface::AskNewPassword(const kvapp::PasswordRequest& request, std::string& password,
                                     std::string& confirm) {
  kvapp::WipeString(password);
  kvapp::WipeString(confirm);
  KeyPasswordView dialog(request, true, *this, DialogParent());
  runner_.Exec(dialog);
  if (dialog.result() != QDialog::Accepted) return false;
  password = dialog.passwordField()->text().toStdString();
  confirm = dialog.confirmField()->text().toStdString();
  return true;
}

void QtUserInterface::ShowProgress(const std::string& text) {
  HideProgress();
  progress_ = new ProgressWindow(Text(text), mainWindow_.data());
  progress_->ShowPainted();
  progressPainted_ = progress_->paintCount() > 0;
}

void QtUserInterface::HideProgress() {
  if (progress_ == nullptr) return;
  progress_->hide();
  delete progress_.data();
}

ProgressWindow* QtUserInterface::progressWindow() const { return progress_.data(); }

void QtUserInterface::SetBusyPointer(bool busy) {
  if (busy) {
    ++busyDepth_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (busyDepth_ > 0) {
    --busyDepth_;
    QApplication::restoreOverrideCursor();
  }
  // The blocking work follows at once: let the pointer change reach the screen.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void QtUserInterface::WriteOutputLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

QString QtUserInterface::TopicText(uint32_t context) const {
  if (const HelpTopic* topic = help_.Find(context)) return TopicHtml(*topic);
  return QStringLiteral("<p>No help topic 0x%1 in the help document %2.</p>")
      .arg(context, 0, 16)
      .arg(help_.path().isEmpty() ? QStringLiteral("(none)") : help_.path().toHtmlEscaped());
}

void QtUserInterface::ShowHelp(kvapp::HelpCommand command, uint32_t context,
                               const std::vector<std::pair<uint32_t, uint32_t>>& menuTable) {
  lastHelpCommand_ = command;
  lastHelpContext_ = context;
  switch (command) {
    case kvapp::HelpCommand::kContext:
      ShowHelpWindow(context);
      break;
    case kvapp::HelpCommand::kContextPopup:
      ShowPopup(context);
      break;
    case kvapp::HelpCommand::kContextMenu: {
      ControlDialog* origin = menuOrigin_.data();
      if (origin == nullptr) break;
      QWidget* under = origin->childAt(origin->mapFromGlobal(menuPos_));
      const int id = under != nullptr ? ControlIdOf(under) : -1;
      bool listed = false;
      for (const auto& [controlId, topic] : menuTable) {
        if (id > 0 && controlId == static_cast<uint32_t>(id) && topic != 0) listed = true;
      }
      QMenu menu(origin);
      QAction* whatsThis = menu.addAction(QStringLiteral("What's This?"));
      whatsThis->setObjectName(kWhatsThisActionName);
      whatsThis->setEnabled(listed);
      const QList<QAction*> extra = origin->ContextActions();
      if (!extra.isEmpty()) {
        menu.addSeparator();
        menu.addActions(extra);
      }
      if (runner_.ExecMenu(menu, menuPos_) == whatsThis && listed) origin->ContextHelp(id);
      break;
    }
    case kvapp::HelpCommand::kQuit:
      QWhatsThis::hideText();
      if (helpWindow_ != nullptr) helpWindow_->close();
      break;
  }
}

void QtUserInterface::ShowHelpWindow(uint32_t context) {
  if (helpWindow_ == nullptr) {
    helpWindow_ = new QTextBrowser;
    helpWindow_->setObjectName(kHelpWindowName);
    helpWindow_->setAttribute(Qt::WA_DeleteOnClose);
    helpWindow_->setWindowFlag(Qt::Window);
    helpWindow_->resize(460, 380);
  }
  const HelpTopic* topic = help_.Find(context);
  helpWindow_->setWindowTitle(topic != nullptr ? topic->title : QStringLiteral("Help"));
  lastHelpText_ = TopicText(context);
  helpWindow_->setHtml(lastHelpText_);
  helpWindow_->show();
  helpWindow_->raise();
  helpWindow_->activateWindow();
}

QTextBrowser* QtUserInterface::helpWindow() const { return helpWindow_.data(); }

void QtUserInterface::ShowPopup(uint32_t context) {
  lastHelpText_ = TopicText(context);
  const int id = static_cast<int>(context - kvapp::kControlHelpBase);
  QWidget* control = nullptr;
  for (QWidget* window : {QApplication::activeModalWidget(), QApplication::activeWindow(),
                          static_cast<QWidget*>(menuOrigin_.data()), mainWindow_.data()}) {
    if (window != nullptr && (control = FindControl(window, id)) != nullptr) break;
  }
  const QPoint at = control != nullptr ? control->mapToGlobal(control->rect().center()) : QCursor::pos();
  QWhatsThis::showText(at, lastHelpText_, control);
}

void QtUserInterface::SetContextMenuOrigin(ControlDialog* dialog, const QPoint& globalPos) {
  menuOrigin_ = dialog;
  menuPos_ = globalPos;
}

void QtUserInterface::RunMainDialog(kvapp::MainDialog& dialog) {
  MainDialogView view(dialog, *this);
  // Not application-modal: the help window stays usable beside it.
  view.setWindowModality(Qt::NonModal);
  view.Open();
  if (!dialog.ended()) runner_.Exec(view);
  HideProgress();
  mainWindow_ = nullptr;
}

bool QtUserInterface::RunCertDetailsDialog(kvapp::CertDetailsDialog& dialog) {
  dialog.OnInitDialog();
  CertDetailsView view(dialog, *this, DialogParent());
  runner_.Exec(view);
  return view.result() == QDialog::Accepted;
}

void QtUserInterface::ShowCertContents(const kvapp::CertContentsFields& fields) {
  CertContentsView view(fields, *this, DialogParent());
  runner_.Exec(view);
}

void QtUserInterface::ShowAbout(const std::string& productLine) {
  AboutView view(Text(productLine), *this, DialogParent());
  runner_.Exec(view);
}

void QtUserInterface::RunIssuedDialog(kvapp::IssuedDialog& dialog) {
#ifdef KVAPP_CERT_COMMANDS
  dialog.OnInitDialog();
  IssuedView view(dialog, *this, DialogParent());
  runner_.Exec(view);
#else
  (void)dialog;  // no register without the certificate commands
#endif
}

bool QtUserInterface::ChooseItem(const std::string& title, const std::string& prompt,
                                 const std::vector<std::string>& items, int& index) {
  if (items.empty()) return false;
  QStringList texts;
  for (const std::string& item : items) texts << Text(item);
  QInputDialog dialog(DialogParent());
  dialog.setObjectName(kItemDialogName);
  dialog.setWindowTitle(Text(title));
  dialog.setLabelText(Text(prompt));
  dialog.setComboBoxItems(texts);
  dialog.setComboBoxEditable(false);
  const int proposed = index >= 0 && index < texts.size() ? index : 0;
  dialog.setTextValue(texts[proposed]);
  runner_.Exec(dialog);
  if (dialog.result() != QDialog::Accepted) return false;
  const int chosen = static_cast<int>(texts.indexOf(dialog.textValue()));
  if (chosen < 0) return false;
  index = chosen;
  return true;
}

bool QtUserInterface::AskNumber(const std::string& title, const std::string& prompt, int minimum, int maximum,
                                int& value) {
  QInputDialog dialog(DialogParent());
  dialog.setObjectName(kNumberDialogName);
  dialog.setWindowTitle(Text(title));
  dialog.setLabelText(Text(prompt));
  dialog.setInputMode(QInputDialog::IntInput);
  dialog.setIntRange(minimum, maximum);
  dialog.setIntValue(value);
  runner_.Exec(dialog);
  if (dialog.result() != QDialog::Accepted) return false;
  value = dialog.intValue();
  return true;
}

}  // namespace kvgui
