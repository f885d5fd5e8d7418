// Pending records of a root: certificates on their way into the register,
// each kept as a small note in a directory beside the root certificate (the
// root's path with ".pending" for its extension) from before its file is
// written until its row is in the register. A note outlives a register that
// is locked, read-only, damaged or gone, and a process killed at any point,
// so the next command can record what was written and not recorded.
//
// A note is named by the certificate's serial number and made with an
// exclusive link, so it also reserves that serial number against another
// process issuing at the same moment. The process that makes a note holds a
// lock on it until it lets it go; a note nobody holds is left over.
#ifndef KVCATOOL_APP_PENDING_RECORDS_H
#define KVCATOOL_APP_PENDING_RECORDS_H

#include <string>
#include <vector>

namespace kvapp {

// What a note holds.
struct PendingRecord {
  std::string serialHex;  // upper-case hexadecimal, the note's name
  std::string certPath;   // where the certificate is (to be) written
  std::string profile;    // "classic" or "modern"
  std::vector<unsigned char> der;
  bool written = false;   // the file was written and the register could not record it
};

// The directory of the notes of root certificate |rootCertPath|.
std::string PendingDirectoryFor(const std::string& rootCertPath);

// A note made by this process and locked while the object lives; the note
// stays on disk unless Remove is called.
class PendingNote {
 public:
  enum class Made { kMade, kSerialTaken, kCannotWrite };

  PendingNote() = default;
  ~PendingNote() { Release(); }
  PendingNote(const PendingNote&) = delete;
  PendingNote& operator=(const PendingNote&) = delete;

  // Writes the note of |record| (flushed to the disk) for root
  // |rootCertPath|. kSerialTaken when a note of that serial number is there
  // already (another process issuing it, or one left over); kCannotWrite
  // when the directory or the note cannot be made.
  Made Make(const std::string& rootCertPath, const PendingRecord& record);
  // Marks the note as that of a certificate whose file is written (the
  // register could not record it), replacing it whole. False when it cannot
  // be rewritten; the note is then left as it was.
  bool MarkWritten(const std::string& rootCertPath, const PendingRecord& record);
  // Deletes the note (its row is in the register, or its file was never
  // written) and lets it go.
  void Remove();
  // Lets the note go and leaves it on disk for a later command.
  void Release();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// A note left over: read, and locked by this process while the object lives
// so that no other process handles it at the same time.
class LeftoverNote {
 public:
  LeftoverNote() = default;
  ~LeftoverNote();
  LeftoverNote(LeftoverNote&& other) noexcept;
  LeftoverNote(const LeftoverNote&) = delete;
  LeftoverNote& operator=(const LeftoverNote&) = delete;
  LeftoverNote& operator=(LeftoverNote&&) = delete;

  PendingRecord record;
  std::string notePath;
  // Deletes the note.
  void Remove();

 private:
  friend std::vector<LeftoverNote> TakeLeftoverNotes(const std::string&, std::vector<std::string>&);
  int fd_ = -1;
};

// The notes of root |rootCertPath| that no process holds, locked for the
// caller, in name order. Notes that cannot be read as notes are left where
// they are and their paths appended to |unreadable|. Notes held by a
// process that is issuing are skipped.
std::vector<LeftoverNote> TakeLeftoverNotes(const std::string& rootCertPath, std::vector<std::string>& unreadable);

// The serial number of the DER certificate |der| as upper-case hexadecimal
// of its content octets; empty when |der| cannot be read.
std::string SerialHexOf(const std::vector<unsigned char>& der);

}  // namespace kvapp

#endif
