// The desktop program end to end with the certificate commands: a root made
// through the details dialog, its password prompt, a server certificate,
// viewing and verifying it, and the button states after each step. Every
// dialog is the real widget, driven by mouse and keyboard.
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cstdlib>

#include "app/cert_commands.h"
#include "app/cert_contents.h"
#include "app/key_files.h"
#include "app/main_dialog.h"
#include "gui_harness.h"

using namespace guitest;
using kvgui::FindControl;

namespace {

QString ButtonStates(kvgui::MainDialogView& view) {
  QString s;
  for (int id : {1003, 1004, 1006, 1007, 1008}) s += view.button(id)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
  return s;
}

// A handler that fills the details dialog and presses OK.
ScriptedRunner::Handler FillDetails(const QString& host, const QString& organization, const QString& country,
                                    const QString& password, const QString& snapName = QString()) {
  return [=](QDialog& d) {
    if (!host.isEmpty()) TypeInto(d, 1016, host);
    if (!organization.isEmpty()) TypeInto(d, 1017, organization);
    if (!country.isEmpty()) TypeInto(d, 1018, country);
    TypeInto(d, 1021, password);
    if (FindControl(&d, 1022)->isEnabled()) TypeInto(d, 1022, password);
    if (!snapName.isEmpty()) Snap(d, snapName);
    ClickControl(d, 1);
  };
}

ScriptedRunner::Handler ExpectBox(const char* name, const QString& text) {
  return [=](QDialog& d) {
    QCOMPARE(d.objectName(), QString::fromLatin1(name));
    QCOMPARE(qobject_cast<QMessageBox*>(&d)->text(), text);
    ClickBox(d, QMessageBox::Ok);
  };
}

}  // namespace

class GuiCommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QuietOffscreenNotes();
    ::setenv("TZ", "UTC", 1);
  }
  void rootServerViewVerify();
  void foreignContentsShownEscaped();
  void modernServerCertificateDetails();
  void modernRootAndServerThroughTheDialogs();
};

// A root of the modern profile made by choosing it in the New Root dialog,
// with a password longer than a classic one; a server certificate under it
// with two further names typed on two lines, 3072 bits and 90 days; then a
// new start asks for the long root password. The results are read back
// through the services.
void GuiCommandsTest::modernRootAndServerThroughTheDialogs() {
  Bench b;
  const QString rootPassword = QStringLiteral("a root password of forty characters, ok!");
  const QString webPassword = QStringLiteral("the web server's thirty chars!");
  QCOMPARE(rootPassword.size(), 40);
  {
    kvapp::MainDialog logic(*b.context);
    kvapp::CertCommands commands(logic);
    logic.SetCommands(&commands);
    kvgui::MainDialogView view(logic, *b.ui);
    view.Open();
    QTRY_VERIFY(view.postedMessagesRun());

    b.runner.handlers.push_back([&](QDialog& d) {
      auto* classic = qobject_cast<QRadioButton*>(FindControl(&d, 1040));
      QVERIFY(classic != nullptr && classic->isVisible() && classic->isChecked());
      QVERIFY(!FindControl(&d, 1042)->isEnabled());
      ClickControl(d, 1041);
      QVERIFY(FindControl(&d, 1042)->isEnabled());
      QVERIFY(!FindControl(&d, 1043)->isVisible());
      TypeInto(d, 1016, QStringLiteral("Example Root"));
      TypeInto(d, 1017, QStringLiteral("Example Org"));
      TypeInto(d, 1018, QStringLiteral("US"));
      TypeInto(d, 1021, rootPassword);
      TypeInto(d, 1022, rootPassword);
      QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 1021))->text(), rootPassword);
      Snap(d, QStringLiteral("details_new_root_modern"));
      ClickControl(d, 1);
    });
    b.runner.handlers.push_back(
        ExpectBox("messageBox", QStringLiteral("Root certificate and keys successfully created.")));
    ClickControl(view, 1001);
    QCOMPARE(kvapp::CertFileProfile(b.PathStd(QStringLiteral("Example Root.crt"))), kvapp::kProfileModern);
    QVERIFY(kvapp::IsModernKeyFile(b.PathStd(QStringLiteral("Example Root.key"))));

    b.runner.handlers.push_back([&](QDialog& d) {
      QVERIFY(!FindControl(&d, 1040)->isVisible());
      for (int id : {1042, 1043, 1044}) QVERIFY2(FindControl(&d, id)->isVisible(), qPrintable(QString::number(id)));
      QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 1044))->text(), QStringLiteral("825"));
      TypeInto(d, 1016, QStringLiteral("www.example.org"));
      auto* names = qobject_cast<QPlainTextEdit*>(FindControl(&d, 1043));
      names->setFocus();
      QTest::keyClicks(names, QStringLiteral("example.org"));
      QTest::keyClick(names, Qt::Key_Return);
      QTest::keyClicks(names, QStringLiteral("192.0.2.10"));
      auto* keySize = qobject_cast<QComboBox*>(FindControl(&d, 1042));
      keySize->setFocus();
      QTest::keyClick(keySize, Qt::Key_Down);
      QCOMPARE(keySize->currentText(), QStringLiteral("3072 bits"));
      TypeInto(d, 1044, QStringLiteral("90"));
      TypeInto(d, 1021, webPassword);
      TypeInto(d, 1022, webPassword);
      Snap(d, QStringLiteral("details_new_server_modern"));
      ClickControl(d, 1);
    });
    b.runner.handlers.push_back(
        ExpectBox("messageBox", QStringLiteral("Server certificate and keys successfully created.")));
    ClickControl(view, 1004);
    QCOMPARE(b.runner.unanswered, 0);
  }
  const std::string cert = b.PathStd(QStringLiteral("www.example.org.crt"));
  QVERIFY(kvapp::IsModernKeyFile(b.PathStd(QStringLiteral("www.example.org.key"))));
  kvapp::CertContentsFields fields;
  QCOMPARE(kvapp::ReadCertContents(*b.context, cert, fields), 0);
  QCOMPARE(fields.details.signatureAlgorithm, std::string("sha256WithRSAEncryption"));
  QCOMPARE(fields.details.keyBits, 3072u);
  QCOMPARE(fields.details.notAfter - fields.details.notBefore, int64_t{90} * 86400);
  QStringList altNames;
  for (const kvapp::ExtensionInfo& e : fields.details.extensions) {
    if (e.name == "subjectAltName") {
      for (const std::string& v : e.values) altNames << QString::fromStdString(v);
    }
  }
  QCOMPARE(altNames.join(QStringLiteral(", ")),
           QStringLiteral("DNS:www.example.org, DNS:example.org, IP:192.0.2.10"));

  // A new start: the remembered modern root takes its 40-character password.
  {
    kvapp::MainDialog logic(*b.context);
    kvapp::CertCommands commands(logic);
    logic.SetCommands(&commands);
    kvgui::MainDialogView view(logic, *b.ui);
    b.runner.handlers.push_back(TypeRootPassword(rootPassword));
    view.Open();
    QTRY_VERIFY(view.postedMessagesRun());
    QCOMPARE(view.rootCertField()->text(), b.Path(QStringLiteral("Example Root.crt")));
    QCOMPARE(b.runner.unanswered, 0);
    QVERIFY(b.runner.Boxes().empty() || b.runner.Boxes().back().name != QStringLiteral("errorBox"));
  }
}

// A certificate made by OpenSSL's command line with an escape sequence in its
// common name and control bytes as its serial: the contents dialog shows
// them escaped and in hexadecimal.
void GuiCommandsTest::foreignContentsShownEscaped() {
  if (std::system("openssl version >/dev/null 2>&1") != 0) QSKIP("needs openssl");
  Bench b;
  const std::string dir = b.dir.path().toStdString();
  b.WriteFile(QStringLiteral("req.cnf"), "[req]\ndistinguished_name=dn\nstring_mask=nombstr\n[dn]\n");
  const std::string command = "cd '" + dir + "' && openssl genrsa -out o.pem 1024 && openssl req -new -x509 -sha1 "
                              "-config req.cnf -key o.pem -days 30 -set_serial 0x1B5B324A07 -subj "
                              "\"/C=US/O=Acme/CN=$(printf 'evil\\033[2J')\" -outform DER -out x.crt";
  QCOMPARE(std::system((command + " >/dev/null 2>&1").c_str()), 0);
  kvapp::MainDialog logic(*b.context);
  kvapp::CertCommands commands(logic);
  logic.SetCommands(&commands);
  kvgui::MainDialogView view(logic, *b.ui);
  view.Open();
  QTRY_VERIFY(view.postedMessagesRun());
  QVERIFY(ClickFile(view, QStringLiteral("x.crt")));
  bool shown = false;
  b.runner.handlers.push_back([&](QDialog& d) {
    const QString name = QStringLiteral("Country = US, Organization = Acme, Common Name = evil\\x1B[2J");
    QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 2052))->text(), name);
    QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 2053))->text(), name);
    QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 2056))->text(), QStringLiteral("1B5B324A07"));
    Snap(d, QStringLiteral("contents_foreign"));
    shown = true;
    ClickControl(d, 1);
  });
  ClickControl(view, 1007);
  QVERIFY(shown);
  QCOMPARE(b.runner.unanswered, 0);
}

// A server certificate as other tools make them today (ECDSA, UTF8String
// names, subjectAltName, non-critical basicConstraints, keyUsage): the six
// fields and, below them, the details area.
void GuiCommandsTest::modernServerCertificateDetails() {
  if (std::system("openssl version >/dev/null 2>&1") != 0) QSKIP("needs openssl");
  Bench b;
  const std::string dir = b.dir.path().toStdString();
  const std::string command =
      "cd '" + dir + "' && openssl req -x509 -nodes -newkey ec -pkeyopt ec_paramgen_curve:P-256 -keyout k.pem "
      "-days 90 -subj '/C=DE/O=Beispiel GmbH/CN=www.example.org' "
      "-addext 'subjectAltName=DNS:www.example.org,DNS:example.org' -addext 'basicConstraints=CA:FALSE' "
      "-addext 'keyUsage=critical,digitalSignature' -addext 'extendedKeyUsage=serverAuth' -out modern.crt";
  QCOMPARE(std::system((command + " >/dev/null 2>&1").c_str()), 0);
  kvapp::MainDialog logic(*b.context);
  kvapp::CertCommands commands(logic);
  logic.SetCommands(&commands);
  kvgui::MainDialogView view(logic, *b.ui);
  view.Open();
  QTRY_VERIFY(view.postedMessagesRun());
  QVERIFY(ClickFile(view, QStringLiteral("modern.crt")));
  bool shown = false;
  b.runner.handlers.push_back([&](QDialog& d) {
    QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 2052))->text(),
             QStringLiteral("Country = DE, Organization = Beispiel GmbH, Common Name = www.example.org"));
    auto* details = d.findChild<QPlainTextEdit*>(QStringLiteral("details"));
    QVERIFY(details != nullptr);
    const QString text = details->toPlainText();
    QVERIFY(text.contains(QStringLiteral("Signature Algorithm: ecdsa-with-SHA256\nPublic Key: EC (prime256v1)")));
    QVERIFY(text.contains(QStringLiteral("subjectAltName: DNS:www.example.org, DNS:example.org")));
    QVERIFY(text.contains(QStringLiteral("basicConstraints: CA:FALSE")));
    QVERIFY(text.contains(QStringLiteral("keyUsage (critical): Digital Signature")));
    QVERIFY(text.contains(QStringLiteral(" UTC\n")));
    Snap(d, QStringLiteral("contents_modern"));
    shown = true;
    ClickControl(d, 1);
  });
  ClickControl(view, 1007);
  QVERIFY(shown);
  QCOMPARE(b.runner.unanswered, 0);
}

void GuiCommandsTest::rootServerViewVerify() {
  Bench b;
  {
    kvapp::MainDialog logic(*b.context);
    kvapp::CertCommands commands(logic);
    logic.SetCommands(&commands);
    kvgui::MainDialogView view(logic, *b.ui);
    view.Open();
    QTRY_VERIFY(view.postedMessagesRun());
    QCOMPARE(ButtonStates(view), QStringLiteral("00000"));

    // New root: the details dialog, the progress window, the success box.
    b.runner.handlers.push_back(FillDetails(QString(), QStringLiteral("Acme"), QStringLiteral("US"),
                                            QStringLiteral("rootpass1")));
    b.runner.handlers.push_back(
        ExpectBox("messageBox", QStringLiteral("Root certificate and keys successfully created.")));
    ClickControl(view, 1001);
    QVERIFY(b.ui->progressPaintedBeforeWork());
    QVERIFY(b.ui->progressWindow() == nullptr);
    QCOMPARE(view.rootCertField()->text(), b.Path(QStringLiteral("kvroot.crt")));
    QCOMPARE(ButtonStates(view), QStringLiteral("11000"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    // A server certificate and keys, with the remembered organization.
    b.runner.handlers.push_back(FillDetails(QStringLiteral("web1"), QString(), QString(),
                                            QStringLiteral("webpass12")));
    b.runner.handlers.push_back(
        ExpectBox("messageBox", QStringLiteral("Server certificate and keys successfully created.")));
    ClickControl(view, 1004);
    QVERIFY(QFileInfo::exists(b.Path(QStringLiteral("web1.crt"))));

    // View it, with the list showing certificate and key files.
    view.filterCombo()->setFocus();
    QTest::keyClick(view.filterCombo(), Qt::Key_Down);
    QTest::keyClick(view.filterCombo(), Qt::Key_Down);
    QVERIFY(ClickFile(view, QStringLiteral("web1.crt")));
    QCOMPARE(ButtonStates(view), QStringLiteral("11011"));
    b.runner.handlers.push_back([&](QDialog& d) {
      QCOMPARE(d.windowTitle(), QStringLiteral("Certificate Contents"));
      QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 2052))->text(),
               QStringLiteral("Country = US, Organization = Acme, Common Name = web1"));
      QCOMPARE(qobject_cast<QLineEdit*>(FindControl(&d, 2053))->text(),
               QStringLiteral("Country = US, Organization = Acme, Common Name = kvroot"));
      Snap(d, QStringLiteral("contents_server"));
      ClickControl(d, 1);
    });
    ClickControl(view, 1007);
    // Verify it.
    b.runner.handlers.push_back(ExpectBox("messageBox", QStringLiteral("Certificate is valid.")));
    ClickControl(view, 1008);
    // Create a certificate for the key file, with a wrong key password first.
    QVERIFY(ClickFile(view, QStringLiteral("web1.key")));
    QCOMPARE(ButtonStates(view), QStringLiteral("11100"));
    QFile::remove(b.Path(QStringLiteral("web1.crt")));
    b.runner.handlers.push_back(FillDetails(QStringLiteral("web1"), QString(), QString(), QStringLiteral("wrongpass")));
    b.runner.handlers.push_back(ExpectBox("errorBox", QStringLiteral("\nIncorrect key Password.\n")));
    b.runner.handlers.push_back(ExpectBox("errorBox", QStringLiteral("Unable to create server certificate.")));
    ClickControl(view, 1006);
    QVERIFY(!QFileInfo::exists(b.Path(QStringLiteral("web1.crt"))));
    QCOMPARE(b.runner.unanswered, 0);
    QTest::keyClick(&view, Qt::Key_Escape);
    QVERIFY(logic.ended());
  }
  // A new start selects the remembered root after a password prompt: a wrong
  // password first, then the right one.
  {
    kvapp::MainDialog logic(*b.context);
    kvapp::CertCommands commands(logic);
    logic.SetCommands(&commands);
    kvgui::MainDialogView view(logic, *b.ui);
    b.runner.handlers.push_back(TypeRootPassword(QStringLiteral("not it")));
    b.runner.handlers.push_back(ExpectBox("errorBox", QStringLiteral("Password incorrect.")));
    b.runner.handlers.push_back(TypeRootPassword(QStringLiteral("rootpass1")));
    view.Open();
    QTRY_VERIFY(view.postedMessagesRun());
    QCOMPARE(view.rootCertField()->text(), b.Path(QStringLiteral("kvroot.crt")));
    QCOMPARE(ButtonStates(view), QStringLiteral("11000"));
    Snap(view, QStringLiteral("main_after_restart"));
    QCOMPARE(b.runner.unanswered, 0);
  }
}

QTEST_MAIN(GuiCommandsTest)
#include "gui_commands_test.moc"
