// The Export menu and Change Key Password of the main window, driven through
// the real widgets: the menu's entries for the selected file, the save-as
// chooser, the password dialog, the files written (read back by the openssl
// command line) and a cancel that writes nothing.
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

#include "app/cert_commands.h"
#include "app/main_dialog.h"
#include "gui_harness.h"
#include "services/kvservices.h"

using namespace guitest;
using kvgui::FindControl;

namespace {

bool Shell(const QString& command) {
  const QByteArray line = QStringLiteral("(%1) >/dev/null 2>&1").arg(command).toLocal8Bit();
  return std::system(line.constData()) == 0;
}

// A handler that fills the details dialog and presses OK.
ScriptedRunner::Handler FillDetails(const QString& host, const QString& password) {
  return [=](QDialog& d) {
    if (!host.isEmpty()) TypeInto(d, 1016, host);
    if (host.isEmpty()) {
      TypeInto(d, 1017, QStringLiteral("Acme"));
      TypeInto(d, 1018, QStringLiteral("US"));
    }
    TypeInto(d, 1021, password);
    if (FindControl(&d, 1022)->isEnabled()) TypeInto(d, 1022, password);
    ClickControl(d, 1);
  };
}

ScriptedRunner::Handler ExpectBox(const char* name, const QString& text,
                                  QMessageBox::StandardButton button = QMessageBox::Ok) {
  return [=](QDialog& d) {
    QCOMPARE(d.objectName(), QString::fromLatin1(name));
    QCOMPARE(qobject_cast<QMessageBox*>(&d)->text(), text);
    ClickBox(d, button);
  };
}

// A menu handler that picks the Export menu's entry |id| after checking
// which entries are enabled ("1" per enabled entry, in menu order).
ScriptedRunner::MenuHandler Pick(int id, const QString& enabled, const QString& snapName = QString()) {
  return [=](QMenu& menu) -> QAction* {
    QString states;
    for (int entry : kvapp::kExportMenuEntries) {
      QAction* action = menu.findChild<QAction*>(QString::number(entry));
      states += action != nullptr && action->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    }
    [&] { QCOMPARE(states, enabled); }();
    if (!snapName.isEmpty()) {
      menu.popup(QPoint(0, 0));
      if (!QTest::qWaitForWindowExposed(&menu)) qWarning("export menu not exposed");
      Snap(menu, snapName);
      menu.hide();
    }
    return menu.findChild<QAction*>(QString::number(id));
  };
}

}  // namespace

class GuiExportsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QuietOffscreenNotes(); }
  void exportMenu();
  void changeKeyPassword();

 private:
  // A root and the server certificate web1, made through the details dialog.
  void MakeRootAndServer(Bench& b, kvgui::MainDialogView& view) {
    b.runner.handlers.push_back(FillDetails(QString(), QStringLiteral("rootpass1")));
    b.runner.handlers.push_back(
        ExpectBox("messageBox", QStringLiteral("Root certificate and keys successfully created.")));
    ClickControl(view, kvapp::kIdNewRoot);
    b.runner.handlers.push_back(FillDetails(QStringLiteral("web1"), QStringLiteral("webpass12")));
    b.runner.handlers.push_back(
        ExpectBox("messageBox", QStringLiteral("Server certificate and keys successfully created.")));
    ClickControl(view, kvapp::kIdNewServer);
    // Certificate and key files in the list.
    view.filterCombo()->setFocus();
    QTest::keyClick(view.filterCombo(), Qt::Key_Down);
    QTest::keyClick(view.filterCombo(), Qt::Key_Down);
  }
};

void GuiExportsTest::exportMenu() {
  if (std::system("openssl version >/dev/null 2>&1") != 0) QSKIP("needs openssl");
  Bench b;
  kvapp::MainDialog logic(*b.context);
  kvapp::CertCommands commands(logic);
  logic.SetCommands(&commands);
  kvgui::MainDialogView view(logic, *b.ui);
  view.Open();
  QTRY_VERIFY(view.postedMessagesRun());
  QVERIFY(!view.button(kvapp::kIdExportMenu)->isEnabled());
  MakeRootAndServer(b, view);
  b.WriteFile(QStringLiteral("export.txt"), "exportpw99\n");
  const QString exportPw = b.Path(QStringLiteral("export.txt"));

  // The key file: PKCS #12 with its certificate and the root.
  QVERIFY(ClickFile(view, QStringLiteral("web1.key")));
  QVERIFY(view.button(kvapp::kIdExportMenu)->isEnabled());
  QVERIFY(view.button(kvapp::kIdChangeKeyPassword)->isEnabled());
  Snap(view, QStringLiteral("main_export_buttons"));
  const QString p12 = b.Path(QStringLiteral("web1.p12"));
  b.runner.menuHandlers.push_back(Pick(kvapp::kIdExportPkcs12, QStringLiteral("0111"), QStringLiteral("export_menu")));
  b.runner.handlers.push_back(SaveAs(p12, p12));
  b.runner.handlers.push_back(TypePassword(QStringLiteral("Key Password"), QStringLiteral("webpass12")));
  b.runner.handlers.push_back(TypePassword(QStringLiteral("Export Password"), QStringLiteral("exportpw99"), false,
                                       QStringLiteral("export_password_dialog")));
  b.runner.handlers.push_back(ExpectBox("messageBox", QStringLiteral("PKCS #12 file written to ") + p12 + "."));
  ClickControl(view, kvapp::kIdExportMenu);
  QCOMPARE(b.runner.unanswered, 0);
  QVERIFY(Shell("openssl pkcs12 -in '" + p12 + "' -passin file:'" + exportPw +
                "' -nodes | grep -c 'BEGIN CERTIFICATE' | grep -qx 2"));
  QVERIFY(Shell("openssl pkcs12 -in '" + p12 + "' -passin file:'" + exportPw + "' -nodes | grep -q 'BEGIN PRIVATE KEY'"));
  // The outside check can fail: another password is refused.
  QVERIFY(!Shell("openssl pkcs12 -in '" + p12 + "' -passin pass:exportpw98 -nodes"));
  // The selection stays on the key file.
  QVERIFY(view.button(kvapp::kIdChangeKeyPassword)->isEnabled());

  // PKCS #8 under an export password, read by openssl.
  const QString pem = b.Path(QStringLiteral("web1.key.pem"));
  b.runner.menuHandlers.push_back(Pick(kvapp::kIdExportKeyPkcs8, QStringLiteral("0111")));
  b.runner.handlers.push_back(SaveAs(pem, pem));
  b.runner.handlers.push_back(TypePassword(QStringLiteral("Key Password"), QStringLiteral("webpass12")));
  b.runner.handlers.push_back(TypePassword(QStringLiteral("Export Password"), QStringLiteral("exportpw99")));
  b.runner.handlers.push_back(ExpectBox("messageBox", QStringLiteral("Private key written to ") + pem + "."));
  ClickControl(view, kvapp::kIdExportMenu);
  QVERIFY(Shell("openssl pkey -in '" + pem + "' -passin file:'" + exportPw + "' -noout"));
  QVERIFY(!Shell("openssl pkey -in '" + pem + "' -passin pass:exportpw98 -noout"));

  // A wrong key password, and a cancelled password dialog: nothing written.
  const QString other = b.Path(QStringLiteral("other.pem"));
  b.runner.menuHandlers.push_back(Pick(kvapp::kIdExportKeyUnencrypted, QStringLiteral("0111")));
  b.runner.handlers.push_back(SaveAs(pem, other));
  b.runner.handlers.push_back(TypePassword(QStringLiteral("Key Password"), QStringLiteral("wrongpass")));
  b.runner.handlers.push_back(ExpectBox("errorBox", QStringLiteral("Password incorrect.")));
  ClickControl(view, kvapp::kIdExportMenu);
  b.runner.menuHandlers.push_back(Pick(kvapp::kIdExportKeyPkcs8, QStringLiteral("0111")));
  b.runner.handlers.push_back(SaveAs(pem, other));
  b.runner.handlers.push_back(TypePassword(QStringLiteral("Key Password"), QStringLiteral("webpass12")));
  b.runner.handlers.push_back(TypePassword(QStringLiteral("Export Password"), QStringLiteral("exportpw99"), true));
  ClickControl(view, kvapp::kIdExportMenu);
  QVERIFY(!QFileInfo::exists(other));
  QCOMPARE(b.runner.unanswered, 0);

  // The certificate: PEM, never over an existing file.
  QVERIFY(ClickFile(view, QStringLiteral("web1.crt")));
  QVERIFY(!view.button(kvapp::kIdChangeKeyPassword)->isEnabled());
  const QString certPem = b.Path(QStringLiteral("web1.pem"));
  b.runner.menuHandlers.push_back(Pick(kvapp::kIdExportCertPem, QStringLiteral("1000")));
  b.runner.handlers.push_back(SaveAs(certPem, p12));
  b.runner.handlers.push_back(ExpectBox(
      "errorBox", QStringLiteral("File \"") + p12 + QStringLiteral("\" already exists. Choose another file name.")));
  ClickControl(view, kvapp::kIdExportMenu);
  b.runner.menuHandlers.push_back(Pick(kvapp::kIdExportCertPem, QStringLiteral("1000")));
  b.runner.handlers.push_back(SaveAs(certPem, certPem));
  b.runner.handlers.push_back(ExpectBox("messageBox", QStringLiteral("Certificate written to ") + certPem + "."));
  ClickControl(view, kvapp::kIdExportMenu);
  QVERIFY(Shell("openssl x509 -in '" + certPem + "' -noout -subject | grep -q web1"));
  QCOMPARE(b.runner.unanswered, 0);
}

void GuiExportsTest::changeKeyPassword() {
  Bench b;
  kvapp::MainDialog logic(*b.context);
  kvapp::CertCommands commands(logic);
  logic.SetCommands(&commands);
  kvgui::MainDialogView view(logic, *b.ui);
  view.Open();
  QTRY_VERIFY(view.postedMessagesRun());
  MakeRootAndServer(b, view);
  QVERIFY(ClickFile(view, QStringLiteral("web1.key")));
  const QString key = b.Path(QStringLiteral("web1.key"));
  const QString long40 = QStringLiteral("a passphrase of forty characters, long..");

  // The classic file is offered the modern form; with it the new password
  // may be up to 64 characters (a 70-character entry stops at 64).
  b.runner.handlers.push_back([](QDialog& d) {
    QCOMPARE(d.objectName(), QStringLiteral("questionBox"));
    QVERIFY(qobject_cast<QMessageBox*>(&d)->text().contains(QStringLiteral("modern form")));
    ClickBox(d, QMessageBox::Yes);
  });
  b.runner.handlers.push_back(TypePassword(QStringLiteral("Key Password"), QStringLiteral("webpass12")));
  b.runner.handlers.push_back([&](QDialog& d) {
    QCOMPARE(d.windowTitle(), QStringLiteral("New Key Password"));
    TypeInto(d, 1021, QString(70, QLatin1Char('x')));
    QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 1021))->text().size(), 64);
    TypeInto(d, 1021, long40);
    TypeInto(d, 1022, long40);
    Snap(d, QStringLiteral("new_key_password_dialog"));
    ClickControl(d, kvgui::kIdOk);
  });
  b.runner.handlers.push_back(ExpectBox(
      "messageBox", QStringLiteral("Key file ") + key + QStringLiteral(" written in the modern form under the new password.")));
  ClickControl(view, kvapp::kIdChangeKeyPassword);
  QCOMPARE(b.runner.unanswered, 0);
  QVERIFY(b.ui->progressWindow() == nullptr);
  unsigned char buffer[8192];
  int length = 4096;
  QCOMPARE(errKVKeyFileGetPrivateKeyEx(key.toStdString().c_str(), buffer, &length, long40.toStdString().c_str()), 0);
  QCOMPARE(iKeyFileIsModern(key.toStdString().c_str()), 1);

  // Mismatched entries change nothing.
  QFile file(key);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray before = file.readAll();
  file.close();
  b.runner.handlers.push_back(TypePassword(QStringLiteral("Key Password"), long40));
  b.runner.handlers.push_back([](QDialog& d) {
    TypeInto(d, 1021, QStringLiteral("newpass12"));
    TypeInto(d, 1022, QStringLiteral("newpass13"));
    ClickControl(d, kvgui::kIdOk);
  });
  b.runner.handlers.push_back(ExpectBox("errorBox", QStringLiteral("Entered password and confirmation do not match.")));
  ClickControl(view, kvapp::kIdChangeKeyPassword);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QCOMPARE(file.readAll(), before);
  QCOMPARE(b.runner.unanswered, 0);
}

QTEST_MAIN(GuiExportsTest)
#include "gui_exports_test.moc"
