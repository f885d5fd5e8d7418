// File-system faults for every file the program writes: key files,
// certificate files, the settings file and the exports. Each writer
// meets a full device (a file-size limit in a child process, SIGXFSZ
// ignored, so that writes fail with EFBIG part way), a directory where its
// file should be, a symbolic link to an existing file, a dangling symbolic
// link, and a read-only directory (skipped when the tests run as root, whom
// permissions do not stop; the file-size limit of 0 stands in for it then:
// the file can be made but nothing can be written). An existing file is
// never damaged and nothing half-written stays behind.
//
// Every reader meets a pipe (with and without a writer holding it open) and
// a device in its file's place: it refuses at once with its "cannot open"
// result and never waits.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "app/app_fixture.h"
#include "app/cert_commands.h"
#include "app/key_files.h"
#include "cli/terminal_input.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/file_write.h"
#include "platform/settings_store.h"
#include "services/kvservices.h"
#include "services/services_support.h"

namespace {

namespace fs = std::filesystem;
using svctest::Bytes;

int Size(const Bytes& b) { return static_cast<int>(b.size()); }

// Runs |write| in a child process whose files may grow to |limit| bytes
// (no limit for RLIM_INFINITY); true when it reported success.
bool InChild(const std::function<bool()>& write, rlim_t limit) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    if (limit != RLIM_INFINITY) {
      struct rlimit r{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &r);
    }
    ::_exit(write() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

std::string Read(const std::string& path) {
  const Bytes b = svctest::ReadFile(path);
  return std::string(b.begin(), b.end());
}

// A 512-bit key pair and a request for it, made once.
struct Material {
  svctest::KeyPair keys;
  Bytes request;
};
const Material& SharedMaterial() {
  static const Material m = [] {
    Material out;
    out.keys.publicKey.resize(KV_KEYFILE_MAX_DATA);
    out.keys.privateKey.resize(KV_KEYFILE_MAX_DATA);
    int pubLen = KV_KEYFILE_MAX_DATA, privLen = KV_KEYFILE_MAX_DATA;
    EXPECT_EQ(errKVKeyGen(64, out.keys.publicKey.data(), &pubLen, out.keys.privateKey.data(), &privLen), 0);
    out.keys.publicKey.resize(static_cast<size_t>(pubLen));
    out.keys.privateKey.resize(static_cast<size_t>(privLen));
    unsigned char* der = nullptr;
    int length = 0;
    C_CERT_REQUEST_OBJ object = nullptr;
    EXPECT_EQ(errKVGenCertReq(privLen, out.keys.privateKey.data(), pubLen, out.keys.publicKey.data(),
                              kvapp::MakeCertNameFields("US", "Acme", "web1"), &der, &length, &object, 0),
              0);
    if (der != nullptr) out.request.assign(der, der + length);
    vKVCertReqFreeReq(der);
    C_DestroyCertRequestObject(&object);
    return out;
  }();
  return m;
}

// One writer of the program: writes |path|, true on success. |keepsOld|:
// on success the file holds the old contents and more (an appended record).
struct Writer {
  const char* name;
  std::function<bool(const std::string& path)> write;
};

class FileFaults : public apptest::AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    ASSERT_FALSE(SharedMaterial().request.empty());
    other_ = Path("other/precious");
    WriteFile("other/precious", "precious contents");
  }
  std::vector<Writer> Writers() {
    const Material& m = SharedMaterial();
    return {
        {"key file record",
         [&m](const std::string& path) {
           return errKVKeyFileAddPublicKeyToEnd(path.c_str(), m.keys.publicKey.data(), Size(m.keys.publicKey)) == 0;
         }},
        {"key file of the commands",
         [this](const std::string& path) {
           unsigned char pub[kvapp::kKeyBufferSize], priv[kvapp::kKeyBufferSize];
           int pubLen = kvapp::kKeyBufferSize, privLen = kvapp::kKeyBufferSize;
           return kvapp::GenerateKeyFile(*context_, 64, pub, &pubLen, priv, &privLen, path, "keypass1") == 0;
         }},
        {"certificate file",
         [&m](const std::string& path) {
           C_CERT_OBJ object = nullptr;
           unsigned char* der = nullptr;
           int length = 0;
           const int rc = errKVGenCert(path.c_str(), Size(m.keys.privateKey), m.keys.privateKey.data(),
                                       kvapp::MakeCertNameFields("US", "Acme", "kvroot"), Size(m.request),
                                       m.request.data(), &object, &length, &der, 0);
           vKVCertFreeCert(der);
           C_DestroyCertObject(&object);
           return rc == 0;
         }},
        {"settings file",
         [](const std::string& path) {
           return kvplatform::FileSettingsStore(path).WriteValue("SOFTWARE\\ZIDU\\KVCATOOL", "Root cert",
                                                                 std::string(300, 'r'));
         }},
        {"export",
         [](const std::string& path) {
           const std::string contents(300, 'e');
           return kvplatform::WriteNewFileAtomically(path, contents.data(), contents.size(), 0600) ==
                  kvplatform::NewFileResult::kWritten;
         }},
    };
  }
  // The work directory's entries besides "other" and the settings store.
  std::set<std::string> WorkFiles() {
    std::set<std::string> names = Entries(dir_);
    names.erase("other");
    names.erase("settings");
    return names;
  }
  std::string other_;
};

TEST_F(FileFaults, FullDeviceLeavesNothingHalfWritten) {
  for (const Writer& w : Writers()) {
    for (rlim_t limit : {rlim_t{0}, rlim_t{40}}) {
      const std::string path = Path("target");
      EXPECT_FALSE(InChild([&] { return w.write(path); }, limit)) << w.name << ", limit " << limit;
      EXPECT_TRUE(WorkFiles().empty()) << w.name << ", limit " << limit << ": " << *WorkFiles().begin();
      fs::remove_all(path);
    }
  }
}

TEST_F(FileFaults, FullDeviceKeepsAnExistingFileAsItWas) {
  for (const Writer& w : Writers()) {
    const std::string path = Path("target");
    WriteFile("target", "old contents");
    InChild([&] { return w.write(path); }, 40);
    EXPECT_EQ(Read(path), "old contents") << w.name;
    EXPECT_EQ(WorkFiles(), std::set<std::string>{"target"}) << w.name;
    fs::remove_all(path);
  }
  // /dev/full: the key file writer is the one that writes to a given path
  // in place; the others write a new file beside it and rename it.
  const Material& m = SharedMaterial();
  EXPECT_EQ(errKVKeyFileAddPublicKeyToEnd("/dev/full", m.keys.publicKey.data(), Size(m.keys.publicKey)),
            KV_KEYFILE_CANNOT_APPEND);
}

// The commands' key file fails at its second record (the public key) while
// the first (the encrypted private key) fits: the file is removed, not left
// without its public key.
TEST_F(FileFaults, KeyFileFailingAtThePublicKeyIsRemoved) {
  const std::string path = Path("whole.key");
  const std::function<bool()> write = [&] { return Writers()[1].write(path); };
  ASSERT_TRUE(InChild(write, RLIM_INFINITY));
  Bytes publicKey(KV_KEYFILE_MAX_DATA);
  int publicLength = KV_KEYFILE_MAX_DATA;
  ASSERT_EQ(errKVKeyFileGetPublicKey(path.c_str(), publicKey.data(), &publicLength), 0);
  const auto size = static_cast<rlim_t>(fs::file_size(path));
  fs::remove(path);
  const std::string target = Path("target");
  EXPECT_FALSE(InChild([&] { return Writers()[1].write(target); }, size - static_cast<rlim_t>(publicLength) + 2));
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_F(FileFaults, DirectoryWhereTheFileShouldBe) {
  for (const Writer& w : Writers()) {
    const std::string path = Path("target");
    fs::create_directory(path);
    WriteFile("target/inside", "inside");
    EXPECT_FALSE(InChild([&] { return w.write(path); }, RLIM_INFINITY)) << w.name;
    EXPECT_TRUE(fs::is_directory(path)) << w.name;
    EXPECT_EQ(Read(Path("target/inside")), "inside") << w.name;
    EXPECT_EQ(WorkFiles(), std::set<std::string>{"target"}) << w.name;
    fs::remove_all(path);
  }
}

TEST_F(FileFaults, SymbolicLinksNeverLeadToAnotherFile) {
  for (const Writer& w : Writers()) {
    for (bool dangling : {false, true}) {
      const std::string path = Path("target");
      const std::string linked = dangling ? Path("other/absent") : other_;
      fs::create_symlink(linked, path);
      const bool ok = InChild([&] { return w.write(path); }, RLIM_INFINITY);
      // The file the link points to is neither changed nor made.
      EXPECT_EQ(Read(other_), "precious contents") << w.name;
      EXPECT_FALSE(fs::exists(Path("other/absent"))) << w.name;
      // A writer that replaces its file whole may put a plain file in the
      // link's place; one that writes in place refuses.
      if (ok) {
        EXPECT_FALSE(fs::is_symlink(path)) << w.name;
      } else {
        EXPECT_TRUE(fs::is_symlink(path)) << w.name;
      }
      EXPECT_EQ(WorkFiles(), std::set<std::string>{"target"}) << w.name;
      fs::remove(path);
    }
  }
}

// A pipe in the file's place: no writer blocks on it or writes into it, and
// the writers that refuse leave it where it was.
TEST_F(FileFaults, PipeWhereTheFileShouldBe) {
  for (const Writer& w : Writers()) {
    const std::string path = Path("target");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const bool ok = InChild(
        [&] {
          ::alarm(10);  // a writer stuck opening the pipe ends the child
          return w.write(path);
        },
        RLIM_INFINITY);
    if (!ok) {
      EXPECT_TRUE(fs::is_fifo(path)) << w.name;
    }
    EXPECT_EQ(WorkFiles(), std::set<std::string>{"target"}) << w.name;
    fs::remove(path);
  }
}

TEST_F(FileFaults, ReadOnlyDirectory) {
  const std::string ro = Path("ro");
  fs::create_directory(ro);
  ::chmod(ro.c_str(), 0555);
  const std::string probe = ro + "/probe";
  if (::access(ro.c_str(), W_OK) == 0) {
    ::chmod(ro.c_str(), 0755);
    GTEST_SKIP() << "permissions do not stop this user (root); the file-size limit of 0 covers the case";
  }
  for (const Writer& w : Writers()) {
    EXPECT_FALSE(InChild([&] { return w.write(ro + "/target"); }, RLIM_INFINITY)) << w.name;
    EXPECT_TRUE(Entries(ro).empty()) << w.name;
  }
  ::chmod(ro.c_str(), 0755);
}

}  // namespace

namespace {

// One reader of the program and whether it refused |path| as a file that
// cannot be opened.
struct Reader {
  const char* name;
  std::function<bool(const std::string& path)> refuses;
};

std::vector<Reader> Readers() {
  return {
      {"certificate file",
       [](const std::string& path) {
         unsigned char* data = nullptr;
         int length = 0;
         const int rc = errKVCertReadFromFile(path.c_str(), &length, &data);
         vKVCertFreeCert(data);
         return rc == KV_CERT_FILE_NOT_FOUND;
       }},
      {"key file public key",
       [](const std::string& path) {
         unsigned char out[KV_KEYFILE_MAX_DATA];
         int length = 0;
         return errKVKeyFileGetPublicKey(path.c_str(), out, &length) == KV_KEYFILE_CANNOT_READ;
       }},
      {"key file private key",
       [](const std::string& path) {
         unsigned char out[KV_KEYFILE_MAX_DATA];
         int length = KV_KEYFILE_MAX_DATA;
         return errKVKeyFileGetPrivateKeyEx(path.c_str(), out, &length, "keypass1") == KV_KEYFILE_CANNOT_READ;
       }},
      {"key file exists", [](const std::string& path) { return iFileExists(path.c_str()) == 0; }},
      {"file exists (commands)",
       [](const std::string& path) { return !kvplatform::PosixFileSystem().CanOpenForReading(path); }},
      {"settings file",
       [](const std::string& path) {
         std::string value;
         return !kvplatform::FileSettingsStore(path).ReadValue("SOFTWARE\\ZIDU\\KVCATOOL", "Root cert", value);
       }},
      {"export source",
       [](const std::string& path) {
         std::string contents;
         return !kvplatform::ReadRegularFile(path, 1 << 20, contents);
       }},
  };
}

// What stands in the file's place.
enum class Stand { kPipe, kPipeWithWriter, kDevice };

TEST_F(FileFaults, ReadersRefusePipesAndDevicesAtOnce) {
  for (Stand stand : {Stand::kPipe, Stand::kPipeWithWriter, Stand::kDevice}) {
    const std::string path = Path("x.crt");
    int writer = -1;
    if (stand == Stand::kDevice) {
      fs::create_symlink("/dev/zero", path);  // endless zeros, never an end of file
    } else {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      // Held open for writing, never written: a blocking read would wait.
      if (stand == Stand::kPipeWithWriter) writer = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    }
    for (const Reader& r : Readers()) {
      EXPECT_TRUE(InChild(
          [&] {
            ::alarm(2);  // a reader stuck on the pipe ends the child
            return r.refuses(path);
          },
          RLIM_INFINITY))
          << r.name << " stand " << static_cast<int>(stand);
    }
    if (writer >= 0) ::close(writer);
    fs::remove(path);
  }
}

// A password file may be a pipe a script feeds (process substitution); a
// pipe without a writer reads as empty at once; a device is refused.
TEST_F(FileFaults, PasswordFileMayBeAPipeButNotADevice) {
  const std::string path = Path("pw");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_TRUE(InChild(
      [&] {
        ::alarm(2);
        std::string line = "left over";
        return kvcli::ReadFirstLineOfFile(path, line) && line.empty();
      },
      RLIM_INFINITY));
  const int writer = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "piped1234\nrest\n", 15), 15);
  EXPECT_TRUE(InChild(
      [&] {
        ::alarm(2);
        std::string line;
        return kvcli::ReadFirstLineOfFile(path, line) && line == "piped1234";
      },
      RLIM_INFINITY));
  ::close(writer);
  std::string line;
  EXPECT_FALSE(kvcli::ReadFirstLineOfFile("/dev/zero", line));
  EXPECT_FALSE(kvcli::ReadFirstLineOfFile(dir_, line));
}

}  // namespace
