#include "app/issue_record.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/pending_records.h"
#include "app/root_register.h"
#include "platform/clock.h"
#include "platform/file_io.h"

namespace kvapp {
namespace {

// Issues of one classic certificate: the first and more, each after the
// clock has moved to the next second. A classic serial number is the second
// and the first bytes of the key's encoding, the same for all keys of one
// size, so a root issues one classic certificate a second; processes issuing
// at the same time take turns, and the loser of a second tries the next.
// Twenty seconds is ample for that and bounds a clock set back.
constexpr int kClassicAttempts = 20;
// How long the wait for the next second lasts at most, in steps of 20 ms.
constexpr int kNextSecondSteps = 100;

void SleepMilliseconds(int ms) {
  timespec pause{0, static_cast<long>(ms) * 1000000L};
  while (::nanosleep(&pause, &pause) != 0) {
  }
}

// Waits until the calendar clock shows a later second than |second|.
void WaitForNextSecond(int64_t second) {
  for (int step = 0; step < kNextSecondSteps && kvplatform::CalendarSeconds() <= second; ++step) {
    SleepMilliseconds(20);
  }
}

// True when the file |path| holds exactly |der|.
bool FileHolds(const std::string& path, const std::vector<unsigned char>& der) {
  std::string contents;
  if (!kvplatform::ReadRegularFile(path, der.size() + 1, contents)) return false;
  return contents.size() == der.size() && std::memcmp(contents.data(), der.data(), der.size()) == 0;
}

std::string WrittenNotRecordedText(const std::string& certPath, const std::string& reason, const std::string& note) {
  return "The certificate " + certPath + " was written, but it could not be recorded: " + reason +
         " Its pending record " + note + " is kept, and the next command that opens the register offers to record it.";
}

}  // namespace

void KillPointForTest(const char* point) {
  const char* at = std::getenv("KVCATOOL_TEST_KILL_AT");
  if (at != nullptr && std::strcmp(at, point) == 0) std::raise(SIGKILL);
}

IssueOutcome IssueAndRecord(AppContext& context, const std::string& rootCertPath, const std::string& certPath,
                            const char* profile, bool retryNextSecond, const MakeCertificate& make) {
  RootRegister reg(context);
  const int openStatus = reg.OpenQuietly(rootCertPath);
  if (openStatus == 0 && reg.created()) {
    // Gone since the root was chosen (deleted by hand): an empty one takes
    // its place so that this and later certificates are recorded.
    context.ui.WriteOutputLine("The register " + reg.databasePath() +
                               " was not there; a new, empty one was made. Certificates issued before can be "
                               "recorded with register-existing.");
  }
  if (openStatus == 0) OfferPendingRecords(context, reg.get(), rootCertPath, reg.databasePath());

  PendingNote note;
  PendingRecord record;
  record.certPath = certPath;
  record.profile = profile;
  const int attempts = retryNextSecond ? kClassicAttempts : 1;
  for (int attempt = 1;; ++attempt) {
    record.der.clear();
    const int64_t second = kvplatform::CalendarSeconds();
    if (!make(record.der)) return IssueOutcome::kFailed;
    record.serialHex = SerialHexOf(record.der);
    if (record.serialHex.empty()) {
      context.Error("The certificate made for " + certPath + " cannot be read back; nothing was written.");
      return IssueOutcome::kFailed;
    }
    bool taken = false;
    switch (note.Make(rootCertPath, record)) {
      case PendingNote::Made::kMade: break;
      case PendingNote::Made::kSerialTaken: taken = true; break;
      case PendingNote::Made::kCannotWrite:
        context.Error("The pending record of the certificate cannot be written in " + PendingDirectoryFor(rootCertPath) +
                      " (check that the root's directory can be written); nothing was issued.");
        return IssueOutcome::kFailed;
    }
    if (!taken && openStatus == 0) {
      IssuedEntry existing;
      const int found = FindIssued(reg.get(), record.serialHex, existing);
      if (found == 0) {
        taken = true;
        note.Remove();
      }
    }
    if (!taken) break;
    if (attempt >= attempts) {
      context.Error("A certificate with serial number " + record.serialHex + " was issued under this root already (" +
                    reg.databasePath() + "); nothing was written to " + certPath + ".");
      return IssueOutcome::kFailed;
    }
    WaitForNextSecond(second);
  }
  KillPointForTest("after-note");

  const int written = errKVWriteFileAtomically(certPath.c_str(), record.der.data(), static_cast<int>(record.der.size()));
  if (written != 0) {
    note.Remove();
    context.ui.WriteOutputLine(written == 1 ? "*** Error: Could not open certificate file <" + certPath +
                                                  "> for writing. ***"
                                            : std::string("*** Error: Could not write cerificate to disk. ***"));
    return IssueOutcome::kFileNotWritten;
  }
  KillPointForTest("after-file");

  int recorded = openStatus;
  if (recorded == 0) {
    recorded = errKVRegisterRecordCertificate(reg.get(), record.der.data(), static_cast<int>(record.der.size()),
                                              certPath.c_str(), profile, kvplatform::CalendarSeconds());
  }
  KillPointForTest("after-row");
  if (recorded != 0) {
    note.MarkWritten(rootCertPath, record);
    context.Error(WrittenNotRecordedText(certPath, RegisterErrorText(recorded, reg.databasePath()), note.path()));
    note.Release();
    return IssueOutcome::kWrittenNotRecorded;
  }
  note.Remove();
  return IssueOutcome::kRecorded;
}

int OfferPendingRecords(AppContext& context, KV_REGISTER* reg, const std::string& rootCertPath,
                        const std::string& databasePath) {
  if (reg == nullptr) return 0;
  std::vector<std::string> unreadable;
  std::vector<LeftoverNote> notes = TakeLeftoverNotes(rootCertPath, unreadable);
  for (const std::string& path : unreadable) {
    context.ui.WriteOutputLine("The pending record " + path + " cannot be read; it is left as it is.");
  }
  int count = 0;
  for (LeftoverNote& note : notes) {
    const PendingRecord& r = note.record;
    IssuedEntry entry;
    const int found = FindIssued(reg, r.serialHex, entry);
    if (found == 0) {
      if (entry.der == r.der) {
        note.Remove();  // recorded before its process stopped
      } else {
        context.Error("The pending certificate " + r.certPath + " has serial number " + r.serialHex +
                      ", which the register " + databasePath + " holds for another certificate. Its pending record " +
                      note.notePath + " is kept.");
      }
      continue;
    }
    if (found != KV_REG_NOT_FOUND) {
      context.Error(RegisterErrorText(found, databasePath));
      break;
    }
    const bool fileThere = FileHolds(r.certPath, r.der);
    if (!fileThere && !r.written) {
      // Its command stopped before the file was written: nothing was issued.
      note.Remove();
      continue;
    }
    const std::string question =
        fileThere ? "The certificate " + r.certPath + " (serial number " + r.serialHex +
                        ") was written but not recorded in the register " + databasePath + ". Record it now?"
                  : "The certificate " + r.certPath + " (serial number " + r.serialHex +
                        ") was issued but not recorded in the register " + databasePath +
                        ", and its file is gone or changed since. Record it now from its pending record?";
    if (!context.ui.AskYesNo(question)) continue;
    const int rc = errKVRegisterRecordCertificate(reg, r.der.data(), static_cast<int>(r.der.size()),
                                                  r.certPath.c_str(), r.profile.c_str(),
                                                  kvplatform::CalendarSeconds());
    if (rc != 0) {
      context.Error(RegisterErrorText(rc, databasePath));
      break;
    }
    note.Remove();
    ++count;
    context.ui.WriteOutputLine("Recorded " + r.certPath + " in the register " + databasePath + ".");
  }
  return count;
}

}  // namespace kvapp
