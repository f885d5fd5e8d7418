// The list of PKCS #11 modules of an NSS store: the text file pkcs11.txt in
// the store's directory, one entry per module ("library=", "name=",
// "parameters=", "NSS=" lines), entries separated by an empty line. NSS
// loads every module listed there when a program opens the store.
//
// This program adds one entry: the system trust module, which presents the
// certificates of the system's bundle of trusted certificates to NSS as
// trusted roots. Its library and the bundle it reads are the system's; the
// environment variables KVCATOOL_TRUST_MODULE and KVCATOOL_CA_BUNDLE name
// others, so that tests can use a temporary bundle.
#ifndef KVCATOOL_PLATFORM_NSS_MODULES_H
#define KVCATOOL_PLATFORM_NSS_MODULES_H

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace kvplatform {

// The module list's file name in a store's directory.
constexpr const char* kModuleListName = "pkcs11.txt";
// Largest module list read (NSS's own lists are a few hundred bytes).
constexpr size_t kMaxModuleList = 256 * 1024;

// The system trust module's library, as installed by Debian's
// p11-kit-modules on the common architectures (the first that exists is
// used), and the bundle update-ca-certificates maintains.
constexpr const char* kTrustModuleCandidates[] = {
    "/usr/lib/x86_64-linux-gnu/pkcs11/p11-kit-trust.so",
    "/usr/lib/aarch64-linux-gnu/pkcs11/p11-kit-trust.so",
    "/usr/lib/i386-linux-gnu/pkcs11/p11-kit-trust.so",
    "/usr/lib/arm-linux-gnueabihf/pkcs11/p11-kit-trust.so",
    "/usr/lib/pkcs11/p11-kit-trust.so",
};
constexpr const char* kDefaultCaBundle = "/etc/ssl/certs/ca-certificates.crt";
// The name= of the entry this program adds.
constexpr const char* kTrustModuleEntryName = "kvcatool: system trusted certificates";

// One module's entry: its "library=", "name=" and "parameters=" values
// (empty when the line is missing).
struct ModuleEntry {
  std::string library;
  std::string name;
  std::string parameters;
};

// The entries of the module list |text|. Lines are split at "\n" (a "\r"
// before it dropped); lines of other keys and lines without "=" are skipped.
std::vector<ModuleEntry> ParseModuleList(const std::string& text);

// |text| with the entry for |library| reading |bundle| appended after an
// empty line; every byte of |text| is kept as it is.
std::string AppendTrustModuleEntry(const std::string& text, const std::string& library, const std::string& bundle);

// The system trust module's settings: FromEnvironment takes the library from
// KVCATOOL_TRUST_MODULE (else the first of kTrustModuleCandidates that is a
// regular file, else the first candidate) and the bundle from
// KVCATOOL_CA_BUNDLE (else kDefaultCaBundle).
struct TrustModule {
  std::string library;
  std::string bundle;
  static TrustModule FromEnvironment();
  // True when |library| is a regular file (following links).
  bool Installed() const;
};

enum class ModuleListRead {
  kRead,      // a regular file, read whole
  kMissing,   // the directory has no pkcs11.txt (or is no directory)
  kNotAFile,  // something other than a regular file stands there (a link too), or it is too large
  kFailed,    // it could not be read
};

// Reads |directory|/pkcs11.txt into |text|, at most kMaxModuleList bytes,
// and notes its mode and owner in |mode|, |uid| and |gid|.
ModuleListRead ReadModuleList(const std::string& directory, std::string& text, mode_t& mode, uid_t& uid, gid_t& gid);

// Replaces |directory|/pkcs11.txt by |text|: written under a temporary name
// in the directory with |mode|, |uid| and |gid| (the old file's, so that a
// store of another user stays readable to that user), flushed, then renamed
// over the old file, so that the name holds the old or the new list whole.
// True when replaced; else false with |problem| saying why, the old file
// untouched and no temporary file left.
bool ReplaceModuleList(const std::string& directory, const std::string& text, mode_t mode, uid_t uid, gid_t gid,
                       std::string& problem);

}  // namespace kvplatform

#endif
