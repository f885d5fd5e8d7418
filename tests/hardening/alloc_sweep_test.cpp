// Allocation failures swept over whole operations: allocation number k of
// the toolkits fails, for every k, until the operation runs through without
// a failure. Every failing run must report an error (a 0 is accepted only
// with a result that checks out), leave no toolkit block behind, release
// only wiped blocks, and leave no file behind but what the operation keeps
// on purpose.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "app/cert_commands.h"
#include "app/cert_details_dialog.h"
#include "app/strings.h"
#include "certkit/certkit.h"
#include "platform/os_random.h"
#include "services/kv_internal.h"
#include "services/kvservices.h"
#include "services/services_support.h"
#include "support/memory_hooks.h"

namespace {

using svctest::Bytes;
using testsupport::MemoryWatch;

// Fails allocation 1, 2, 3, ... in turn until a run makes fewer
// allocations than the one meant to fail; |next| gives the allocation to
// fail after n (every one unless told otherwise).
uint64_t Sweep(const std::function<int()>& operation, const std::function<void(uint64_t, int, const MemoryWatch&)>& check,
               const std::function<uint64_t(uint64_t)>& next = [](uint64_t n) { return n + 1; }) {
  for (uint64_t n = 1;; n = next(n)) {
    MemoryWatch watch(n);
    const int status = operation();
    if (watch.allocations() < n) {
      ::testing::Test::RecordProperty("allocations", std::to_string(watch.allocations()));
      return watch.allocations();
    }
    check(n, status, watch);
  }
}

// The paths under |dir|, relative and sorted.
std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    names.insert(std::filesystem::relative(it->path(), dir).string());
  }
  return names;
}

// The modulus of a DER key (public or private); empty when it cannot be read.
Bytes Modulus(const Bytes& key) {
  int length = 0;
  if (errKVRSADERKeyGetModulus(static_cast<int>(key.size()), key.data(), &length, nullptr) != 0) return {};
  Bytes modulus(static_cast<size_t>(length));
  if (errKVRSADERKeyGetModulus(static_cast<int>(key.size()), key.data(), &length, modulus.data()) != 0) return {};
  modulus.resize(static_cast<size_t>(length));
  return modulus;
}

// A key file is whole when both records are there, the private key
// decrypts under |password| and both keys have the same modulus.
bool KeyFileIsWhole(const std::string& path, const std::string& password) {
  Bytes publicKey(KV_KEYFILE_MAX_DATA), privateKey(KV_KEYFILE_MAX_DATA);
  int publicLength = KV_KEYFILE_MAX_DATA, privateLength = KV_KEYFILE_MAX_DATA;
  if (errKVKeyFileGetPublicKey(path.c_str(), publicKey.data(), &publicLength) != 0) return false;
  if (errKVKeyFileGetPrivateKeyEx(path.c_str(), privateKey.data(), &privateLength, password.c_str()) != 0) return false;
  publicKey.resize(static_cast<size_t>(publicLength));
  privateKey.resize(static_cast<size_t>(privateLength));
  const Bytes modulus = Modulus(publicKey);
  return !modulus.empty() && modulus == Modulus(privateKey);
}

svctest::KeyPair MakeKeyPair(int modulusBytes) {
  svctest::KeyPair pair;
  pair.publicKey.resize(KV_KEYFILE_MAX_DATA);
  pair.privateKey.resize(KV_KEYFILE_MAX_DATA);
  int publicLength = KV_KEYFILE_MAX_DATA, privateLength = KV_KEYFILE_MAX_DATA;
  EXPECT_EQ(errKVKeyGen(modulusBytes, pair.publicKey.data(), &publicLength, pair.privateKey.data(), &privateLength), 0);
  pair.publicKey.resize(static_cast<size_t>(publicLength));
  pair.privateKey.resize(static_cast<size_t>(privateLength));
  return pair;
}

// The smallest key that signs with sha1WithRSAEncryption (a 35-byte
// DigestInfo and 11 bytes of PKCS #1 padding): 512 bits.
const svctest::KeyPair& SigningKey() {
  static const svctest::KeyPair pair = MakeKeyPair(64);
  return pair;
}

int Size(const Bytes& b) { return static_cast<int>(b.size()); }

// A request made by errKVGenCertReq, copied out; the buffer and object are
// released at once.
int MakeRequest(const svctest::KeyPair& keys, const CertNameFields& subject, Bytes& request) {
  unsigned char* der = nullptr;
  int length = 0;
  C_CERT_REQUEST_OBJ object = nullptr;
  const int status = errKVGenCertReq(Size(keys.privateKey), keys.privateKey.data(), Size(keys.publicKey),
                                     keys.publicKey.data(), subject, &der, &length, &object, 0);
  request.clear();
  if (status == 0 && der != nullptr && length > 0) request.assign(der, der + length);
  vKVCertReqFreeReq(der);
  C_DestroyCertRequestObject(&object);
  return status;
}

// errKVGenCert into |path|, the returned encoding copied out.
int IssueCertificate(const std::string& path, const svctest::KeyPair& issuerKeys, const CertNameFields& issuer,
                     const Bytes& request, Bytes& certificate) {
  C_CERT_OBJ object = nullptr;
  unsigned char* der = nullptr;
  int length = 0;
  const int status = errKVGenCert(path.c_str(), Size(issuerKeys.privateKey), issuerKeys.privateKey.data(), issuer,
                                  Size(request), request.data(), &object, &length, &der, 0);
  certificate.clear();
  if (status == 0 && der != nullptr && length > 0) certificate.assign(der, der + length);
  vKVCertFreeCert(der);
  C_DestroyCertObject(&object);
  return status;
}

// The common checks of a failing run.
void ExpectCleanRelease(const char* operation, uint64_t n, const MemoryWatch& watch) {
  EXPECT_EQ(watch.leakedBlocks(), 0) << operation << ", allocation " << n << " failing";
  EXPECT_EQ(watch.unwipedReleases(), 0) << operation << ", allocation " << n << " failing";
}

TEST(ServiceAllocationSweep, KeyGeneration256Bits) {
  Bytes publicKey(KV_KEYFILE_MAX_DATA), privateKey(KV_KEYFILE_MAX_DATA);
  int publicLength = 0, privateLength = 0;
  const uint64_t total = Sweep(
      [&] {
        publicLength = privateLength = KV_KEYFILE_MAX_DATA;
        return errKVKeyGen(32, publicKey.data(), &publicLength, privateKey.data(), &privateLength);
      },
      [&](uint64_t n, int status, const MemoryWatch& watch) {
        ExpectCleanRelease("errKVKeyGen", n, watch);
        if (status == 0) {
          // Recovered internally: the pair must still be a 256-bit pair.
          const Bytes pub(publicKey.begin(), publicKey.begin() + publicLength);
          const Bytes priv(privateKey.begin(), privateKey.begin() + privateLength);
          const Bytes modulus = Modulus(pub);
          EXPECT_EQ(modulus.size(), 32u) << n;
          EXPECT_EQ(modulus, Modulus(priv)) << n;
        }
      });
  EXPECT_GT(total, 0u);
}

TEST(ServiceAllocationSweep, CertificateRequest) {
  const svctest::KeyPair& keys = SigningKey();
  const CertNameFields subject = kvapp::MakeCertNameFields("US", "Acme", "web1");
  Bytes request;
  const uint64_t total = Sweep([&] { return MakeRequest(keys, subject, request); },
                               [&](uint64_t n, int status, const MemoryWatch& watch) {
                                 ExpectCleanRelease("errKVGenCertReq", n, watch);
                                 if (status == 0) {
                                   EXPECT_EQ(errKVCertReqPKCS10Verify(Size(request), request.data()), 0) << n;
                                 }
                               });
  EXPECT_GT(total, 0u);
  ASSERT_EQ(MakeRequest(keys, subject, request), 0);
  EXPECT_EQ(errKVCertReqPKCS10Verify(Size(request), request.data()), 0);
}

TEST(ServiceAllocationSweep, CertificateIssuingAndVerifying) {
  const svctest::KeyPair& keys = SigningKey();
  const CertNameFields names = kvapp::MakeCertNameFields("US", "Acme", "kvroot");
  Bytes request, certificate;
  ASSERT_EQ(MakeRequest(keys, names, request), 0);
  svctest::ScratchDir dir;
  const std::string path = dir.File("root.crt");
  const std::string dirPath = std::filesystem::path(path).parent_path().string();

  Sweep([&] { return IssueCertificate(path, keys, names, request, certificate); },
        [&](uint64_t n, int status, const MemoryWatch& watch) {
          ExpectCleanRelease("errKVGenCert", n, watch);
          if (status != 0) {
            // Nothing written: the certificate file appears only whole.
            EXPECT_TRUE(Entries(dirPath).empty()) << n;
          } else {
            EXPECT_EQ(Entries(dirPath), std::set<std::string>{"root.crt"}) << n;
            EXPECT_EQ(svctest::ReadFile(path), certificate) << n;
            EXPECT_EQ(errKVCertX509Verify(Size(keys.publicKey), keys.publicKey.data(), Size(certificate),
                                          certificate.data()),
                      0)
                << n;
          }
          std::filesystem::remove(path);
        });
  ASSERT_EQ(IssueCertificate(path, keys, names, request, certificate), 0);
  ASSERT_EQ(svctest::ReadFile(path), certificate);

  // Verifying: a good certificate may pass only when the check ran; a
  // certificate with a damaged signature must never pass.
  Bytes damaged = certificate;
  damaged[damaged.size() - 5] ^= 0x01;
  for (const Bytes* cert : {&certificate, &damaged}) {
    const bool good = cert == &certificate;
    Sweep([&] { return errKVCertX509Verify(Size(keys.publicKey), keys.publicKey.data(), Size(*cert), cert->data()); },
          [&](uint64_t n, int status, const MemoryWatch& watch) {
            ExpectCleanRelease("errKVCertX509Verify", n, watch);
            if (!good) {
              EXPECT_NE(status, 0) << "a damaged certificate passed with allocation " << n << " failing";
            }
          });
    EXPECT_EQ(errKVCertX509Verify(Size(keys.publicKey), keys.publicKey.data(), Size(*cert), cert->data()) == 0, good);
  }
}

TEST(ServiceAllocationSweep, PrivateKeyFromKeyFile) {
  const svctest::KeyPair& keys = SigningKey();
  svctest::ScratchDir dir;
  const std::string path = dir.File("k.key");
  Bytes encrypted(keys.privateKey.size() + 8);
  int inLength = Size(keys.privateKey), outLength = 0;
  ASSERT_EQ(errKVPKCS5PBEncDnc(&inLength, keys.privateKey.data(), &outLength, encrypted.data(), 8,
                               reinterpret_cast<const unsigned char*>("keypass1"), KV_PBE_ENCRYPT),
            0);
  ASSERT_EQ(errKVKeyFileAddPrivateKeyToEnd(path.c_str(), encrypted.data(), outLength), 0);
  ASSERT_EQ(errKVKeyFileAddPublicKeyToEnd(path.c_str(), keys.publicKey.data(), Size(keys.publicKey)), 0);
  const Bytes fileBefore = svctest::ReadFile(path);

  for (const char* password : {"keypass1", "keypass2"}) {
    const bool right = std::strcmp(password, "keypass1") == 0;
    Bytes out(KV_KEYFILE_MAX_DATA);
    int length = 0;
    Sweep(
        [&] {
          std::fill(out.begin(), out.end(), 0);
          length = KV_KEYFILE_MAX_DATA;
          return errKVKeyFileGetPrivateKeyEx(path.c_str(), out.data(), &length, password);
        },
        [&](uint64_t n, int status, const MemoryWatch& watch) {
          ExpectCleanRelease("errKVKeyFileGetPrivateKeyEx", n, watch);
          if (status == 0) {
            EXPECT_TRUE(right) << "a wrong password passed with allocation " << n << " failing";
            EXPECT_EQ(Bytes(out.begin(), out.begin() + length), keys.privateKey) << n;
          }
        });
  }
  EXPECT_EQ(svctest::ReadFile(path), fileBefore);
}

// ---------------------------------------------------------------------------
// The root and server commands, driven through the scripted front end.

using apptest::DetailsEntry;
using apptest::Event;

class CommandSweep : public apptest::AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    ::setenv("TZ", "UTC", 1);
    main_ = std::make_unique<kvapp::MainDialog>(*context_);
    commands_ = std::make_unique<kvapp::CertCommands>(*main_);
    main_->SetCommands(commands_.get());
    ui_.RunMainDialog(*main_);
  }
  static DetailsEntry RootEntry() {
    DetailsEntry e;
    e.organization = "Acme";
    e.country = "US";
    e.password = e.confirmPassword = "rootpass1";
    return e;
  }
  static DetailsEntry ServerEntry() {
    DetailsEntry e;
    e.hostName = "web1";
    e.password = e.confirmPassword = "webpass12";
    return e;
  }
  // Runs one command with the details |entry|; true when it reported
  // |successMessage|.
  bool Run(int command, const DetailsEntry& entry, int successMessage) {
    ui_.events.clear();
    ui_.details.push_back(apptest::EnterDetails(entry));
    main_->OnCommand(command);
    EXPECT_TRUE(ui_.details.empty());
    const std::vector<Event> boxes = ui_.Boxes();
    return boxes == std::vector<Event>{{"message", kvapp::LoadString(successMessage)}};
  }
  void Select(const std::string& name) {
    main_->FillFileList();
    main_->OnFilterChosen(3);
    const auto& items = main_->controls().fileItems;
    for (size_t i = 0; i < items.size(); ++i) {
      if (items[i] == name) {
        main_->OnFileChosen(static_cast<int>(i));
        return;
      }
    }
    ADD_FAILURE() << name << " is not listed";
  }
  bool Verifies(const std::string& certificate, const std::string& issuer) {
    const Bytes cert = svctest::ReadFile(Path(certificate)), root = svctest::ReadFile(Path(issuer));
    return !cert.empty() && errKVCertX509VerifyWithCert(Size(root), root.data(), Size(cert), cert.data()) == 0;
  }
  // The directory's entries besides the settings store and the root's
  // register and pending records.
  std::set<std::string> Files() {
    std::set<std::string> names = Entries(dir_);
    for (auto it = names.begin(); it != names.end();) {
      const bool other = it->rfind("settings", 0) == 0 || it->rfind("kvroot.db", 0) == 0 ||
                         it->rfind("kvroot.pending", 0) == 0;
      it = other ? names.erase(it) : std::next(it);
    }
    return names;
  }
  // The pending records of the root (certificates written and not recorded).
  size_t PendingRecords() {
    size_t count = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(Path("kvroot.pending"), ec)) {
      if (entry.path().filename().string()[0] != '.') ++count;
    }
    return count;
  }
  // Each run issues into a register of its own: no serial number of an
  // earlier run in the same second, no pending record carried over.
  void ForgetRegister() {
    for (const char* name : {"kvroot.db", "kvroot.db-wal", "kvroot.db-shm"}) std::filesystem::remove(Path(name));
    std::filesystem::remove_all(Path("kvroot.pending"));
  }
  // A failed run that wrote its certificate kept it as a pending record (an
  // allocation failed while the register read it for its row) and said so
  // naming the file.
  bool WrittenNotRecorded(const std::string& certName) {
    if (PendingRecords() == 0) return false;
    EXPECT_EQ(PendingRecords(), 1u);
    EXPECT_TRUE(Verifies(certName, "kvroot.crt"));
    bool named = false;
    for (const Event& e : ui_.Boxes()) {
      named = named || (e.kind == "error" && e.text.find(Path(certName) + " was written") != std::string::npos);
    }
    EXPECT_TRUE(named);
    return true;
  }

  std::unique_ptr<kvapp::MainDialog> main_;
  std::unique_ptr<kvapp::CertCommands> commands_;
};

int FixedOsRandom(unsigned char* out, size_t n) {
  std::memset(out, 0x5A, n);
  return 0;
}

// The commands that make a key pair generate a 2048-bit (root) or 1024-bit
// (server) key in every run: thousands of allocations of the prime search,
// each run as slow as a whole key generation. The key generation's own
// failures are swept at every allocation above (errKVKeyGen, 256 bits: the
// same code on smaller numbers). Here the seed is made the same for every
// run (fixed system values, clock and OS random bytes, the process seed
// forgotten before each run), so that every run makes the same key with the
// same allocations: every allocation fails in turn up to the first 200 (the
// seeding and the start of the key generation) and from 20 before the key
// generation's end to the command's end (encrypting and writing the key
// file, reading the root key, the request, the certificate and its file);
// in between, every 61st.
class DeterministicSeed {
 public:
  DeterministicSeed() {
    kvplatform::SetOsRandomForTest(&FixedOsRandom);
    iKVForgetSeed();
  }
  ~DeterministicSeed() {
    kvplatform::SetOsRandomForTest(nullptr);
    iKVForgetSeed();
  }
  DeterministicSeed(const DeterministicSeed&) = delete;
  DeterministicSeed& operator=(const DeterministicSeed&) = delete;
  // The allocations errKVKeyGen makes for |modulusBytes| from a fresh seed.
  uint64_t KeyGenerationAllocations(int modulusBytes) {
    Bytes publicKey(KV_KEYFILE_MAX_DATA), privateKey(KV_KEYFILE_MAX_DATA);
    int publicLength = KV_KEYFILE_MAX_DATA, privateLength = KV_KEYFILE_MAX_DATA;
    iKVForgetSeed();
    MemoryWatch watch;
    EXPECT_EQ(errKVKeyGen(modulusBytes, publicKey.data(), &publicLength, privateKey.data(), &privateLength), 0);
    iKVForgetSeed();
    return watch.allocations();
  }

 private:
  svctest::FakePlatform platform_;
};

// Every allocation up to 200 and from |keyGenEnd| - 20 on, every 61st in
// between.
std::function<uint64_t(uint64_t)> AroundKeyGeneration(uint64_t keyGenEnd) {
  return [keyGenEnd](uint64_t n) { return n < 200 || n + 20 >= keyGenEnd ? n + 1 : std::min(n + 61, keyGenEnd - 20); };
}

// New Root Certificate and Keys. A failed run may keep the key file (it is
// written before the request and the certificate), but only whole.
TEST_F(CommandSweep, NewRootCertificateAndKeys) {
  DeterministicSeed seed;
  const uint64_t keyGenEnd = seed.KeyGenerationAllocations(256);
  auto run = [&] {
    iKVForgetSeed();
    return Run(kvapp::kIdNewRoot, RootEntry(), 2031) ? 0 : 1;
  };
  // The same allocations in every run: checked on two untouched runs.
  uint64_t untouched[2];
  for (uint64_t& count : untouched) {
    MemoryWatch watch;
    ASSERT_EQ(run(), 0);
    count = watch.allocations();
    std::filesystem::remove(Path("kvroot.crt"));
    std::filesystem::remove(Path("kvroot.key"));
  }
  ASSERT_EQ(untouched[0], untouched[1]);
  ASSERT_GT(untouched[0], keyGenEnd);

  const uint64_t total = Sweep(
      run,
      [&](uint64_t n, int status, const MemoryWatch& watch) {
        ExpectCleanRelease("New Root Certificate and Keys", n, watch);
        const std::set<std::string> files = Files();
        if (status != 0) {
          EXPECT_FALSE(files.count("kvroot.crt")) << n;
          if (files.count("kvroot.key")) {
            EXPECT_TRUE(KeyFileIsWhole(Path("kvroot.key"), "rootpass1")) << n;
          }
          EXPECT_LE(files.size(), 1u) << n;
        } else {
          EXPECT_EQ(files, (std::set<std::string>{"kvroot.crt", "kvroot.key"})) << n;
          EXPECT_TRUE(Verifies("kvroot.crt", "kvroot.crt")) << n;
        }
        std::filesystem::remove(Path("kvroot.crt"));
        std::filesystem::remove(Path("kvroot.key"));
      },
      AroundKeyGeneration(keyGenEnd));
  EXPECT_EQ(total, untouched[0]);
  EXPECT_EQ(main_->rootSelected(), 1);
  EXPECT_TRUE(Verifies("kvroot.crt", "kvroot.crt"));
}

// New Server Certificate and Keys, with a current root. A failed run may
// keep the server's key file, whole.
TEST_F(CommandSweep, NewServerCertificateAndKeys) {
  DeterministicSeed seed;
  ASSERT_TRUE(Run(kvapp::kIdNewRoot, RootEntry(), 2031));
  const uint64_t keyGenEnd = seed.KeyGenerationAllocations(128);
  auto run = [&] {
    iKVForgetSeed();
    return Run(kvapp::kIdNewServer, ServerEntry(), 2034) ? 0 : 1;
  };
  const std::set<std::string> rootFiles{"kvroot.crt", "kvroot.key"};
  const Bytes rootCert = svctest::ReadFile(Path("kvroot.crt")), rootKey = svctest::ReadFile(Path("kvroot.key"));
  const uint64_t total = Sweep(
      run,
      [&](uint64_t n, int status, const MemoryWatch& watch) {
        ExpectCleanRelease("New Server Certificate and Keys", n, watch);
        std::set<std::string> files = Files();
        for (const std::string& name : rootFiles) EXPECT_EQ(files.erase(name), 1u) << n;
        if (status != 0 && WrittenNotRecorded("web1.crt")) {
          EXPECT_EQ(files, (std::set<std::string>{"web1.crt", "web1.key"})) << n;
        } else if (status != 0) {
          EXPECT_FALSE(files.count("web1.crt")) << n;
          if (files.count("web1.key")) {
            EXPECT_TRUE(KeyFileIsWhole(Path("web1.key"), "webpass12")) << n;
          }
          EXPECT_LE(files.size(), 1u) << n;
        } else {
          EXPECT_EQ(files, (std::set<std::string>{"web1.crt", "web1.key"})) << n;
          EXPECT_TRUE(Verifies("web1.crt", "kvroot.crt")) << n;
        }
        std::filesystem::remove(Path("web1.crt"));
        std::filesystem::remove(Path("web1.key"));
        ForgetRegister();
      },
      AroundKeyGeneration(keyGenEnd));
  EXPECT_GT(total, keyGenEnd);
  EXPECT_TRUE(Verifies("web1.crt", "kvroot.crt"));
  EXPECT_TRUE(KeyFileIsWhole(Path("web1.key"), "webpass12"));
  EXPECT_EQ(svctest::ReadFile(Path("kvroot.crt")), rootCert);
  EXPECT_EQ(svctest::ReadFile(Path("kvroot.key")), rootKey);
}

// Create Server Certificate for an existing key file makes no key: every
// allocation fails in turn. The key file is only read and stays as it was.
TEST_F(CommandSweep, CreateServerCertificateForKeyFile) {
  DeterministicSeed seed;
  ASSERT_TRUE(Run(kvapp::kIdNewRoot, RootEntry(), 2031));
  ASSERT_TRUE(Run(kvapp::kIdNewServer, ServerEntry(), 2034));
  std::filesystem::remove(Path("web1.crt"));
  ForgetRegister();
  const Bytes serverKey = svctest::ReadFile(Path("web1.key"));
  DetailsEntry entry;
  entry.hostName = "web1";
  entry.password = "webpass12";
  auto run = [&] {
    Select("web1.key");
    return Run(kvapp::kIdCreateServerCert, entry, 2036) ? 0 : 1;
  };
  const uint64_t total = Sweep(run, [&](uint64_t n, int status, const MemoryWatch& watch) {
    ExpectCleanRelease("Create Server Certificate", n, watch);
    const std::set<std::string> files = Files();
    EXPECT_EQ(svctest::ReadFile(Path("web1.key")), serverKey) << n;
    if (status != 0 && WrittenNotRecorded("web1.crt")) {
      EXPECT_EQ(files, (std::set<std::string>{"kvroot.crt", "kvroot.key", "web1.crt", "web1.key"})) << n;
    } else if (status != 0) {
      EXPECT_EQ(files, (std::set<std::string>{"kvroot.crt", "kvroot.key", "web1.key"})) << n;
    } else {
      EXPECT_TRUE(Verifies("web1.crt", "kvroot.crt")) << n;
    }
    std::filesystem::remove(Path("web1.crt"));
    ForgetRegister();
  });
  EXPECT_GT(total, 0u);
  EXPECT_TRUE(Verifies("web1.crt", "kvroot.crt"));
}

}  // namespace
