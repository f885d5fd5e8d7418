#include "cli/cli_session.h"

#include <algorithm>
#include <memory>
#include <string>

#include "app/cert_details_dialog.h"
#include "app/cert_utility_app.h"
#include "app/context.h"
#include "app/key_exports.h"
#include "app/key_files.h"
#include "app/main_dialog.h"
#include "app/strings.h"
#include "cli/terminal_input.h"
#include "cli/terminal_ui.h"
#include "platform/administrator.h"
#include "platform/file_system.h"
#include "platform/settings_store.h"
#include "services/kvservices.h"
#ifdef KVAPP_CERT_COMMANDS
#include "app/cert_commands.h"
#include "app/crl_file.h"
#include "app/issued_list.h"
#include "app/register_commands.h"
#include "app/root_register.h"
#include "app/trust_root.h"
#include "cryptokit/qmemory.h"
#include "platform/clock.h"
#include "platform/trust_store.h"
#endif

namespace kvcli {
namespace {

using kvapp::FormatText;
using kvapp::LoadString;

// Indexes of the main dialog's filter combo.
int FilterIndex(const std::string& filter) {
  if (filter == "key") return 1;
  if (filter == "both") return 2;
  if (filter == "all") return 3;
  return 0;
}

std::string NotAvailable(const std::string& command) {
  return command + " is not available in this build (it was built without the certificate commands).";
}

#ifndef KVAPP_CERT_COMMANDS
// Without the certificate commands: New Root Certificate and Keys opens and
// checks the details dialog as the real command does, then says it cannot
// go on. The other commands are refused before they run.
class DetailsOnlyCommands : public kvapp::MainCommands {
 public:
  explicit DetailsOnlyCommands(kvapp::MainDialog& main) : main_(main) {}
  kvapp::CommandOutcome NewRootCertificateAndKeys() override {
    kvapp::CertDetailsDialog details(main_, kvapp::kModeNewRoot, kvapp::WithTrailingSlash(main_.currentDirectory()),
                                     LoadString(1005));
    if (!main_.context().ui.RunCertDetailsDialog(details)) return kvapp::CommandOutcome::kCancelled;
    main_.context().Error(NotAvailable("new-root"));
    return kvapp::CommandOutcome::kFailed;
  }
  kvapp::CommandOutcome SelectRootCertificate() override { return kvapp::CommandOutcome::kNotRun; }
  kvapp::CommandOutcome ViewRootCertificate() override { return kvapp::CommandOutcome::kNotRun; }
  kvapp::CommandOutcome NewServerCertificateAndKeys() override { return kvapp::CommandOutcome::kNotRun; }
  kvapp::CommandOutcome CreateServerCertificate() override { return kvapp::CommandOutcome::kNotRun; }
  kvapp::CommandOutcome ViewCertificate() override { return kvapp::CommandOutcome::kNotRun; }
  kvapp::CommandOutcome VerifyCertificate() override { return kvapp::CommandOutcome::kNotRun; }
  int SelectRoot(const std::string&) override { return 0; }

 private:
  kvapp::MainDialog& main_;
};
#endif

class Session {
 public:
  Session(const Invocation& inv, TerminalUi& ui, kvapp::AppContext& context)
      : inv_(inv), ui_(ui), context_(context) {}

  kvapp::MainCommands* commands = nullptr;
  PasswordSources* passwords = nullptr;
  int status = kExitFailure;

  void Run(kvapp::MainDialog& main) {
    switch (inv_.command) {
      case Command::kNewRoot: NewRoot(main); break;
      case Command::kSelectRoot: SelectRoot(main); break;
      case Command::kViewRoot: ViewRoot(main); break;
      case Command::kNewServer: NewServer(main); break;
      case Command::kCreateServerCert: CreateServerCert(main); break;
      case Command::kView: View(main); break;
      case Command::kVerify: Verify(main); break;
      case Command::kList: List(main); break;
      case Command::kStatus: Status(main); break;
      case Command::kExportCert: ExportCert(main); break;
      case Command::kExportKey: ExportKey(main); break;
      case Command::kExportP12: ExportP12(main); break;
      case Command::kChangePassword: ChangePassword(main); break;
      case Command::kTrustRoot: Trust(main, true); break;
      case Command::kUntrustRoot: Trust(main, false); break;
#ifdef KVAPP_CERT_COMMANDS
      case Command::kIssued: Issued(main); break;
      case Command::kRegisterExisting: RegisterExisting(main); break;
      case Command::kRevoke: Revoke(main); break;
      case Command::kCrl: Crl(main); break;
#else
      case Command::kIssued:
      case Command::kRegisterExisting:
      case Command::kRevoke:
      case Command::kCrl: break;
#endif
      case Command::kNone: break;
    }
  }

 private:
  // A path as the user gave it, relative ones taken from the working
  // directory.
  std::string Absolute(std::string path) const {
    if (path.empty() || path[0] == '/') return path;
    while (path.size() > 2 && path.compare(0, 2, "./") == 0) path.erase(0, 2);
    if (path == ".") return context_.files.WorkingDirectory();
    return context_.files.WorkingDirectory() + path;
  }

  // The start of the program: the posted restoring of the remembered root.
  // Only commands that sign with the root key ask for its password; for the
  // others the root becomes current once root selection's file and
  // self-signed checks have passed (its prompt was reached).
  void RestoreRoot(kvapp::MainDialog& main, bool withPassword) {
    ui_.rootMode = withPassword ? TerminalUi::RootPasswordMode::kAsk : TerminalUi::RootPasswordMode::kCheckOnly;
    ui_.rootPromptReached = false;
    main.RunPostedMessages();
    if (!withPassword && ui_.rootPromptReached && main.rootSelected() == 0) {
      std::string path;
      if (context_.settings.ReadValue(LoadString(1014), LoadString(1015), path)) {
        main.SetCurrentRoot(path, kvapp::KeyFileFor(context_, path), "");
      }
    }
    ui_.rootMode = TerminalUi::RootPasswordMode::kAsk;
  }

  // Selects |path| in the file list (its directory, all files). False, after
  // saying so, when the list has no such file.
  bool SelectFile(kvapp::MainDialog& main, const std::string& path) {
    const std::string parent = kvapp::DirectoryPart(path);
    const std::string dir = parent.empty() ? std::string(1, '/') : parent;
    const std::string name = kvapp::NamePart(path);
    main.EnterDirectory(dir);
    main.OnFilterChosen(3);
    const auto& items = main.controls().fileItems;
    for (size_t i = 0; i < items.size() && !name.empty(); ++i) {
      if (items[i] == name) {
        main.OnFileChosen(static_cast<int>(i));
        return true;
      }
    }
    context_.Error(FormatText("File not found: %s.", path));
    return false;
  }

  bool NeedRoot(kvapp::MainDialog& main) {
    if (main.rootSelected() != 0) return true;
    context_.Error(2001);
    return false;
  }

  void FillDetails() {
    DetailsValues& d = ui_.details;
    if (inv_.Has("host")) d.hostName = inv_.Get("host");
    if (inv_.Has("org")) d.organization = inv_.Get("org");
    if (inv_.Has("country")) d.country = inv_.Get("country");
    if (inv_.Has("cert")) d.certFile = Absolute(inv_.Get("cert"));
    if (inv_.Has("key")) d.keyFile = Absolute(inv_.Get("key"));
    // The modern profile's choices; the parser has checked their form. A
    // number given as 0 still counts as given (it is refused, not taken
    // for the default).
    if (inv_.Has("profile")) d.profile = inv_.Get("profile") == "modern" ? kvapp::kProfileModern : kvapp::kProfileClassic;
    if (inv_.Has("key-bits")) d.keyBits = GivenNumber(inv_.Get("key-bits"));
    if (inv_.Has("days")) d.days = GivenNumber(inv_.Get("days"));
    d.furtherNames = inv_.All("san");
  }

  // A number of up to nine digits; 0 becomes -1 so that the commands refuse
  // it rather than take the default.
  static int GivenNumber(const std::string& digits) {
    const int n = std::stoi(digits);
    return n == 0 ? -1 : n;
  }

  // Runs button |id|; the command's outcome gives the exit status (an
  // invalid certificate, a cancelled dialog and a failure all give 1).
  void Press(kvapp::MainDialog& main, int id) { Outcome(main.OnCommand(id)); }
  void Outcome(kvapp::CommandOutcome outcome) {
    status = outcome == kvapp::CommandOutcome::kSucceeded ? kExitSuccess : kExitFailure;
  }

  void NewRoot(kvapp::MainDialog& main) {
    RestoreRoot(main, false);
    if (inv_.Has("dir")) main.EnterDirectory(Absolute(inv_.Get("dir")));
    FillDetails();
    Press(main, kvapp::kIdNewRoot);
  }

  void SelectRoot(kvapp::MainDialog& main) {
    RestoreRoot(main, false);
    const std::string path = Absolute(inv_.arguments[0]);
    if (commands == nullptr || commands->SelectRoot(path) != 1) return;
    ui_.Print("Root certificate: " + main.rootCertPath());
    ui_.Print("Root key file: " + main.rootKeyPath());
    status = kExitSuccess;
  }

  void ViewRoot(kvapp::MainDialog& main) {
    RestoreRoot(main, false);
    if (!NeedRoot(main)) return;
    Press(main, kvapp::kIdViewRoot);
    if (status == kExitSuccess) PrintProfile(main);
  }

  // The current root's certificate profile, shown for a modern root only: a
  // classic root's output stays what it always was.
  void PrintProfile(kvapp::MainDialog& main) {
#ifdef KVAPP_CERT_COMMANDS
    if (kvapp::CertFileProfile(main.rootCertPath()) == kvapp::kProfileModern) {
      ui_.Print("Profile: " + std::string(LoadString(2053)));
    }
#else
    (void)main;
#endif
  }

  // Expiry at a glance, when the current root has a register.
  void PrintExpiryLine(kvapp::MainDialog& main) {
#ifdef KVAPP_CERT_COMMANDS
    std::string line;
    if (kvapp::RegisterExpiryLine(context_, main.rootCertPath(), kvplatform::CalendarSeconds(), line)) ui_.Print(line);
#else
    (void)main;
#endif
  }

#ifdef KVAPP_CERT_COMMANDS
  // The register of the current root.
  void Issued(kvapp::MainDialog& main);
  void RegisterExisting(kvapp::MainDialog& main);
  void Revoke(kvapp::MainDialog& main);
  void Crl(kvapp::MainDialog& main);
#endif

  void NewServer(kvapp::MainDialog& main) {
    RestoreRoot(main, true);
    if (!NeedRoot(main)) return;
    if (inv_.Has("dir")) main.EnterDirectory(Absolute(inv_.Get("dir")));
    FillDetails();
    Press(main, kvapp::kIdNewServer);
  }

  void CreateServerCert(kvapp::MainDialog& main) {
    const std::string path = Absolute(inv_.arguments[0]);
    if (!SelectFile(main, path)) return;
    if (!kvapp::EndsWithNoCase(path, LoadString(1010))) {
      context_.Error(2002);
      return;
    }
    RestoreRoot(main, true);
    if (!NeedRoot(main)) return;
    FillDetails();
    Press(main, kvapp::kIdCreateServerCert);
  }

  // Selects a certificate file for View or Verify; false after a message.
  bool SelectCertificate(kvapp::MainDialog& main) {
    const std::string path = Absolute(inv_.arguments[0]);
    if (!SelectFile(main, path)) return false;
    if (!kvapp::EndsWithNoCase(path, LoadString(1009))) {
      context_.Error(2011);
      return false;
    }
    return true;
  }

  void View(kvapp::MainDialog& main) {
#ifdef KVAPP_CERT_COMMANDS
    if (kvapp::IsCrlFileName(inv_.arguments[0])) {
      RestoreRoot(main, false);
      Outcome(kvapp::ViewCrlFile(context_, Absolute(inv_.arguments[0])));
      return;
    }
#endif
    if (!SelectCertificate(main)) return;
    RestoreRoot(main, false);
    Press(main, kvapp::kIdViewCert);
  }

  void Verify(kvapp::MainDialog& main) {
#ifdef KVAPP_CERT_COMMANDS
    if (kvapp::IsCrlFileName(inv_.arguments[0])) {
      RestoreRoot(main, false);
      if (!NeedRoot(main)) return;
      Outcome(kvapp::VerifyCrlFile(context_, Absolute(inv_.arguments[0]), main.rootCertPath()));
      return;
    }
#endif
    if (!SelectCertificate(main)) return;
    RestoreRoot(main, false);
    if (!NeedRoot(main)) return;
    Press(main, kvapp::kIdVerifyCert);
  }

  void List(kvapp::MainDialog& main) {
    RestoreRoot(main, false);
    const std::string dir = inv_.arguments.empty() ? context_.files.WorkingDirectory() : Absolute(inv_.arguments[0]);
    main.EnterDirectory(dir);
    main.OnFilterChosen(FilterIndex(inv_.Get("filter")));
    for (const std::string& name : main.controls().fileItems) ui_.Print(name);
    status = kExitSuccess;
  }

  void Status(kvapp::MainDialog& main) {
    RestoreRoot(main, false);
    if (main.rootSelected() != 0) {
      ui_.Print("Root certificate: " + main.rootCertPath());
      ui_.Print("Root key file: " + main.rootKeyPath());
      PrintProfile(main);
      PrintExpiryLine(main);
      status = kExitSuccess;
      return;
    }
    std::string remembered;
    if (!CertificateCommandsBuilt() &&
        context_.settings.ReadValue(LoadString(1014), LoadString(1015), remembered)) {
      context_.Error(FormatText(
          "The remembered root %s cannot be checked in this build (it was built without the certificate commands).",
          remembered));
      return;
    }
    ui_.Print(LoadString(2001));
  }

  // The exports and change-password: the application's commands, with the
  // output file --out names as the save-as chooser's answer.

  void ExportCert(kvapp::MainDialog& main) {
    RestoreRoot(main, false);
    ui_.saveAs = Absolute(inv_.Get("out"));
    Outcome(kvapp::ExportCertificatePem(context_, Absolute(inv_.arguments[0])));
  }

  // trust-root (|add|) and untrust-root: the current root in the system's
  // trusted certificates.
  void Trust(kvapp::MainDialog& main, bool add) {
#ifdef KVAPP_CERT_COMMANDS
    RestoreRoot(main, false);
    if (!NeedRoot(main)) return;
    kvplatform::PosixSystemTrustStore store = kvplatform::PosixSystemTrustStore::FromEnvironment();
    kvapp::NssTarget nss{inv_.Has("nss") ? Absolute(inv_.Get("nss")) : std::string(),
                         kvplatform::TrustModule::FromEnvironment()};
    const kvapp::CommandOutcome outcome = add ? kvapp::TrustRoot(context_, store, main.rootCertPath(), nss)
                                              : kvapp::UntrustRoot(context_, store, main.rootCertPath(), nss);
    status = outcome == kvapp::CommandOutcome::kSucceeded ? kExitSuccess : kExitFailure;
#else
    (void)main;
    (void)add;
#endif
  }

  void ExportKey(kvapp::MainDialog& main) {
    RestoreRoot(main, false);
    ui_.saveAs = Absolute(inv_.Get("out"));
    Outcome(kvapp::ExportPrivateKey(context_, Absolute(inv_.arguments[0]),
                                    inv_.Has("unencrypted") ? kvapp::KeyExportForm::kUnencrypted
                                                            : kvapp::KeyExportForm::kEncrypted));
  }

  void ExportP12(kvapp::MainDialog& main) {
    RestoreRoot(main, false);
    if (!NeedRoot(main)) return;
    ui_.saveAs = Absolute(inv_.Get("out"));
    kvapp::Pkcs12Export request;
    request.keyPath = Absolute(inv_.arguments[0]);
    if (inv_.Has("cert")) request.certPath = Absolute(inv_.Get("cert"));
    request.rootCertPath = main.rootCertPath();
    if (inv_.Has("name")) request.friendlyName = inv_.Get("name");
    Outcome(kvapp::ExportPkcs12(context_, request));
  }

  void ChangePassword(kvapp::MainDialog& main) {
    RestoreRoot(main, false);
    Outcome(kvapp::ChangeKeyPassword(context_, Absolute(inv_.arguments[0]),
                                     inv_.Has("upgrade") ? kvapp::KeyFileUpgrade::kUpgrade
                                                         : kvapp::KeyFileUpgrade::kKeep));
  }

  const Invocation& inv_;
  TerminalUi& ui_;
  kvapp::AppContext& context_;
};

#ifdef KVAPP_CERT_COMMANDS
// ---------------------------------------------------------------------------
// The issued-certificate register of the current root.

void Session::Issued(kvapp::MainDialog& main) {
  RestoreRoot(main, false);
  if (!NeedRoot(main)) return;
  const int64_t now = kvplatform::CalendarSeconds();
  int64_t before = -1;
  if (inv_.Has("expiring")) before = now + static_cast<int64_t>(std::stoi(inv_.Get("expiring"))) * 86400;
  kvapp::RootRegister reg(context_);
  if (reg.Open(main.rootCertPath()) != 0) return;
  std::vector<kvapp::IssuedEntry> entries;
  const int rc = kvapp::ListIssued(reg.get(), before, inv_.Has("revoked"), entries);
  if (rc != 0) {
    context_.Error(kvapp::RegisterErrorText(rc, reg.databasePath()));
    return;
  }
  // --expiring asks what is still to expire: those gone already are not listed.
  if (inv_.Has("expiring")) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [now](const kvapp::IssuedEntry& e) { return e.notAfter < now; }),
                  entries.end());
  }
  if (inv_.Has("json")) {
    ui_.Print(kvapp::IssuedJson(entries, now));
  } else if (entries.empty()) {
    ui_.Print("No certificates.");
  } else {
    for (const std::string& line : kvapp::IssuedTableLines(entries, now)) ui_.Print(line);
  }
  status = kExitSuccess;
}

void Session::RegisterExisting(kvapp::MainDialog& main) {
  RestoreRoot(main, false);
  if (!NeedRoot(main)) return;
  kvapp::RegisterExistingResult result;
  Outcome(kvapp::RegisterExisting(context_, main.rootCertPath(), Absolute(inv_.arguments[0]), result));
}

void Session::Revoke(kvapp::MainDialog& main) {
  int reason = 0;
  if (inv_.Has("reason") && (reason = kvapp::ReasonCode(inv_.Get("reason"))) < 0) {
    context_.Error("Unknown revocation reason '" + inv_.Get("reason") +
                   "': unspecified, keyCompromise, cACompromise, affiliationChanged, superseded, "
                   "cessationOfOperation, certificateHold, removeFromCRL, privilegeWithdrawn or aACompromise.");
    status = kExitUsage;
    return;
  }
  RestoreRoot(main, false);
  if (!NeedRoot(main)) return;
  Outcome(inv_.Has("serial") ? kvapp::RevokeIssued(context_, main.rootCertPath(), inv_.Get("serial"), reason)
                             : kvapp::RevokeIssuedFile(context_, main.rootCertPath(), Absolute(inv_.arguments[0]),
                                                       reason));
}

void Session::Crl(kvapp::MainDialog& main) {
  const int days = inv_.Has("days") ? std::stoi(inv_.Get("days")) : 30;
  const std::string out = Absolute(inv_.Get("out"));
  // Checked before the root password is asked for.
  if (days < 1 || days > 3650) {
    context_.Error("The CRL's validity must be from 1 to 3650 days.");
    return;
  }
  if (context_.files.Find(out)) {
    context_.Error(FormatText(LoadString(2021), out));
    return;
  }
  RestoreRoot(main, true);
  if (!NeedRoot(main)) return;
  Outcome(kvapp::MakeCrl(context_, main.rootCertPath(), main.rootKeyPath(), main.rootKeyPassword(), out, days,
                         inv_.Has("pem")));
}
#endif

}  // namespace

bool CertificateCommandsBuilt() {
#ifdef KVAPP_CERT_COMMANDS
  return true;
#else
  return false;
#endif
}

int RunInvocation(const Invocation& inv, std::FILE* out, std::FILE* err) {
  PasswordSources passwords;
  passwords.terminal = StdinIsTerminal();
  TerminalUi ui(out, err, passwords);
  if (inv.Has("yes")) ui.scriptedAnswer = true;
  if (inv.Has("no")) ui.scriptedAnswer = false;
  // Contents display: --json wins over --all.
  if (inv.Has("all")) ui.contentsForm = TerminalUi::ContentsForm::kAll;
  if (inv.Has("json")) ui.contentsForm = TerminalUi::ContentsForm::kJson;

  if (NeedsCertificateCommands(inv.command) && inv.command != Command::kNewRoot && !CertificateCommandsBuilt()) {
    ui.ShowError(NotAvailable(inv.commandName));
    return kExitFailure;
  }
  struct FileOption {
    const char* name;
    std::optional<std::string>* target;
  };
  for (const FileOption& f : {FileOption{"password-file", &passwords.keyPassword},
                              FileOption{"root-password-file", &passwords.rootPassword},
                              FileOption{"export-password-file", &passwords.exportPassword},
                              FileOption{"new-password-file", &passwords.newPassword}}) {
    if (!inv.Has(f.name)) continue;
    std::string line;
    if (!ReadFirstLineOfFile(inv.Get(f.name), line)) {
      ui.ShowError(FormatText("Unable to read password file %s.", inv.Get(f.name)));
      return kExitFailure;
    }
    *f.target = std::move(line);
  }

  kvplatform::PosixFileSystem files;
  kvplatform::SettingsWithUserFallback settings(kvplatform::FileSettingsStore::DefaultPath(),
                                                kvplatform::UserSettingsPath());
  kvapp::AppContext context{ui, files, settings};
  kvplatform::SystemAdministratorTest administrator;
  Session session(inv, ui, context);
  session.passwords = &passwords;
  kvapp::CertUtilityApp app(context, administrator, [&session](kvapp::MainDialog& main) {
#ifdef KVAPP_CERT_COMMANDS
    std::unique_ptr<kvapp::MainCommands> commands = kvapp::MakeCertCommands(main);
#else
    std::unique_ptr<kvapp::MainCommands> commands = std::make_unique<DetailsOnlyCommands>(main);
#endif
    session.commands = commands.get();
    return commands;
  });
  ui.session = [&session](kvapp::MainDialog& main) { session.Run(main); };
  if (app.Run() != 0) return kExitFailure;
  return session.status;
}

}  // namespace kvcli
