// The Issued Certificates dialog in the desktop program: a real root and
// server certificates issued at chosen times, recorded through the dialog's
// Record Existing, the rows marked and sorted by header clicks, a revocation
// and a CRL made through the real choosers, and the main window's expiry
// line before and after. Leaves build/screenshots/issued_certificates.png.
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "app/cert_commands.h"
#include "app/crl_file.h"
#include "app/issued_dialog.h"
#include "app/main_dialog.h"
#include "gui/issued_view.h"
#include "gui_harness.h"
#include "platform/clock.h"

using namespace guitest;

namespace {

constexpr int64_t kDay = 24 * 60 * 60;
constexpr int64_t kNow = 1798761600;  // 2027-01-01 00:00:00 UTC
constexpr int64_t kValidity = KV_CERT_VALIDITY_SECONDS;
int64_t clockNow = kNow;
int64_t TestClock() { return clockNow; }

// The texts of column |column| from top to bottom.
QStringList Column(const QTableWidget& table, int column) {
  QStringList out;
  for (int r = 0; r < table.rowCount(); ++r) out << (table.item(r, column) ? table.item(r, column)->text() : QString());
  return out;
}

int RowWithSubject(const QTableWidget& table, const QString& commonName) {
  for (int r = 0; r < table.rowCount(); ++r) {
    if (table.item(r, kvapp::kColumnSubject)->text().contains(QStringLiteral("CN=") + commonName)) return r;
  }
  return -1;
}

void ClickRow(QTableWidget& table, int row) {
  const QRect cell = table.visualItemRect(table.item(row, kvapp::kColumnSubject));
  QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, cell.center());
}

void ClickHeader(QTableWidget& table, int column) {
  QHeaderView* header = table.horizontalHeader();
  const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

// A handler for a message box whose text starts with |start|: Yes for a
// question, OK otherwise; the text is kept in |text| when asked for.
ScriptedRunner::Handler AnswerBox(const QString& start, QString* text = nullptr) {
  return [=](QDialog& d) {
    auto* box = qobject_cast<QMessageBox*>(&d);
    QVERIFY(box != nullptr);
    QVERIFY2(box->text().startsWith(start), qPrintable(box->text()));
    if (text != nullptr) *text = box->text();
    ClickBox(d, box->icon() == QMessageBox::NoIcon && box->button(QMessageBox::Yes) ? QMessageBox::Yes
                                                                                      : QMessageBox::Ok);
  };
}

}  // namespace

class GuiIssuedTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QuietOffscreenNotes();
    ::setenv("TZ", "UTC", 1);
    kvplatform::SetClockForTest(TestClock);
  }
  void cleanupTestCase() { kvplatform::SetClockForTest(nullptr); }
  void issuedCertificatesDialog();
};


void GuiIssuedTest::issuedCertificatesDialog() {
  Bench b;
  kvapp::MainDialog logic(*b.context);
  kvapp::CertCommands commands(logic);
  logic.SetCommands(&commands);
  const std::string root = b.PathStd(QStringLiteral("kvroot.crt"));
  const std::string rootKey = b.PathStd(QStringLiteral("kvroot.key"));
  clockNow = kNow - 400 * kDay;
  QCOMPARE(commands.CreateRootCertAndKeys(kvapp::MakeCertNameFields("US", "Acme", "kvroot"), root, rootKey,
                                          "rootpass1"),
           0);
  // Server certificates issued so that, at kNow, one has expired, one
  // expires within 30 days and two are good for years.
  QDir().mkpath(b.Path(QStringLiteral("issued")));
  const struct {
    const char* name;
    int64_t issuedAt;
  } servers[] = {
      {"old", kNow - kValidity - 3 * kDay},
      {"soon", kNow - kValidity + 12 * kDay},
      {"web", kNow - 200 * kDay},
      {"mail", kNow - 20 * kDay},
  };
  for (const auto& s : servers) {
    clockNow = s.issuedAt;
    const std::string base = b.PathStd(QStringLiteral("issued/")) + s.name;
    QCOMPARE(commands.CreateServerCertAndKeys(kvapp::MakeCertNameFields("US", "Acme", s.name), base + ".crt",
                                              base + ".key", "serverpass", root, rootKey, "rootpass1"),
             0);
  }
  b.WriteFile(QStringLiteral("issued/broken.crt"), QByteArray("\x30\x82\x01", 3));
  clockNow = kNow;

  kvgui::MainDialogView view(logic, *b.ui);
  view.Open();
  QTRY_VERIFY(view.postedMessagesRun());
  QVERIFY(!view.button(kvapp::kIdIssuedCertificates)->isEnabled());
  logic.SetCurrentRoot(root, rootKey, "rootpass1");
  view.Refresh();
  QVERIFY(view.button(kvapp::kIdIssuedCertificates)->isEnabled());

  // Named .pem: written as PEM.
  const QString crlPath = b.Path(QStringLiteral("revoked.pem"));
  QString recordedText, revokedText;
  bool ran = false;
  b.runner.handlers.push_back([&](QDialog& d) {
    auto* v = qobject_cast<kvgui::IssuedView*>(&d);
    QVERIFY(v != nullptr);
    QTableWidget& table = *v->table();
    // Record Existing: four of ours recorded (unless issuing recorded them
    // already), the damaged file named.
    b.runner.handlers.push_back(PickDirectory(b.Path(QStringLiteral("issued"))));
    b.runner.handlers.push_back(AnswerBox(QStringLiteral("Recorded "), &recordedText));
    ClickControl(d, kvapp::kIdIssuedRecordExisting);
    QVERIFY2(recordedText.contains(QStringLiteral("broken.crt")), qPrintable(recordedText));
    QCOMPARE(table.rowCount(), 4);
    // Soonest expiry first, marked by colour and by the Status column.
    QCOMPARE(Column(table, kvapp::kColumnStatus),
             QStringList({QStringLiteral("Expired"), QStringLiteral("Expires in 12 days"), QStringLiteral("Valid"),
                          QStringLiteral("Valid")}));
    QCOMPARE(table.item(0, kvapp::kColumnSubject)->background().color(), kvgui::kExpiredRowColour);
    QCOMPARE(table.item(1, kvapp::kColumnFile)->background().color(), kvgui::kExpiringRowColour);
    QVERIFY(table.item(2, kvapp::kColumnSubject)->background().style() == Qt::NoBrush);
    QCOMPARE(table.horizontalHeader()->sortIndicatorSection(), static_cast<int>(kvapp::kColumnExpires));
    // A header click sorts by it; a second reverses.
    ClickHeader(table, kvapp::kColumnSubject);
    QVERIFY(Column(table, kvapp::kColumnSubject).at(0).startsWith(QStringLiteral("CN=mail")));
    QCOMPARE(table.horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
    ClickHeader(table, kvapp::kColumnSubject);
    QVERIFY(Column(table, kvapp::kColumnSubject).at(0).startsWith(QStringLiteral("CN=web")));
    QCOMPARE(table.horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    ClickHeader(table, kvapp::kColumnExpires);

    // Revoke "mail" for keyCompromise.
    QVERIFY(!v->button(kvapp::kIdIssuedRevoke)->isEnabled());
    ClickRow(table, RowWithSubject(table, QStringLiteral("mail")));
    QVERIFY(v->button(kvapp::kIdIssuedRevoke)->isEnabled());
    b.runner.handlers.push_back(ChooseListItem(QStringLiteral("keyCompromise")));
    b.runner.handlers.push_back(AnswerBox(QString()));  // the confirmation: Yes
    b.runner.handlers.push_back(AnswerBox(QStringLiteral("Certificate "), &revokedText));
    ClickControl(d, kvapp::kIdIssuedRevoke);
    QVERIFY2(revokedText.contains(QStringLiteral("keyCompromise")), qPrintable(revokedText));
    const int mail = RowWithSubject(table, QStringLiteral("mail"));
    QCOMPARE(table.item(mail, kvapp::kColumnStatus)->text(), QStringLiteral("Revoked (keyCompromise)"));
    QVERIFY(table.item(mail, kvapp::kColumnStatus)->isSelected());
    QVERIFY(!v->button(kvapp::kIdIssuedRevoke)->isEnabled());
    QVERIFY(v->summary()->text().startsWith(QStringLiteral("4 certificates recorded, 1 revoked.")));
    // The picture with another row selected, so that the revoked one shows grey.
    ClickRow(table, RowWithSubject(table, QStringLiteral("web")));
    Snap(d, QStringLiteral("issued_certificates"));

    // A CRL valid for 7 days.
    b.runner.handlers.push_back(SaveAs(crlPath));
    b.runner.handlers.push_back(EnterNumber(7));
    b.runner.handlers.push_back(AnswerBox(QStringLiteral("CRL number 1 written to ")));
    ClickControl(d, kvapp::kIdIssuedMakeCrl);
    ran = true;
    ClickControl(d, kvapp::kIdIssuedClose);
  });
  ClickControl(view, kvapp::kIdIssuedCertificates);
  QVERIFY(ran);
  QCOMPARE(b.runner.unanswered, 0);

  // The CRL lists the revoked serial number with its reason.
  QFile written(crlPath);
  QVERIFY(written.open(QIODevice::ReadOnly));
  QVERIFY(written.readAll().startsWith("-----BEGIN X509 CRL-----"));
  std::vector<unsigned char> der;
  QCOMPARE(kvapp::ReadCrlFile(crlPath.toStdString(), der), 0);
  kvapp::CrlContents crl;
  QCOMPARE(kvapp::ReadCrlContents(der, crl), 0);
  QCOMPARE(crl.entries.size(), size_t{1});
  QCOMPARE(crl.entries[0].reason, 1);
  QCOMPARE(crl.nextUpdate - crl.thisUpdate, 7 * kDay);
  QCOMPARE(kvapp::CheckCrlSignature(der, root), 1);

  // Under the root: one expired, one within 30 days (the revoked one is not
  // counted).
  QVERIFY(view.expiryLine()->isVisible());
  QCOMPARE(view.expiryLine()->text(), QStringLiteral("Issued certificates: 1 expired, 1 expire within 30 days."));
  Snap(view, QStringLiteral("main_with_expiry_line"));
  // A month later the line follows after the next command.
  clockNow = kNow + 20 * kDay;
  b.runner.handlers.push_back([](QDialog& d) { ClickControl(d, kvgui::kIdOk); });
  ClickControl(view, kvapp::kIdViewRoot);  // any command
  QCOMPARE(view.expiryLine()->text(), QStringLiteral("Issued certificates: 2 expired, 0 expire within 30 days."));
}

QTEST_MAIN(GuiIssuedTest)

#include "gui_issued_test.moc"
