#include "cli/cli_session.h"

#include <memory>
#include <string>

#include "app/cert_details_dialog.h"
#include "app/cert_utility_app.h"
#include "app/context.h"
#include "app/key_files.h"
#include "app/main_dialog.h"
#include "app/strings.h"
#include "app/utf8_text.h"
#include "cli/export_files.h"
#include "cli/terminal_input.h"
#include "cli/terminal_ui.h"
#include "platform/administrator.h"
#include "platform/file_system.h"
#include "platform/settings_store.h"
#include "services/kvservices.h"
#ifdef KVAPP_CERT_COMMANDS
#include "app/cert_commands.h"
#include "cryptokit/qmemory.h"
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
  }

  // Runs button |id|; the command's outcome gives the exit status (an
  // invalid certificate, a cancelled dialog and a failure all give 1).
  void Press(kvapp::MainDialog& main, int id) {
    status = main.OnCommand(id) == kvapp::CommandOutcome::kSucceeded ? kExitSuccess : kExitFailure;
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
  }

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
    if (!SelectCertificate(main)) return;
    RestoreRoot(main, false);
    Press(main, kvapp::kIdViewCert);
  }

  void Verify(kvapp::MainDialog& main) {
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

  // The output file of an export: refused when it exists.
  bool OutputFree(const std::string& out) {
    if (!context_.files.Find(out)) return true;
    context_.Error(FormatText(LoadString(2021), out));
    return false;
  }

  void WriteOutput(const std::string& out, const std::string& pem, mode_t mode, const char* what) {
    switch (WriteNewFile(out, pem, mode)) {
      case WriteResult::kWritten:
        ui_.Print(std::string(what) + " written to " + out + ".");
        status = kExitSuccess;
        break;
      case WriteResult::kExists:
        context_.Error(FormatText(LoadString(2021), out));
        break;
      case WriteResult::kFailed:
        context_.Error(FormatText("Unable to write file %s.", out));
        break;
    }
  }

  void ExportCert(kvapp::MainDialog& main) {
    RestoreRoot(main, false);
    const std::string cert = Absolute(inv_.arguments[0]);
    const std::string out = Absolute(inv_.Get("out"));
    if (!OutputFree(out)) return;
    std::string der;
    if (!ReadWholeFile(cert, kMaxCertificateFile, der)) {
      context_.Error(FormatText("Unable to read certificate file %s.", cert));
      return;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    if (!IsSingleDerSequence(bytes, der.size())) {
      context_.Error(FormatText("Invalid certificate file: %s.", cert));
      return;
    }
    WriteOutput(out, PemBlock("CERTIFICATE", bytes, der.size()), 0644, "Certificate");
  }

  void ExportKey(kvapp::MainDialog& main);

  const Invocation& inv_;
  TerminalUi& ui_;
  kvapp::AppContext& context_;
};

// Secret buffers of export-key, wiped whatever way they go.
struct SecretBytes {
  unsigned char data[2 * kvapp::kKeyBufferSize];
  ~SecretBytes() { QMem_Wipe(data, sizeof data); }
};
struct SecretText {
  std::string text;
  ~SecretText() { kvapp::WipeString(text); }
};

void Session::ExportKey(kvapp::MainDialog& main) {
  RestoreRoot(main, false);
  const std::string keyFile = Absolute(inv_.arguments[0]);
  const std::string out = Absolute(inv_.Get("out"));
  if (!OutputFree(out)) return;
  if (!context_.FileExists(keyFile)) {
    context_.Error(FormatText("Unable to read key file %s.", keyFile));
    return;
  }
  PasswordSources& sources = *passwords;
  SecretText password;
  if (sources.keyPassword.has_value()) {
    password.text = *sources.keyPassword;
  } else if (!ui_.AskTerminalPassword("Key Password: ", "--password-file", password.text)) {
    return;
  }
  // No key password is longer than the details dialog takes: refused, not cut.
  if (kvapp::CertDetailsDialog::TooLong(kvapp::kIdPassword, password.text)) {
    context_.Error(2013);
    return;
  }
  SecretBytes key;
  int keyLength = kvapp::kKeyBufferSize;
  int rc = errKVKeyFileGetPrivateKeyEx(keyFile.c_str(), key.data, &keyLength, password.text.c_str());
  if (rc == Q_ERR_INPUT_DATA) {
    context_.Error(2024);
    return;
  }
  if (rc != 0 || keyLength <= 0 || keyLength > kvapp::kKeyBufferSize) {
    context_.Error(FormatText(kvapp::FormatNumber("Unable to read the private key of %s (error %d).", rc), keyFile));
    return;
  }
  if (inv_.Has("unencrypted")) {
    SecretText pem{PemBlock("PRIVATE KEY", key.data, static_cast<size_t>(keyLength))};
    WriteOutput(out, pem.text, 0600, "Private key");
    return;
  }
  SecretText exportPassword, confirm;
  if (sources.exportPassword.has_value()) {
    exportPassword.text = confirm.text = *sources.exportPassword;
  } else if (!ui_.AskTerminalPassword("Export Password: ", "--export-password-file", exportPassword.text) ||
             !ui_.AskTerminalPassword("Confirm Export Password: ", "--export-password-file", confirm.text)) {
    return;
  }
  if (exportPassword.text != confirm.text) {
    context_.Error(2012);
    return;
  }
  if (kvapp::Utf8Length(exportPassword.text) < 8) {
    context_.Error("Export password must be at least 8 characters.");
    return;
  }
  if (kvapp::Utf8Length(exportPassword.text) > kMaxInputLine) {
    context_.Error(FormatText("Export password must be at most %s characters.", std::to_string(kMaxInputLine)));
    return;
  }
  unsigned char salt[8];
  if (errKVRandomGetNumber(sizeof salt, salt) != 0) {
    context_.Error("Unable to make a random salt.");
    return;
  }
  SecretBytes encrypted;
  size_t encryptedLength = sizeof encrypted.data;
  rc = EncryptPrivateKeyInfo(key.data, static_cast<size_t>(keyLength), exportPassword.text, salt, kExportIterations,
                             encrypted.data, &encryptedLength);
  if (rc != 0) {
    context_.Error(kvapp::FormatNumber("Unable to encrypt the private key (error %d).", rc));
    return;
  }
  SecretText pem{PemBlock("ENCRYPTED PRIVATE KEY", encrypted.data, encryptedLength)};
  WriteOutput(out, pem.text, 0600, "Private key");
}

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
                              FileOption{"export-password-file", &passwords.exportPassword}}) {
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
