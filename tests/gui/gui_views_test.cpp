// The desktop program's views over the application logic: the real widgets
// driven with the mouse and keyboard on Qt's offscreen platform, every modal
// window answered through the front end's runner.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>

#include "app/cert_contents.h"
#include "app/cert_details_dialog.h"
#include "app/cert_utility_app.h"
#include "app/main_dialog.h"
#ifdef KVAPP_CERT_COMMANDS
#include "gui/issued_view.h"
#endif
#include "gui_harness.h"
#include "platform/administrator.h"

using namespace guitest;
using kvgui::FindControl;

namespace {

const QString kCaption = QStringLiteral("Orvane Inc. Certificate Tool");

// Types |text| at the end of edit |id| as key events, one character (a
// surrogate pair included) a key, as a keyboard would for any letter.
void TypeCharacters(QWidget& root, int id, const QString& text) {
  auto* edit = qobject_cast<QLineEdit*>(FindControl(&root, id));
  QVERIFY(edit != nullptr);
  edit->setFocus();
  for (int i = 0; i < text.size(); ++i) {
    const int n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
    i += n - 1;
  }
}

// Ids of the controls each view must carry.
const std::vector<int> kMainIds = {1028, 1009, 1010, 1011, 1013, 1014, 1001, 1002, 1003, 1004, 1006, 1007, 1008, 57670};
const std::vector<int> kDetailsIds = {1016, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1024, 1, 2};

// The five buttons whose state follows root and selection, in the order
// 1003 1004 1006 1007 1008.
QString ButtonStates(kvgui::MainDialogView& view) {
  QString s;
  for (int id : {1003, 1004, 1006, 1007, 1008}) s += view.button(id)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
  return s;
}

QStringList Items(QListWidget* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}

class AlwaysAdministrator : public kvplatform::AdministratorTest {
 public:
  explicit AlwaysAdministrator(bool yes) : yes_(yes) {}
  bool IsUserAdministrator() override { return yes_; }

 private:
  bool yes_;
};

// A main dialog and its view over a bench with a few files.
struct MainBench : Bench {
  MainBench() : logic(*context), view(logic, *ui) {
    WriteFile(QStringLiteral("kvroot.crt"));
    WriteFile(QStringLiteral("web1.KEY"));
    WriteFile(QStringLiteral("readme.txt"));
    WriteFile(QStringLiteral("sub/other.crt"));
  }
  void Open() {
    view.Open();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_VERIFY(view.postedMessagesRun());
  }
  kvapp::MainDialog logic;
  kvgui::MainDialogView view;
};

}  // namespace

class GuiViewsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QuietOffscreenNotes(); }
  void mainDialogOpensWithoutRoot();
  void filesFilterAndSelectionDriveTheButtons();
  void enterInDirectoryComboListsItWithoutClosing();
  void browseAddsTheChosenDirectory();
  void escapeAndCloseEndTheDialog();
  void detailsDialogTypingAndValidation();
  void detailsDialogModes();
  void rootPasswordPrompt();
  void detailsDialogProfileChoice();
  void progressWindowIsPaintedBeforeTheWork();
  void contentsDialogShowsSixFieldsInOrder();
  void aboutFromTheContextMenu();
  void messageBoxesHaveCaptionAndIcons();
  void busyPointer();
  void helpTopicsForEveryControlAndDialog();
  void helpRequestsShowTheirTopics();
  void fileDialogFilters();
  void startUpRefusesNonAdministrators();
};

void GuiViewsTest::mainDialogOpensWithoutRoot() {
  MainBench b;
  b.Open();
  kvgui::MainDialogView& v = b.view;
  QCOMPARE(v.windowTitle(), QStringLiteral("Parlo/Agent Certificate Utility"));
  for (int id : kMainIds) QVERIFY2(FindControl(&v, id) != nullptr, qPrintable(QString::number(id)));
  QCOMPARE(v.rootCertField()->text(), QStringLiteral("No root certificate selected."));
  QVERIFY(v.rootCertField()->isReadOnly());
  QVERIFY(v.directoryCombo()->isEditable());
  QCOMPARE(v.directoryCombo()->count(), 1);
  QCOMPARE(v.directoryCombo()->currentText(), b.dir.path() + QStringLiteral("/"));
  QStringList filters;
  for (int i = 0; i < v.filterCombo()->count(); ++i) filters << v.filterCombo()->itemText(i);
  QCOMPARE(filters, QStringList({QStringLiteral("Certificate files (*.crt)"), QStringLiteral("Key files (*.key)"),
                                 QStringLiteral("Certificate and Key files (*.crt;*.key)"),
                                 QStringLiteral("All files (*.*)")}));
  QCOMPARE(v.filterCombo()->currentIndex(), 0);
  QCOMPARE(Items(v.fileList()), QStringList({QStringLiteral("kvroot.crt")}));
  QCOMPARE(ButtonStates(v), QStringLiteral("00000"));
  for (int id : {1001, 1002, 1010, 1014, 57670}) QVERIFY(v.button(id)->isEnabled());
  QVERIFY(v.button(1014)->isDefault());
  QCOMPARE(v.button(1014)->text(), QStringLiteral("&Close"));
  QVERIFY(b.runner.shown.empty());  // nothing remembered: no prompt
  Snap(v, QStringLiteral("main_no_root"));
}

void GuiViewsTest::filesFilterAndSelectionDriveTheButtons() {
  MainBench b;
  b.Open();
  kvgui::MainDialogView& v = b.view;
  // The user steps the filter combo down to "Certificate and Key files".
  v.filterCombo()->setFocus();
  QTest::keyClick(v.filterCombo(), Qt::Key_Down);
  QTest::keyClick(v.filterCombo(), Qt::Key_Down);
  QCOMPARE(v.filterCombo()->currentIndex(), 2);
  QCOMPARE(Items(v.fileList()), QStringList({QStringLiteral("kvroot.crt"), QStringLiteral("web1.KEY")}));
  QTest::keyClick(v.filterCombo(), Qt::Key_Down);
  QCOMPARE(Items(v.fileList()),
           QStringList({QStringLiteral("kvroot.crt"), QStringLiteral("readme.txt"), QStringLiteral("web1.KEY")}));

  struct Case {
    const char* file;
    bool root;
    const char* states;  // 1003 1004 1006 1007 1008
  };
  const Case cases[] = {
      {"kvroot.crt", false, "00010"}, {"web1.KEY", false, "00000"}, {"readme.txt", false, "00000"},
      {"kvroot.crt", true, "11011"},  {"web1.KEY", true, "11100"},  {"readme.txt", true, "11000"},
  };
  for (const Case& c : cases) {
    if (c.root && b.logic.rootSelected() == 0) {
      b.logic.SetCurrentRoot(b.PathStd(QStringLiteral("kvroot.crt")), b.PathStd(QStringLiteral("kvroot.key")), "pw");
      v.Refresh();
      QCOMPARE(v.rootCertField()->text(), b.Path(QStringLiteral("kvroot.crt")));
    }
    QVERIFY(ClickFile(v, QString::fromUtf8(c.file)));
    QCOMPARE(ButtonStates(v), QString::fromUtf8(c.states));
  }
  QVERIFY(ClickFile(v, QStringLiteral("kvroot.crt")));
  Snap(v, QStringLiteral("main_root_selected"));
}

void GuiViewsTest::enterInDirectoryComboListsItWithoutClosing() {
  MainBench b;
  b.Open();
  kvgui::MainDialogView& v = b.view;
  const QString sub = b.Path(QStringLiteral("sub"));
  v.directoryCombo()->setFocus();
  v.directoryCombo()->lineEdit()->selectAll();
  QTest::keyClicks(v.directoryCombo(), sub);
  QTest::keyClick(v.directoryCombo(), Qt::Key_Return);
  QVERIFY(!b.logic.ended());
  QVERIFY(v.isVisible());
  QCOMPARE(v.directoryCombo()->count(), 2);
  QCOMPARE(v.directoryCombo()->itemText(0), sub);
  QCOMPARE(Items(v.fileList()), QStringList({QStringLiteral("other.crt")}));
  // The same directory again is added again.
  QTest::keyClick(v.directoryCombo(), Qt::Key_Return);
  QCOMPARE(v.directoryCombo()->count(), 3);
  // Enter with the focus in the file list closes the program.
  v.fileList()->setFocus();
  QTest::keyClick(v.fileList(), Qt::Key_Return);
  QVERIFY(b.logic.ended());
  QVERIFY(!v.isVisible());
}

void GuiViewsTest::browseAddsTheChosenDirectory() {
  MainBench b;
  b.Open();
  const QString sub = b.Path(QStringLiteral("sub"));
  for (int round = 0; round < 2; ++round) {
    b.runner.handlers.push_back([&](QDialog& d) {
      auto* picker = qobject_cast<QFileDialog*>(&d);
      QVERIFY(picker != nullptr);
      QCOMPARE(picker->objectName(), QStringLiteral("directoryDialog"));
      QCOMPARE(picker->fileMode(), QFileDialog::Directory);
      picker->setDirectory(sub);  // the user walks into sub and presses Open
      QMetaObject::invokeMethod(picker, "accept");
    });
    ClickControl(b.view, 1010);
  }
  QCOMPARE(b.view.directoryCombo()->count(), 3);
  QCOMPARE(b.view.directoryCombo()->itemText(0), sub + QStringLiteral("/"));
  QCOMPARE(b.view.directoryCombo()->itemText(1), sub + QStringLiteral("/"));
  QCOMPARE(Items(b.view.fileList()), QStringList({QStringLiteral("other.crt")}));
  // Cancelled: nothing changes.
  b.runner.handlers.push_back([](QDialog& d) { d.reject(); });
  ClickControl(b.view, 1010);
  QCOMPARE(b.view.directoryCombo()->count(), 3);
  QCOMPARE(b.runner.unanswered, 0);
}

void GuiViewsTest::escapeAndCloseEndTheDialog() {
  {
    MainBench b;
    b.Open();
    QTest::keyClick(&b.view, Qt::Key_Escape);
    QVERIFY(b.logic.ended());
    QVERIFY(!b.view.isVisible());
  }
  {
    MainBench b;
    b.Open();
    ClickControl(b.view, 1014);  // the focus moves to the button: Close
    QVERIFY(b.logic.ended());
  }
  {
    MainBench b;
    b.Open();
    b.view.close();  // the window's close command
    QVERIFY(b.logic.ended());
  }
}

void GuiViewsTest::detailsDialogTypingAndValidation() {
  MainBench b;
  b.Open();
  const std::string dir = b.dir.path().toStdString() + "/";
  kvapp::CertDetailsDialog details(b.logic, kvapp::kModeNewRoot, dir, "kvroot");
  auto expectError = [&](const char* text) {
    b.runner.handlers.push_back([text](QDialog& d) {
      QCOMPARE(d.objectName(), QStringLiteral("errorBox"));
      QCOMPARE(qobject_cast<QMessageBox*>(&d)->text(), QString::fromUtf8(text));
      ClickBox(d, QMessageBox::Ok);
    });
  };
  bool errorSnapped = false;
  b.runner.handlers.push_back([&](QDialog& d) {
    QCOMPARE(d.windowTitle(), QStringLiteral("Create new Certificate and Keys"));
    for (int id : kDetailsIds) QVERIFY2(FindControl(&d, id) != nullptr, qPrintable(QString::number(id)));
    auto field = [&](int id) { return qobject_cast<QLineEdit*>(FindControl(&d, id)); };
    QCOMPARE(field(1016)->text(), QStringLiteral("kvroot"));
    QCOMPARE(field(1019)->text(), b.Path(QStringLiteral("kvroot.crt")));
    QCOMPARE(field(1020)->text(), b.Path(QStringLiteral("kvroot.key")));
    QCOMPARE(field(1021)->echoMode(), QLineEdit::Password);
    QCOMPARE(field(1022)->echoMode(), QLineEdit::Password);
    Snap(d, QStringLiteral("details_new_root"));
    // The limits count characters, not bytes or UTF-16 units: 64 'é' fit and
    // a 65th is not taken; a character outside the BMP counts once.
    TypeCharacters(d, 1017, QString(65, QChar(0xE9)));
    QCOMPARE(field(1017)->text(), QString(64, QChar(0xE9)));
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    TypeInto(d, 1016, QString(63, QLatin1Char('h')));
    TypeCharacters(d, 1016, smile + QStringLiteral("x"));
    QCOMPARE(field(1016)->text(), QString(63, QLatin1Char('h')) + smile);
    TypeInto(d, 1017, QString());

    // The existing kvroot.crt is refused; typing a host name renames both files.
    TypeInto(d, 1016, QStringLiteral("ca1"));
    QCOMPARE(field(1019)->text(), b.Path(QStringLiteral("ca1.crt")));
    QCOMPARE(field(1020)->text(), b.Path(QStringLiteral("ca1.key")));
    expectError("You must enter an Organization.");
    ClickControl(d, 1);
    TypeInto(d, 1017, QStringLiteral("Acme"));
    TypeInto(d, 1018, QStringLiteral("U1"));
    expectError("You must enter a 2-letter country code.");
    b.runner.handlers.back() = [&, inner = b.runner.handlers.back()](QDialog& box) {
      Snap(box, QStringLiteral("error_box"));
      errorSnapped = true;
      inner(box);
    };
    ClickControl(d, 1);
    TypeInto(d, 1018, QStringLiteral("usa"));  // a third character cannot be typed
    QCOMPARE(field(1018)->text(), QStringLiteral("us"));
    TypeInto(d, 1021, QStringLiteral("short"));
    TypeInto(d, 1022, QStringLiteral("shorT"));
    expectError("Entered password and confirmation do not match.");
    ClickControl(d, 1);
    TypeInto(d, 1022, QStringLiteral("short"));
    expectError("Key password must be between 8 and 16 characters.");
    ClickControl(d, 1);
    TypeInto(d, 1021, QStringLiteral("longenough12345678"));  // cut at 16
    QCOMPARE(field(1021)->text(), QStringLiteral("longenough123456"));
    TypeInto(d, 1022, QStringLiteral("longenough123456"));
    // A file name of the user's own stops the automatic naming.
    TypeInto(d, 1019, b.Path(QStringLiteral("new/dir/ca1.crt")));
    TypeInto(d, 1016, QStringLiteral("other"));
    QCOMPARE(field(1020)->text(), b.Path(QStringLiteral("ca1.key")));
    b.runner.handlers.push_back([&](QDialog& box) {
      QCOMPARE(box.objectName(), QStringLiteral("questionBox"));
      QCOMPARE(qobject_cast<QMessageBox*>(&box)->icon(), QMessageBox::NoIcon);
      QVERIFY(qobject_cast<QMessageBox*>(&box)->text().startsWith(QStringLiteral("The directory \"")));
      ClickBox(box, QMessageBox::Yes);
    });
    ClickControl(d, 1);
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Accepted));
  });
  QVERIFY(b.ui->RunCertDetailsDialog(details));
  QVERIFY(errorSnapped);
  QCOMPARE(details.hostName, std::string("other"));
  QCOMPARE(details.organization, std::string("Acme"));
  QCOMPARE(details.country, std::string("us"));
  QCOMPARE(details.password, std::string("longenough123456"));
  QCOMPARE(details.certFile, b.PathStd(QStringLiteral("new/dir/ca1.crt")));
  QVERIFY(QFileInfo(b.Path(QStringLiteral("new/dir"))).isDir());
  QCOMPARE(b.runner.unanswered, 0);
  QCOMPARE(int(b.runner.Boxes().size()), 5);
}

void GuiViewsTest::detailsDialogModes() {
  MainBench b;
  b.Open();
  const std::string dir = b.dir.path().toStdString() + "/";
  {  // New server certificate and keys: empty names until a host name is typed.
    kvapp::CertDetailsDialog details(b.logic, kvapp::kModeNewServer, dir, "");
    details.organization = "Acme";
    details.country = "US";
    b.runner.handlers.push_back([&](QDialog& d) {
      QCOMPARE(d.windowTitle(), QStringLiteral("Create new Certificate and Keys"));
      TypeInto(d, 1016, QStringLiteral("web2"));
      QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 1019))->text(), b.Path(QStringLiteral("web2.crt")));
      QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 1017))->text(), QStringLiteral("Acme"));
      Snap(d, QStringLiteral("details_new_server"));
      ClickControl(d, 2);
    });
    QVERIFY(!b.ui->RunCertDetailsDialog(details));
  }
  {  // Certificate for an existing key: the key file is fixed.
    kvapp::CertDetailsDialog details(b.logic, kvapp::kModeCertForKey, b.dir.path().toStdString(), "/web1");
    b.runner.handlers.push_back([&](QDialog& d) {
      QCOMPARE(d.windowTitle(), QStringLiteral("Create new Certificate"));
      for (int id : {1020, 1022, 1024}) QVERIFY(!FindControl(&d, id)->isEnabled());
      for (int id : {1016, 1017, 1018, 1019, 1021, 1023}) QVERIFY(FindControl(&d, id)->isEnabled());
      // The key file as it is named on disk.
      QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 1020))->text(), b.Path(QStringLiteral("web1.KEY")));
      QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 1019))->text(), b.Path(QStringLiteral("web1.crt")));
      TypeInto(d, 1016, QStringLiteral("web1.example.com"));
      TypeInto(d, 1017, QStringLiteral("Acme"));
      TypeInto(d, 1018, QStringLiteral("DE"));
      TypeInto(d, 1021, QStringLiteral("serverpw"));
      Snap(d, QStringLiteral("details_cert_for_key"));
      ClickControl(d, 1);
    });
    QVERIFY(b.ui->RunCertDetailsDialog(details));
    QCOMPARE(details.password, std::string("serverpw"));
  }
  QCOMPARE(b.runner.unanswered, 0);
}

void GuiViewsTest::rootPasswordPrompt() {
  Bench b;
  std::string password = "left over";
  b.runner.handlers.push_back([](QDialog& d) {
    QCOMPARE(d.windowTitle(), QStringLiteral("Root Key Password"));
    auto* edit = qobject_cast<QLineEdit*>(FindControl(&d, 1015));
    QVERIFY(edit != nullptr);
    QVERIFY(edit->text().isEmpty());
    QCOMPARE(edit->echoMode(), QLineEdit::Password);
    QVERIFY(d.findChild<QLabel*>(QStringLiteral("prompt"))->text() == QStringLiteral("Enter password to unlock root key."));
    TypeInto(d, 1015, QStringLiteral("0123456789abcdefXYZ"));
    Snap(d, QStringLiteral("password"));
    ClickControl(d, 1);
  });
  QVERIFY(b.ui->AskRootPassword(password));
  QCOMPARE(password, std::string("0123456789abcdef"));
  b.runner.handlers.push_back(TypeRootPassword(QStringLiteral("whatever"), true));
  QVERIFY(!b.ui->AskRootPassword(password));
  QVERIFY(password.empty());
}

// The profile's radio buttons in the New Root dialog: the modern one enables
// the key size and lets the password fields take 64 characters; back to
// classic the size returns to 2048 bits, a longer password can still be
// shortened, and OK refuses it with the classic message. The prompt of a
// modern root takes 64 characters too.
void GuiViewsTest::detailsDialogProfileChoice() {
  MainBench b;
  b.Open();
  kvapp::CertDetailsDialog details(b.logic, kvapp::kModeNewRoot, b.dir.path().toStdString() + "/", "ca2");
  b.runner.handlers.push_back([&](QDialog& d) {
    auto* view = qobject_cast<kvgui::CertDetailsView*>(&d);
    QVERIFY(view != nullptr);
    auto* password = view->field(1021);
    TypeInto(d, 1017, QStringLiteral("Acme"));
    TypeInto(d, 1018, QStringLiteral("US"));
    TypeInto(d, 1021, QString(20, QLatin1Char('p')));
    QCOMPARE(password->text(), QString(16, QLatin1Char('p')));
    ClickControl(d, 1041);
    QVERIFY(view->keySizeCombo()->isEnabled());
    TypeInto(d, 1021, QString(70, QLatin1Char('p')));
    TypeInto(d, 1022, QString(63, QLatin1Char('p')));
    QCOMPARE(password->text(), QString(64, QLatin1Char('p')));
    view->keySizeCombo()->setFocus();
    QTest::keyClick(view->keySizeCombo(), Qt::Key_End);
    QCOMPARE(details.keyBits, 4096);
    ClickControl(d, 1040);
    QVERIFY(view->profileButton(1040)->isChecked() && !view->profileButton(1041)->isChecked());
    QCOMPARE(view->keySizeCombo()->currentText(), QStringLiteral("2048 bits"));
    QVERIFY(!view->keySizeCombo()->isEnabled());
    // Over the classic limit now: a character more is not taken, one less is.
    QTest::keyClick(password, Qt::Key_End);
    QTest::keyClicks(password, QStringLiteral("q"));
    QCOMPARE(password->text().size(), 64);
    QTest::keyClick(password, Qt::Key_Backspace);
    QCOMPARE(password->text().size(), 63);
    b.runner.handlers.push_back([](QDialog& box) {
      QCOMPARE(qobject_cast<QMessageBox*>(&box)->text(),
               QStringLiteral("Key password must be between 8 and 16 characters."));
      ClickBox(box, QMessageBox::Ok);
    });
    ClickControl(d, 1);
    QVERIFY(d.isVisible());
    ClickControl(d, 2);
  });
  QVERIFY(!b.ui->RunCertDetailsDialog(details));
  QCOMPARE(details.profile, kvapp::kProfileClassic);
  QCOMPARE(details.keyBits, 0);

  std::string rootPassword;
  b.runner.handlers.push_back(TypeRootPassword(QString(70, QLatin1Char('r'))));
  QVERIFY(b.ui->AskRootPasswordUpTo(kvapp::kModernPasswordMaxChars, rootPassword));
  QCOMPARE(rootPassword, std::string(64, 'r'));
  QCOMPARE(b.runner.unanswered, 0);
}

void GuiViewsTest::progressWindowIsPaintedBeforeTheWork() {
  Bench b;
  b.ui->ShowProgress("Creating root certficate and keys...");
  kvgui::ProgressWindow* w = b.ui->progressWindow();
  QVERIFY(w != nullptr);
  // Painted before ShowProgress returned, that is before the blocking work.
  QVERIFY(w->paintCount() > 0);
  QVERIFY(w->isVisible());
  QVERIFY(w->windowTitle().isEmpty());
  QCOMPARE(qobject_cast<QLabel*>(FindControl(w, 1025))->text(), QStringLiteral("Creating root certficate and keys..."));
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  QVERIFY((w->geometry().center() - centre).manhattanLength() <= 2);
  Snap(*w, QStringLiteral("progress"));
  b.ui->HideProgress();
  QVERIFY(b.ui->progressWindow() == nullptr);
}

void GuiViewsTest::contentsDialogShowsSixFieldsInOrder() {
  Bench b;
  kvapp::CertContentsFields fields;
  fields.subject = "Country = US, Organization = Acme Widgets International, Common Name = www.example.com";
  fields.issuer = "Country = US, Organization = Acme Widgets International, Common Name = kvroot";
  fields.startDate = "Wed Jan 02 02:03:55 2025";
  fields.endDate = "Tue Dec 28 02:03:55 2044";
  fields.version = "X.509 v3";
  fields.serialNumber = "0123456789ABCDEF";
  b.runner.handlers.push_back([&](QDialog& d) {
    QCOMPARE(d.windowTitle(), QStringLiteral("Certificate Contents"));
    const int order[] = {2052, 2053, 2054, 2057, 2055, 2056};
    const std::string* values[] = {&fields.subject, &fields.issuer,  &fields.startDate,
                                   &fields.endDate, &fields.version, &fields.serialNumber};
    const char* labels[] = {"Subject:", "Issuer:", "Start Date:", "End Date:", "Version:", "Serial Number:"};
    int lastY = -1;
    for (int i = 0; i < 6; ++i) {
      auto* edit = qobject_cast<QLineEdit*>(FindControl(&d, order[i]));
      QVERIFY(edit != nullptr);
      QVERIFY(edit->isReadOnly());
      QCOMPARE(edit->text().toStdString(), *values[i]);
      auto* label = d.findChild<QLabel*>(QStringLiteral("label_%1").arg(order[i]));
      QCOMPARE(label->text(), QString::fromUtf8(labels[i]));
      QVERIFY(edit->y() > lastY);
      lastY = edit->y();
    }
    Snap(d, QStringLiteral("contents"));
    ClickControl(d, 1);
  });
  b.ui->ShowCertContents(fields);
  QCOMPARE(b.runner.unanswered, 0);
}

void GuiViewsTest::aboutFromTheContextMenu() {
  MainBench b;
  b.Open();
  b.runner.menuHandlers.push_back([](QMenu& menu) { return menu.findChild<QAction*>(QStringLiteral("aboutAction")) ? menu.findChild<QAction*>(QStringLiteral("aboutAction")) : nullptr; });
  b.runner.menuHandlers.back() = [](QMenu& menu) -> QAction* {
    for (QAction* a : menu.actions()) {
      if (a->objectName() == QStringLiteral("aboutAction")) {
        if (a->text() != QStringLiteral("&About Parlo/Agent Certificate Utility...")) return nullptr;
        return a;
      }
    }
    return nullptr;
  };
  bool seen = false;
  b.runner.handlers.push_back([&](QDialog& d) {
    seen = true;
    QCOMPARE(d.windowTitle(), QStringLiteral("About Parlo/Agent Certificate Utility"));
    QCOMPARE(qobject_cast<QLabel*>(FindControl(&d, 1027))->text(),
             QStringLiteral("Parlo/Agent Certificate Utility 4.4 [020]"));
    Snap(d, QStringLiteral("about"));
    ClickControl(d, 1);
  });
  // A right-button click on the dialog's background.
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(4, b.view.height() - 4),
                          b.view.mapToGlobal(QPoint(4, b.view.height() - 4)));
  QApplication::sendEvent(&b.view, &event);
  QVERIFY(seen);
  QCOMPARE(b.runner.unanswered, 0);
}

void GuiViewsTest::messageBoxesHaveCaptionAndIcons() {
  Bench b;
  b.runner.handlers.push_back(Answer());
  b.ui->ShowError("Certificate File <a.crt> Does not Exist \n\n");
  b.runner.handlers.push_back(Answer());
  b.ui->ShowMessage("Certificate is valid.");
  b.runner.handlers.push_back(Answer(QMessageBox::Yes));
  QVERIFY(b.ui->AskYesNo("Create it?"));
  b.runner.handlers.push_back(Answer(QMessageBox::No));
  QVERIFY(!b.ui->AskYesNo("Create it?"));
  const std::vector<Shown> boxes = b.runner.Boxes();
  QCOMPARE(int(boxes.size()), 4);
  for (const Shown& s : boxes) QCOMPARE(s.title, kCaption);
  QCOMPARE(boxes[0].icon, QMessageBox::Critical);
  QCOMPARE(boxes[0].text, QStringLiteral("Certificate File <a.crt> Does not Exist \n\n"));
  QCOMPARE(boxes[1].icon, QMessageBox::NoIcon);
  QCOMPARE(boxes[2].icon, QMessageBox::NoIcon);
  QCOMPARE(boxes[2].name, QStringLiteral("questionBox"));
}

void GuiViewsTest::busyPointer() {
  Bench b;
  b.ui->SetBusyPointer(true);
  QVERIFY(QApplication::overrideCursor() != nullptr);
  QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  b.ui->SetBusyPointer(false);
  QVERIFY(QApplication::overrideCursor() == nullptr);
  b.ui->SetBusyPointer(false);  // unbalanced: ignored
  QCOMPARE(b.ui->busyDepth(), 0);
}

void GuiViewsTest::helpTopicsForEveryControlAndDialog() {
  MainBench b;
  const kvgui::HelpDocument& help = b.ui->help();
  QVERIFY2(!help.topics().empty(), "help document not loaded");
  std::vector<QWidget*> views = {&b.view};
  kvapp::CertDetailsDialog details(b.logic, kvapp::kModeNewRoot, "/tmp/", "kvroot");
  kvgui::CertDetailsView detailsView(details, *b.ui, nullptr);
  kvgui::CertContentsView contents(kvapp::CertContentsFields{}, *b.ui, nullptr);
  kvgui::RootPasswordView password(*b.ui, nullptr);
  kvgui::AboutView about(QStringLiteral("x"), *b.ui, nullptr);
  kvgui::ProgressWindow progress(QStringLiteral("x"), nullptr);
  kvgui::KeyPasswordView keyPassword(kvapp::PasswordRequest{}, true, *b.ui, nullptr);
  std::vector<QWidget*> all = {&b.view, &detailsView, &contents, &password, &about, &progress, &keyPassword};
#ifdef KVAPP_CERT_COMMANDS
  kvapp::IssuedDialog issued(b.logic);
  kvgui::IssuedView issuedView(issued, *b.ui, nullptr);
  all.push_back(&issuedView);
#endif
  for (QWidget* w : all) {
    const int templateId = w->objectName().mid(6).toInt();
    QVERIFY2(help.Find(0x20000 + templateId) != nullptr, qPrintable(w->objectName()));
    for (QWidget* c : w->findChildren<QWidget*>()) {
      if (!c->property(kvgui::kControlIdProperty).isValid()) continue;
      const uint32_t topic = 0x50000 + c->property(kvgui::kControlIdProperty).toUInt();
      QVERIFY2(help.Find(topic) != nullptr, qPrintable(QString::number(topic, 16)));
      QVERIFY(!help.Find(topic)->body.isEmpty());
    }
  }
  QVERIFY(help.Find(131174) != nullptr);
}

void GuiViewsTest::helpRequestsShowTheirTopics() {
  MainBench b;
  b.Open();
  // F1 on the directory combo.
  b.view.directoryCombo()->setFocus();
  QTest::keyClick(b.view.directoryCombo(), Qt::Key_F1);
  QCOMPARE(b.ui->lastHelpCommand(), kvapp::HelpCommand::kContextPopup);
  QCOMPARE(b.ui->lastHelpContext(), 0x50000u + 1009);
  QVERIFY(b.ui->lastHelpText().contains(QStringLiteral("Current Directory")));
  // What's This on the file list (a click in What's This mode).
  QHelpEvent whatsThis(QEvent::WhatsThis, QPoint(5, 5), b.view.fileList()->viewport()->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(b.view.fileList()->viewport(), &whatsThis);
  QCOMPARE(b.ui->lastHelpContext(), 0x50000u + 1013);
  // The context menu's What's This over a button.
  b.runner.menuHandlers.push_back([](QMenu& menu) -> QAction* {
    for (QAction* a : menu.actions()) {
      if (a->objectName() == QStringLiteral("whatsThisAction")) return a;
    }
    return nullptr;
  });
  QPushButton* verify = b.view.button(1008);
  const QPoint at = verify->mapTo(&b.view, verify->rect().center());
  QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, b.view.mapToGlobal(at));
  QApplication::sendEvent(&b.view, &menuEvent);
  QCOMPARE(b.ui->lastHelpCommand(), kvapp::HelpCommand::kContextPopup);
  QCOMPARE(b.ui->lastHelpContext(), 0x50000u + 1008);
  // &Help: the dialog's topic in the help window.
  ClickControl(b.view, 57670);
  QCOMPARE(b.ui->lastHelpCommand(), kvapp::HelpCommand::kContext);
  QCOMPARE(b.ui->lastHelpContext(), 131174u);
  QVERIFY(b.ui->helpWindow() != nullptr && b.ui->helpWindow()->isVisible());
  QVERIFY(b.ui->helpWindow()->toPlainText().contains(QStringLiteral("New Root Certificate and Keys")));
  // The details dialog answers F1 the same way.
  kvapp::CertDetailsDialog details(b.logic, kvapp::kModeNewRoot, b.dir.path().toStdString() + "/", "kvroot");
  b.runner.handlers.push_back([&](QDialog& d) {
    auto* country = FindControl(&d, 1018);
    country->setFocus();
    QTest::keyClick(country, Qt::Key_F1);
    QCOMPARE(b.ui->lastHelpContext(), 0x50000u + 1018);
    ClickControl(d, 2);
  });
  b.ui->RunCertDetailsDialog(details);
  // Closing the main dialog closes the help.
  QTest::keyClick(&b.view, Qt::Key_Escape);
  QCOMPARE(b.ui->lastHelpCommand(), kvapp::HelpCommand::kQuit);
  QTRY_VERIFY(b.ui->helpWindow() == nullptr || !b.ui->helpWindow()->isVisible());
}

void GuiViewsTest::fileDialogFilters() {
  QCOMPARE(kvgui::NameFiltersFromTable("Certificate Files (*.crt)|*.crt|Key Files (*.key)|*.key|Certificate and Key "
                                       "Files (*.crt,*.key)|*.crt;*.key|All Files (*.*)|*.*|"),
           QStringList({QStringLiteral("Certificate Files (*.crt)"), QStringLiteral("Key Files (*.key)"),
                        QStringLiteral("Certificate and Key Files (*.crt *.key)"), QStringLiteral("All Files (*)")}));
  QCOMPARE(kvgui::NameFiltersFromTable("|||"), QStringList());
  // The open dialog: filters, initial name, an existing file only.
  Bench b;
  b.WriteFile(QStringLiteral("kvroot.crt"));
  b.runner.handlers.push_back([&](QDialog& d) {
    auto* open = qobject_cast<QFileDialog*>(&d);
    QVERIFY(open != nullptr);
    QCOMPARE(open->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(open->nameFilters(),
             QStringList({QStringLiteral("Certificate Files (*.crt)"), QStringLiteral("All Files (*)")}));
    QCOMPARE(open->selectedFiles().value(0), b.Path(QStringLiteral("kvroot.crt")));
    QMetaObject::invokeMethod(open, "accept");
  });
  std::string path;
  QVERIFY(b.ui->ChooseFileToOpen("Certificate Files (*.crt)|*.crt|All Files (*.*)|*.*|", "kvroot.crt", path));
  QCOMPARE(path, b.PathStd(QStringLiteral("kvroot.crt")));
  b.runner.handlers.push_back([&](QDialog& d) { qobject_cast<QFileDialog*>(&d)->reject(); });
  QVERIFY(!b.ui->ChooseFileToOpen("All Files (*.*)|*.*|", "kvroot.crt", path));
}

void GuiViewsTest::startUpRefusesNonAdministrators() {
  {
    Bench b;
    AlwaysAdministrator no(false);
    kvapp::CertUtilityApp app(*b.context, no, nullptr);
    b.runner.handlers.push_back(Answer());
    QCOMPARE(app.Run(), 1);
    QCOMPARE(int(b.runner.Boxes().size()), 1);
    QCOMPARE(b.runner.Boxes()[0].text,
             QStringLiteral("You must be an administrator to run the Parlo/Agent Certificate Utility."));
    QCOMPARE(b.runner.Boxes()[0].icon, QMessageBox::Critical);
  }
  {
    Bench b;
    AlwaysAdministrator yes(true);
    kvapp::CertUtilityApp app(*b.context, yes, nullptr);
    bool ran = false;
    b.runner.handlers.push_back([&](QDialog& d) {
      ran = true;
      QCOMPARE(d.objectName(), QStringLiteral("dialog102"));
      QTest::keyClick(&d, Qt::Key_Escape);
    });
    QCOMPARE(app.Run(), 0);
    QVERIFY(ran);
  }
}

QTEST_MAIN(GuiViewsTest)
#include "gui_views_test.moc"
