// The system's store of trusted root certificates: a directory of PEM
// certificates ("anchors") that programs trust once a refresh command has
// rebuilt the system's certificate bundle from it.
//
// The directory and the command are those of the system
// (/usr/local/share/ca-certificates and update-ca-certificates); the
// environment variables KVCATOOL_CA_DIR and KVCATOOL_UPDATE_CA name others,
// so that tests can use a temporary directory and a stand-in command.
#ifndef KVCATOOL_PLATFORM_TRUST_STORE_H
#define KVCATOOL_PLATFORM_TRUST_STORE_H

#include <string>

namespace kvplatform {

// What a refresh did.
struct RefreshResult {
  bool started = false;  // the command could be run at all
  int exitStatus = -1;   // its exit status (0 success), -1 when killed by a signal or not started
  std::string output;    // its standard output and standard error, at most kMaxRefreshOutput bytes
  std::string problem;   // why it could not be run (when not started)
};

// Most bytes of a refresh command's output kept; the rest is read and dropped.
constexpr size_t kMaxRefreshOutput = 16 * 1024;

enum class AnchorRead {
  kRead,      // a regular file, read whole
  kMissing,   // nothing of that name
  kNotAFile,  // something else stands there (a link, a directory, ...) or it is too large
  kFailed,    // it could not be read
};

class SystemTrustStore {
 public:
  virtual ~SystemTrustStore() = default;
  // The directory the anchors go to, without a trailing "/".
  virtual std::string AnchorsDirectory() const = 0;
  // The refresh command as the user knows it (for messages).
  virtual std::string RefreshCommandName() const = 0;
  // Writes |contents| as the anchor |name| (a plain file name) with mode
  // 0644: under a temporary name in the directory first, then renamed over
  // |name|, so the name holds the old or the new file whole. True when
  // written; else false with |problem| saying why (the directory unchanged).
  virtual bool WriteAnchor(const std::string& name, const std::string& contents, std::string& problem) = 0;
  // Reads the anchor |name| into |contents| (at most |limit| bytes). Only a
  // regular file is read; a symbolic link is not followed.
  virtual AnchorRead ReadAnchor(const std::string& name, size_t limit, std::string& contents) = 0;
  // Removes the anchor |name|. True when removed; else false with |problem|.
  virtual bool RemoveAnchor(const std::string& name, std::string& problem) = 0;
  // Runs the refresh command without a shell, its standard input empty, and
  // waits for it.
  virtual RefreshResult Refresh() = 0;
};

// The store on this machine.
class PosixSystemTrustStore : public SystemTrustStore {
 public:
  // |directory| (default kDefaultAnchorsDirectory) and |command| (a program
  // path or a name looked up in PATH, run without arguments).
  PosixSystemTrustStore(std::string directory, std::string command);
  // The store named by KVCATOOL_CA_DIR and KVCATOOL_UPDATE_CA, each
  // defaulting to the system's when unset or empty.
  static PosixSystemTrustStore FromEnvironment();

  std::string AnchorsDirectory() const override { return directory_; }
  std::string RefreshCommandName() const override { return command_; }
  bool WriteAnchor(const std::string& name, const std::string& contents, std::string& problem) override;
  AnchorRead ReadAnchor(const std::string& name, size_t limit, std::string& contents) override;
  bool RemoveAnchor(const std::string& name, std::string& problem) override;
  RefreshResult Refresh() override;

 private:
  std::string directory_;
  std::string command_;
};

constexpr const char* kDefaultAnchorsDirectory = "/usr/local/share/ca-certificates";
constexpr const char* kDefaultRefreshCommand = "update-ca-certificates";

}  // namespace kvplatform

#endif
