#include "gui/views.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QValidator>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <QWindow>

#include "app/cert_contents.h"
#include "app/cert_info.h"
#include "app/strings.h"
#include "app/utf8_text.h"
#include "gui/app_icon.h"
#include "gui/qt_ui.h"

namespace kvgui {
namespace {

using kvapp::LoadString;

QString Text(const std::string& text) { return QString::fromStdString(text); }
QString Str(int id) { return QString::fromUtf8(LoadString(id)); }

// Template ids of the dialogs, for their help topics.
constexpr int kAboutTemplate = 100;
constexpr int kMainTemplate = 102;
constexpr int kPasswordTemplate = 134;
constexpr int kContentsTemplate = 135;
constexpr int kDetailsTemplate = 136;
constexpr int kKeyPasswordTemplate = 142;
// Controls of the small dialogs.
constexpr int kIdPasswordEdit = 1015;
constexpr int kIdProgressText = 1025;
constexpr int kIdProductLine = 1027;

QLabel* Label(const QString& text, QWidget* buddy, int id) {
  auto* label = new QLabel(text);
  label->setBuddy(buddy);
  label->setObjectName(QStringLiteral("label_%1").arg(id));
  label->setProperty(kControlIdProperty, id);
  return label;
}

QPushButton* Button(const QString& text, int id) {
  auto* button = new QPushButton(text);
  SetControlId(button, id);
  button->setAutoDefault(false);
  return button;
}

QLabel* IconLabel(int size) {
  auto* icon = new QLabel;
  icon->setObjectName(QStringLiteral("icon"));
  icon->setPixmap(QPixmap::fromImage(DrawAppIcon(size)));
  icon->setFixedSize(size, size);
  return icon;
}

// OK (default) and, when asked for, Cancel, as the standard buttons 1 and 2.
QDialogButtonBox* OkCancel(QDialog* dialog, bool cancel) {
  auto* box = new QDialogButtonBox;
  QPushButton* ok = box->addButton(QDialogButtonBox::Ok);
  SetControlId(ok, kIdOk);
  ok->setDefault(true);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  if (cancel) SetControlId(box->addButton(QDialogButtonBox::Cancel), kIdCancel);
  return box;
}

}  // namespace

void SetControlId(QWidget* widget, int id) {
  widget->setObjectName(QString::number(id));
  widget->setProperty(kControlIdProperty, id);
}

int ControlIdOf(const QWidget* widget) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    QVariant id = w->property(kControlIdProperty);
    if (id.isValid()) return id.toInt();
    if (w->isWindow()) break;
  }
  return -1;
}

QWidget* FindControl(const QWidget* root, int id) {
  if (root == nullptr) return nullptr;
  return root->findChild<QWidget*>(QString::number(id));
}

namespace {

// QLineEdit's own maximum counts UTF-16 units; the dialogs count characters.
class CharacterLimit : public QValidator {
 public:
  CharacterLimit(size_t maxChars, QObject* parent) : QValidator(parent), maxChars_(maxChars) {}
  // |shrinkFrom|: the length of a text already over a limit lowered under it;
  // shorter texts are taken so that it can be corrected.
  void SetLimit(size_t maxChars, size_t shrinkFrom) {
    maxChars_ = maxChars;
    shrinkFrom_ = shrinkFrom;
  }
  State validate(QString& input, int&) const override {
    const size_t length = kvapp::Utf8Length(input.toStdString());
    return length <= maxChars_ || length < shrinkFrom_ ? Acceptable : Invalid;
  }

 private:
  size_t maxChars_;
  size_t shrinkFrom_ = 0;
};

// Sets the limit of |edit| to |maxChars| while its text has |currentChars|
// characters.
void SetCharacterLimit(QLineEdit* edit, size_t maxChars, size_t currentChars) {
  if (auto* limit = dynamic_cast<CharacterLimit*>(const_cast<QValidator*>(edit->validator()))) {
    limit->SetLimit(maxChars, currentChars > maxChars ? currentChars : 0);
    return;
  }
  edit->setValidator(new CharacterLimit(maxChars, edit));
}

}  // namespace

void LimitCharacters(QLineEdit* edit, size_t maxChars) { SetCharacterLimit(edit, maxChars, 0); }

// ---- ControlDialog ----

ControlDialog::ControlDialog(QtUserInterface& ui, int templateId, QWidget* parent)
    : QDialog(parent), ui_(ui), templateId_(templateId) {
  setObjectName(QStringLiteral("dialog%1").arg(templateId));
  setWindowFlag(Qt::WindowContextHelpButtonHint, true);
  // Shift+F1 enters What's This mode; a click on a control then shows its topic.
  addAction(QWhatsThis::createAction(this));
}

void ControlDialog::WatchControls() {
  for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
}

bool ControlDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::QueryWhatsThis || event->type() == QEvent::WhatsThis) {
    auto* widget = qobject_cast<QWidget*>(watched);
    int id = ControlIdOf(widget);
    if (id < 0) return QDialog::eventFilter(watched, event);
    event->accept();
    if (event->type() == QEvent::WhatsThis) ContextHelp(id);
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void ControlDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
    QWidget* focus = focusWidget();
    ContextHelp(focus != nullptr ? ControlIdOf(focus) : -1);
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void ControlDialog::contextMenuEvent(QContextMenuEvent* event) {
  ui_.SetContextMenuOrigin(this, event->globalPos());
  ContextMenuHelp();
  event->accept();
}

void ControlDialog::ContextHelp(int id) {
  if (id < 0) {
    ui_.ShowHelp(kvapp::HelpCommand::kContext, kDialogHelpBase + static_cast<uint32_t>(templateId_), {});
  } else {
    ui_.ShowHelp(kvapp::HelpCommand::kContextPopup, kvapp::kControlHelpBase + static_cast<uint32_t>(id), {});
  }
}

void ControlDialog::ContextMenuHelp() {
  std::vector<int> ids;
  for (QWidget* w : findChildren<QWidget*>()) {
    if (!w->objectName().isEmpty() && w->property(kControlIdProperty).isValid() &&
        !w->objectName().startsWith(QStringLiteral("label_"))) {
      ids.push_back(w->property(kControlIdProperty).toInt());
    }
  }
  ui_.ShowHelp(kvapp::HelpCommand::kContextMenu, 0, kvapp::ContextMenuHelpTable(ids));
}

// ---- MainDialogView ----

MainDialogView::MainDialogView(kvapp::MainDialog& logic, QtUserInterface& ui, QWidget* parent)
    : ControlDialog(ui, kMainTemplate, parent), logic_(logic) {
  setWindowFlags(Qt::Window | Qt::WindowContextHelpButtonHint);
  setWindowTitle(Str(102));
  setWindowIcon(AppIcon());

  rootCert_ = new QLineEdit;
  rootCert_->setReadOnly(true);
  SetControlId(rootCert_, kvapp::kIdRootCertField);

  // The register's expiry line under the root, shown while it has one.
  expiry_ = new QLabel;
  expiry_->setTextFormat(Qt::PlainText);
  expiry_->setVisible(false);
  SetControlId(expiry_, kvapp::kIdExpiryLine);

  directory_ = new QComboBox;
  directory_->setEditable(true);
  directory_->setInsertPolicy(QComboBox::NoInsert);  // the logic inserts the directories
  directory_->setDuplicatesEnabled(true);
  directory_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  directory_->setMinimumContentsLength(24);
  SetControlId(directory_, kvapp::kIdDirectoryCombo);

  filter_ = new QComboBox;
  for (const std::string& item : logic_.controls().filterItems) filter_->addItem(Text(item));
  SetControlId(filter_, kvapp::kIdFilterCombo);

  files_ = new QListWidget;
  files_->setSelectionMode(QAbstractItemView::SingleSelection);
  files_->setMinimumHeight(180);
  SetControlId(files_, kvapp::kIdFileList);

  struct ButtonText {
    int id;
    const char* text;
  };
  const ButtonText table[] = {
      {kvapp::kIdBrowse, "Browse..."},
      {kvapp::kIdNewRoot, "New Root Certificate and Keys..."},
      {kvapp::kIdSelectRoot, "Select Root Certificate..."},
      {kvapp::kIdViewRoot, "View Root Certificate"},
      {kvapp::kIdNewServer, "New Server Certificate and Keys..."},
      {kvapp::kIdCreateServerCert, "Create Server Certificate..."},
      {kvapp::kIdViewCert, "View Certificate"},
      {kvapp::kIdVerifyCert, "Verify Certificate"},
      {kvapp::kIdExportMenu, "Export..."},
      {kvapp::kIdChangeKeyPassword, "Change Key Password..."},
      {kvapp::kIdIssuedCertificates, "Issued Certificates..."},
      {kvapp::kIdCloseOrEnter, "&Close"},
      {kvapp::kIdHelpButton, "&Help"},
  };
  for (const ButtonText& entry : table) {
    QPushButton* b = Button(QString::fromUtf8(entry.text), entry.id);
    buttons_[entry.id] = b;
    const int id = entry.id;
    if (id == kvapp::kIdExportMenu) {
      connect(b, &QPushButton::clicked, this, &MainDialogView::OpenExportMenu);
    } else {
      connect(b, &QPushButton::clicked, this, [this, id] { Dispatch([this, id] { logic_.OnCommand(id); }); });
    }
  }
  // &Close is the default button: Enter anywhere presses it (and, with the
  // focus in the directory combo, the logic enters the typed directory).
  buttons_[kvapp::kIdCloseOrEnter]->setAutoDefault(true);
  buttons_[kvapp::kIdCloseOrEnter]->setDefault(true);

  connect(directory_, &QComboBox::activated, this,
          [this](int index) { Dispatch([this, index] { logic_.OnDirectoryChosen(index); }); });
  connect(filter_, &QComboBox::activated, this,
          [this](int index) { Dispatch([this, index] { logic_.OnFilterChosen(index); }); });
  connect(files_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!refreshing_) Dispatch([this, row] { logic_.OnFileChosen(row); });
  });

  auto* top = new QGridLayout;
  top->addWidget(Label(QStringLiteral("Root Certificate:"), rootCert_, kvapp::kIdRootCertField), 0, 0);
  top->addWidget(rootCert_, 0, 1, 1, 2);
  top->addWidget(expiry_, 1, 1, 1, 2);
  top->addWidget(Label(QStringLiteral("Current Directory:"), directory_, kvapp::kIdDirectoryCombo), 2, 0);
  top->addWidget(directory_, 2, 1);
  top->addWidget(buttons_[kvapp::kIdBrowse], 2, 2);
  top->addWidget(Label(QStringLiteral("Files:"), filter_, kvapp::kIdFilterCombo), 3, 0);
  top->addWidget(filter_, 3, 1);
  top->setColumnStretch(1, 1);

  auto* commands = new QVBoxLayout;
  // Some room around the longest caption of the command buttons.
  for (auto& [id, b] : buttons_) b->setMinimumWidth(b->sizeHint().width() + 16);
  for (int id : {kvapp::kIdNewRoot, kvapp::kIdSelectRoot, kvapp::kIdViewRoot}) commands->addWidget(buttons_[id]);
  commands->addSpacing(12);
  for (int id : {kvapp::kIdNewServer, kvapp::kIdCreateServerCert, kvapp::kIdViewCert, kvapp::kIdVerifyCert}) {
    commands->addWidget(buttons_[id]);
  }
  commands->addSpacing(12);
  for (int id : {kvapp::kIdExportMenu, kvapp::kIdChangeKeyPassword}) commands->addWidget(buttons_[id]);
  commands->addSpacing(12);
  commands->addWidget(buttons_[kvapp::kIdIssuedCertificates]);
  commands->addStretch(1);

  auto* middle = new QHBoxLayout;
  middle->addWidget(files_, 1);
  middle->addLayout(commands);

  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(buttons_[kvapp::kIdCloseOrEnter]);
  bottom->addWidget(buttons_[kvapp::kIdHelpButton]);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(middle, 1);
  layout->addLayout(bottom);

  // The platform's system menu is out of reach; the About command is an
  // entry of the window's context menu instead.
  about_ = new QAction(Str(101), this);
  about_->setObjectName(kAboutActionName);
  connect(about_, &QAction::triggered, this,
          [this] { Dispatch([this] { logic_.OnSysCommand(kvapp::kAboutCommandId); }); });

  resize(640, 430);
  WatchControls();
}

MainDialogView::~MainDialogView() = default;

QPushButton* MainDialogView::button(int id) const {
  auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

template <typename F>
void MainDialogView::Dispatch(F event) {
  if (refreshing_) return;
  Sync();
  event();
  Refresh();
}

void MainDialogView::Sync() {
  kvapp::MainDialog::Controls& c = logic_.controls();
  c.directoryText = directory_->currentText().toStdString();
  c.filterSelection = filter_->currentIndex();
  QListWidgetItem* current = files_->currentItem();
  c.fileSelection = (current != nullptr && current->isSelected()) ? files_->currentRow() : -1;
  QWidget* focus = QApplication::focusWidget();
  c.focusInDirectoryCombo = focus != nullptr && (focus == directory_ || directory_->isAncestorOf(focus));
}

void MainDialogView::Refresh() {
  refreshing_ = true;
  const kvapp::MainDialog::Controls& c = logic_.controls();
  rootCert_->setText(Text(c.rootCertText));
  rootCert_->setCursorPosition(0);
  expiry_->setText(Text(c.expiryLine));
  expiry_->setVisible(!c.expiryLine.empty());
  {
    QSignalBlocker block(directory_);
    QStringList items;
    for (const std::string& item : c.directoryItems) items << Text(item);
    QStringList shown;
    for (int i = 0; i < directory_->count(); ++i) shown << directory_->itemText(i);
    if (items != shown) {
      directory_->clear();
      directory_->addItems(items);
    }
    if (directory_->currentText() != Text(c.directoryText)) directory_->setEditText(Text(c.directoryText));
  }
  {
    QSignalBlocker block(filter_);
    filter_->setCurrentIndex(c.filterSelection);
  }
  {
    QSignalBlocker block(files_);
    QStringList items;
    for (const std::string& item : c.fileItems) items << Text(item);
    QStringList shown;
    for (int i = 0; i < files_->count(); ++i) shown << files_->item(i)->text();
    if (items != shown) {
      files_->clear();
      files_->addItems(items);
    }
    if (c.fileSelection >= 0 && c.fileSelection < files_->count()) {
      files_->setCurrentRow(c.fileSelection);
    } else {
      files_->clearSelection();
      files_->setCurrentRow(-1);
    }
  }
  for (auto& [id, b] : buttons_) b->setEnabled(logic_.IsEnabled(id));
  refreshing_ = false;
  if (logic_.ended() && isVisible()) done(QDialog::Rejected);
}

void MainDialogView::Open() {
  logic_.OnInitDialog();
  Refresh();
  ui_.SetMainWindow(this);
  show();
  QTimer::singleShot(0, this, [this] { RunPosted(0); });
}

void MainDialogView::RunPosted(int attempt) {
  // The remembered root is selected once the window is on screen, so that its
  // password prompt appears over the main window.
  constexpr int kMaxWaits = 50;
  if (attempt < kMaxWaits && (windowHandle() == nullptr || !windowHandle()->isExposed())) {
    QTimer::singleShot(20, this, [this, attempt] { RunPosted(attempt + 1); });
    return;
  }
  postedRun_ = true;
  Dispatch([this] { logic_.RunPostedMessages(); });
}

void MainDialogView::OpenExportMenu() {
  struct Entry {
    int id;
    const char* text;
  };
  const Entry entries[] = {
      {kvapp::kIdExportCertPem, "Certificate as PEM..."},
      {kvapp::kIdExportKeyPkcs8, "Private Key as PKCS #8 (encrypted)..."},
      {kvapp::kIdExportKeyUnencrypted, "Private Key as PKCS #8 (unencrypted)..."},
      {kvapp::kIdExportPkcs12, "Key and Certificates as PKCS #12..."},
  };
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("exportMenu"));
  for (const Entry& entry : entries) {
    QAction* action = menu.addAction(QString::fromUtf8(entry.text));
    action->setObjectName(QString::number(entry.id));
    action->setEnabled(logic_.IsEnabled(entry.id));
    const int id = entry.id;
    connect(action, &QAction::triggered, this, [this, id] { Dispatch([this, id] { logic_.OnCommand(id); }); });
  }
  QPushButton* button = buttons_[kvapp::kIdExportMenu];
  ui_.runner().ExecMenu(menu, button->mapToGlobal(QPoint(0, button->height())));
}

void MainDialogView::reject() { Dispatch([this] { logic_.EndDialog(); }); }

void MainDialogView::closeEvent(QCloseEvent* event) {
  Dispatch([this] { logic_.EndDialog(); });
  event->accept();
}

void MainDialogView::ContextHelp(int id) {
  if (id < 0) {
    Dispatch([this] { logic_.OnCommand(kvapp::kIdHelpButton); });
  } else {
    Dispatch([this, id] { logic_.OnContextHelp(id); });
  }
}

void MainDialogView::ContextMenuHelp() {
  Dispatch([this] { logic_.OnContextMenu(); });
}

QList<QAction*> MainDialogView::ContextActions() { return {about_}; }

// ---- CertDetailsView ----

CertDetailsView::CertDetailsView(kvapp::CertDetailsDialog& logic, QtUserInterface& ui, QWidget* parent)
    : ControlDialog(ui, kDetailsTemplate, parent), logic_(logic) {
  struct FieldRow {
    int id;
    const char* label;
  };
  // The rows in the order shown; a row the mode and profile do not offer is
  // hidden whole (no gap is left).
  const FieldRow table[] = {
      {kvapp::kIdHostName, "Host Name:"},
      {kvapp::kIdFurtherNames, "Further Names:"},
      {kvapp::kIdOrganization, "Organization:"},
      {kvapp::kIdCountry, "Country:"},
      {kvapp::kIdKeySize, "Key Size:"},
      {kvapp::kIdValidityDays, "Validity (days):"},
      {kvapp::kIdCertFile, "Certificate File:"},
      {kvapp::kIdKeyFile, "Key File:"},
      {kvapp::kIdPassword, "Key Password:"},
      {kvapp::kIdConfirmPassword, "Confirm Password:"},
  };
  const kvapp::CertDetailsDialog::Controls& c = logic_.controls();
  auto* grid = new QGridLayout;
  int row = 0;
  for (const FieldRow& entry : table) {
    const int id = entry.id;
    QWidget* control = nullptr;
    if (id == kvapp::kIdKeySize) {
      keySize_ = new QComboBox;
      auto items = c.items.find(id);
      if (items != c.items.end()) {
        for (const std::string& item : items->second) keySize_->addItem(Text(item));
      }
      SetControlId(keySize_, id);
      connect(keySize_, &QComboBox::activated, this, [this, id](int index) { Chosen(id, index); });
      control = keySize_;
    } else if (id == kvapp::kIdFurtherNames) {
      furtherNames_ = new QPlainTextEdit;
      furtherNames_->setTabChangesFocus(true);
      furtherNames_->setPlaceholderText(QStringLiteral("Separated by spaces, commas or new lines"));
      // Three lines of text.
      furtherNames_->setFixedHeight(furtherNames_->fontMetrics().lineSpacing() * 3 + 12);
      SetControlId(furtherNames_, id);
      connect(furtherNames_, &QPlainTextEdit::textChanged, this, [this, id] {
        if (!refreshing_) Edited(id, furtherNames_->toPlainText());
      });
      control = furtherNames_;
    } else {
      auto* edit = new QLineEdit;
      SetControlId(edit, id);
      size_t limit = logic_.Limit(id);
      if (limit != 0) LimitCharacters(edit, limit);
      if (id == kvapp::kIdPassword || id == kvapp::kIdConfirmPassword) edit->setEchoMode(QLineEdit::Password);
      if (id == kvapp::kIdCountry) {
        edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("WWW")) + 16);
      }
      if (id == kvapp::kIdValidityDays) {
        edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
      }
      if (id == kvapp::kIdCertFile || id == kvapp::kIdKeyFile) edit->setMinimumWidth(340);
      fields_[id] = edit;
      connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& text) { Edited(id, text); });
      control = edit;
    }
    QLabel* label = Label(QString::fromUtf8(entry.label), control, id);
    // A multi-line field's label stands at its first line.
    grid->addWidget(label, row, 0, id == kvapp::kIdFurtherNames ? Qt::AlignTop : Qt::Alignment());
    const bool narrow = id == kvapp::kIdKeySize;
    grid->addWidget(control, row, 1, narrow ? Qt::AlignLeft : Qt::Alignment());
    rowWidgets_.emplace(id, label);
    rowWidgets_.emplace(id, control);
    if (id == kvapp::kIdCertFile || id == kvapp::kIdKeyFile) {
      const int buttonId = id == kvapp::kIdCertFile ? kvapp::kIdCertDirectory : kvapp::kIdKeyDirectory;
      QPushButton* b = Button(QStringLiteral("Directory..."), buttonId);
      buttons_[buttonId] = b;
      connect(b, &QPushButton::clicked, this, [this, buttonId] {
        if (buttonId == kvapp::kIdCertDirectory) {
          logic_.OnCertDirectory();
        } else {
          logic_.OnKeyDirectory();
        }
        Refresh();
      });
      grid->addWidget(b, row, 2);
    }
    ++row;
  }
  grid->setColumnStretch(1, 1);

  QDialogButtonBox* box = OkCancel(this, true);
  buttons_[kIdOk] = qobject_cast<QPushButton*>(FindControl(box, kIdOk));
  buttons_[kIdCancel] = qobject_cast<QPushButton*>(FindControl(box, kIdCancel));
  connect(buttons_[kIdOk], &QPushButton::clicked, this, &CertDetailsView::PressOk);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(MakeProfilePanel());
  layout->addLayout(grid);
  layout->addSpacing(6);
  layout->addWidget(box);
  WatchControls();
  Refresh();
}

QWidget* CertDetailsView::MakeProfilePanel() {
  struct ProfileChoice {
    int id;
    const char* text;
    const char* purpose;
  };
  const ProfileChoice table[] = {
      {kvapp::kIdProfileClassic, "C&lassic profile",
       "Compatible with roots and key files of earlier versions; not accepted by current web browsers."},
      {kvapp::kIdProfileModern, "&Modern profile",
       "For TLS servers checked by current browsers and clients: SHA-256, 2048-bit or larger keys, "
       "subjectAltName."},
  };
  profilePanel_ = new QFrame;
  profilePanel_->setObjectName(QStringLiteral("profilePanel"));
  auto* panel = new QVBoxLayout(profilePanel_);
  panel->setContentsMargins(0, 0, 0, 6);
  panel->setSpacing(2);
  auto* title = new QLabel(QStringLiteral("Certificate profile:"));
  panel->addWidget(title);
  for (const ProfileChoice& entry : table) {
    auto* radio = new QRadioButton(QString::fromUtf8(entry.text));
    SetControlId(radio, entry.id);
    const int id = entry.id;
    // A click on the checked button changes nothing; toggled would report
    // the other button's change as well.
    connect(radio, &QRadioButton::clicked, this, [this, id] { Chosen(id, 0); });
    profileButtons_[id] = radio;
    auto* purpose = new QLabel(QString::fromUtf8(entry.purpose));
    purpose->setObjectName(QStringLiteral("purpose_%1").arg(id));
    purpose->setProperty(kControlIdProperty, id);
    purpose->setWordWrap(true);
    // Indented under its button's text.
    const int indent = radio->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
                       radio->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
    purpose->setContentsMargins(indent, 0, 0, 4);
    panel->addWidget(radio, 0, Qt::AlignLeft);
    panel->addWidget(purpose);
  }
  return profilePanel_;
}

CertDetailsView::~CertDetailsView() {
  for (int id : {kvapp::kIdPassword, kvapp::kIdConfirmPassword}) fields_[id]->clear();
}

QLineEdit* CertDetailsView::field(int id) const {
  auto it = fields_.find(id);
  return it == fields_.end() ? nullptr : it->second;
}

QPushButton* CertDetailsView::button(int id) const {
  auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

QRadioButton* CertDetailsView::profileButton(int id) const {
  auto it = profileButtons_.find(id);
  return it == profileButtons_.end() ? nullptr : it->second;
}

void CertDetailsView::Edited(int id, const QString& text) {
  logic_.SetControlText(id, text.toStdString());
  Refresh();
}

void CertDetailsView::Chosen(int id, int index) {
  logic_.SetControlChoice(id, index);
  Refresh();
}

void CertDetailsView::PressOk() {
  if (logic_.OnOK()) {
    accept();
  } else {
    Refresh();
  }
}

void CertDetailsView::Refresh() {
  refreshing_ = true;
  const kvapp::CertDetailsDialog::Controls& c = logic_.controls();
  setWindowTitle(Text(c.caption));
  auto textOf = [&c](int id) {
    auto text = c.text.find(id);
    return text == c.text.end() ? QString() : Text(text->second);
  };
  auto choiceOf = [&c](int id) {
    auto choice = c.choice.find(id);
    return choice == c.choice.end() ? -1 : choice->second;
  };
  for (auto& [id, edit] : fields_) {
    const QString value = textOf(id);
    if (edit->text() != value) edit->setText(value);
    edit->setEnabled(logic_.IsEnabled(id));
    // A text over a limit lowered under it (the profile changed) may still
    // be shortened; the logic refuses it meanwhile.
    const size_t limit = logic_.Limit(id);
    if (limit != 0) SetCharacterLimit(edit, limit, kvapp::Utf8Length(edit->text().toStdString()));
  }
  if (furtherNames_->toPlainText() != textOf(kvapp::kIdFurtherNames)) {
    furtherNames_->setPlainText(textOf(kvapp::kIdFurtherNames));
  }
  furtherNames_->setEnabled(logic_.IsEnabled(kvapp::kIdFurtherNames));
  keySize_->setCurrentIndex(choiceOf(kvapp::kIdKeySize));
  keySize_->setEnabled(logic_.IsEnabled(kvapp::kIdKeySize));
  for (auto& [id, radio] : profileButtons_) {
    radio->setChecked(choiceOf(id) == 1);
    radio->setEnabled(logic_.IsEnabled(id));
  }
  profilePanel_->setVisible(logic_.IsShown(kvapp::kIdProfileClassic));
  for (auto& [id, widget] : rowWidgets_) widget->setVisible(logic_.IsShown(id));
  for (int id : {kvapp::kIdCertDirectory, kvapp::kIdKeyDirectory}) buttons_[id]->setEnabled(logic_.IsEnabled(id));
  refreshing_ = false;
}

void CertDetailsView::ContextHelp(int id) {
  if (id < 0) {
    ControlDialog::ContextHelp(id);
  } else {
    logic_.OnContextHelp(id);
  }
}

void CertDetailsView::ContextMenuHelp() { logic_.OnContextMenu(); }

// ---- CertContentsView ----

CertContentsView::CertContentsView(const kvapp::CertContentsFields& fields, QtUserInterface& ui, QWidget* parent)
    : ControlDialog(ui, kContentsTemplate, parent) {
  setWindowTitle(QStringLiteral("Certificate Contents"));
  struct Row {
    int id;
    const char* label;
    const std::string& value;
  };
  const Row rows[] = {
      {2052, "Subject:", fields.subject},     {2053, "Issuer:", fields.issuer},
      {2054, "Start Date:", fields.startDate}, {2057, "End Date:", fields.endDate},
      {2055, "Version:", fields.version},      {2056, "Serial Number:", fields.serialNumber},
  };
  auto* grid = new QGridLayout;
  int r = 0;
  for (const Row& row : rows) {
    auto* edit = new QLineEdit(Text(row.value));
    edit->setReadOnly(true);
    edit->setCursorPosition(0);
    edit->setMinimumWidth(600);  // a subject of three attributes fits
    SetControlId(edit, row.id);
    grid->addWidget(Label(QString::fromUtf8(row.label), edit, row.id), r, 0);
    grid->addWidget(edit, r, 1);
    ++r;
  }
  QDialogButtonBox* box = OkCancel(this, false);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  // Below the six fields: algorithms, key, fingerprints and extensions.
  if (fields.details.present) {
    std::string text;
    for (const std::string& line : kvapp::CertDetailsLines(fields.details)) text += line + "\n";
    auto* details = new QPlainTextEdit(Text(text));
    details->setReadOnly(true);
    details->setLineWrapMode(QPlainTextEdit::NoWrap);
    details->setMinimumHeight(220);
    details->setObjectName(QStringLiteral("details"));
    layout->addWidget(new QLabel(QStringLiteral("Details:")));
    layout->addWidget(details);
  }
  layout->addWidget(box);
  WatchControls();
}

// ---- RootPasswordView ----

RootPasswordView::RootPasswordView(QtUserInterface& ui, QWidget* parent, size_t maxChars)
    : ControlDialog(ui, kPasswordTemplate, parent) {
  setWindowTitle(QStringLiteral("Root Key Password"));
  password_ = new QLineEdit;
  password_->setEchoMode(QLineEdit::Password);
  LimitCharacters(password_, maxChars);
  password_->setMinimumWidth(200);
  SetControlId(password_, kIdPasswordEdit);
  auto* prompt = new QLabel(QStringLiteral("Enter password to unlock root key."));
  prompt->setObjectName(QStringLiteral("prompt"));
  auto* row = new QHBoxLayout;
  row->addWidget(Label(QStringLiteral("Password:"), password_, kIdPasswordEdit));
  row->addWidget(password_, 1);
  QDialogButtonBox* box = OkCancel(this, true);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  layout->addLayout(row);
  layout->addWidget(box);
  password_->setFocus();
  WatchControls();
}

RootPasswordView::~RootPasswordView() { password_->clear(); }

// ---- KeyPasswordView ----

KeyPasswordView::KeyPasswordView(const kvapp::PasswordRequest& request, bool confirm, QtUserInterface& ui,
                                 QWidget* parent)
    : ControlDialog(ui, kKeyPasswordTemplate, parent) {
  setWindowTitle(Text(request.caption));
  auto* prompt = new QLabel(Text(request.prompt));
  prompt->setObjectName(QStringLiteral("prompt"));
  prompt->setWordWrap(true);
  setMinimumWidth(400);
  auto* grid = new QGridLayout;
  auto field = [&](int id, const char* label, int row) {
    auto* edit = new QLineEdit;
    edit->setEchoMode(QLineEdit::Password);
    if (request.maxChars != 0) LimitCharacters(edit, request.maxChars);
    edit->setMinimumWidth(240);
    SetControlId(edit, id);
    grid->addWidget(Label(QString::fromUtf8(label), edit, id), row, 0);
    grid->addWidget(edit, row, 1);
    return edit;
  };
  password_ = field(kvapp::kIdPassword, confirm ? "New Password:" : "Password:", 0);
  if (confirm) confirm_ = field(kvapp::kIdConfirmPassword, "Confirm Password:", 1);
  grid->setColumnStretch(1, 1);
  QDialogButtonBox* box = OkCancel(this, true);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  layout->addLayout(grid);
  layout->addWidget(box);
  password_->setFocus();
  WatchControls();
}

KeyPasswordView::~KeyPasswordView() {
  password_->clear();
  if (confirm_ != nullptr) confirm_->clear();
}

// ---- AboutView ----

AboutView::AboutView(const QString& productLine, QtUserInterface& ui, QWidget* parent)
    : ControlDialog(ui, kAboutTemplate, parent) {
  setWindowTitle(QStringLiteral("About Parlo/Agent Certificate Utility"));
  auto* text = new QLabel(productLine);
  SetControlId(text, kIdProductLine);
  auto* row = new QHBoxLayout;
  row->addWidget(IconLabel(48));
  row->addSpacing(12);
  row->addWidget(text, 1);
  QDialogButtonBox* box = OkCancel(this, false);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(box);
  WatchControls();
}

// ---- ProgressWindow ----

ProgressWindow::ProgressWindow(const QString& text, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("dialog141"));
  setWindowTitle(QString());
  setWindowModality(Qt::NonModal);
  auto* frame = new QFrame;
  frame->setFrameStyle(QFrame::Box | QFrame::Plain);
  frame->setLineWidth(1);
  auto* label = new QLabel(text);
  SetControlId(label, kIdProgressText);
  auto* row = new QHBoxLayout(frame);
  row->setContentsMargins(18, 14, 24, 14);
  row->addWidget(IconLabel(32));
  row->addSpacing(14);
  row->addWidget(label, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(frame);
}

void ProgressWindow::ShowPainted() {
  adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  show();
  raise();
  // The work that follows blocks the event loop: wait until the window is on
  // screen and has been painted once (user input stays queued meanwhile).
  constexpr int kMaxWaitMs = 1500;
  QElapsedTimer timer;
  timer.start();
  while (paintCount_ == 0 && timer.elapsed() < kMaxWaitMs) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    if (paintCount_ == 0 && windowHandle() != nullptr && windowHandle()->isExposed()) repaint();
  }
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProgressWindow::paintEvent(QPaintEvent* event) {
  ++paintCount_;
  QWidget::paintEvent(event);
}

}  // namespace kvgui
