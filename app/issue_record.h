// Recording each certificate in its root's register in the same step as its
// file is written, and recording later what a stopped or failed command
// wrote but did not record.
//
// The order of an issue: the certificate is made in memory; a pending note
// (pending_records.h) reserves its serial number and keeps its DER; the
// register is asked whether the serial number is taken; the file is written
// atomically; the row is recorded; the note goes. A process killed at any
// point leaves either nothing, or a note that the next command resolves:
// dropped when no file was written, dropped when the row is in already,
// offered for recording when the file is there and the row is not.
#ifndef KVCATOOL_APP_ISSUE_RECORD_H
#define KVCATOOL_APP_ISSUE_RECORD_H

#include <functional>
#include <string>
#include <vector>

#include "app/context.h"
#include "services/kvservices.h"

namespace kvapp {

// How an issue ended.
enum class IssueOutcome {
  kRecorded,            // the file is written and recorded
  kWrittenNotRecorded,  // the file is written; the register could not record it (reported, note kept)
  kFailed,              // nothing was written (reported)
  kFileNotWritten,      // the certificate file could not be written (a line says which); nothing recorded
};

// Makes a newly signed certificate's DER in |der|; false after telling the
// user why it could not.
using MakeCertificate = std::function<bool(std::vector<unsigned char>& der)>;

// Issues under root |rootCertPath| the certificate |make| makes, writing it
// to |certPath| and recording it under |profile| ("classic" or "modern").
// A serial number the register (or a note) holds already is never written:
// with |retryNextSecond| (the classic serial is the issue second and bytes
// of the key) the next second is waited for and |make| called again, twenty
// times at most; otherwise, or when that does not help, the issue fails.
IssueOutcome IssueAndRecord(AppContext& context, const std::string& rootCertPath, const std::string& certPath,
                            const char* profile, bool retryNextSecond, const MakeCertificate& make);

// Resolves the pending notes no process holds for root |rootCertPath|
// against its open register |reg| (database |databasePath|): a note whose
// row is in goes; a note whose file was never written goes; for each
// certificate written and not recorded the user is asked whether to record
// it now (a yes records it, a no keeps the note for the next time).
// Returns how many it recorded.
int OfferPendingRecords(AppContext& context, KV_REGISTER* reg, const std::string& rootCertPath,
                        const std::string& databasePath);

// Test hook: with KVCATOOL_TEST_KILL_AT set to |point| the process kills
// itself with SIGKILL here ("after-note", "after-file", "after-row").
void KillPointForTest(const char* point);

}  // namespace kvapp

#endif
