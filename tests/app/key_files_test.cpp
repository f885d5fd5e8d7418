// Key files made and unlocked by the commands, over the real services.
#include "app/key_files.h"
#include "app_fixture.h"
#include "services/kvservices.h"

namespace apptest {
namespace {

class KeyFilesTest : public AppFixture {};

TEST_F(KeyFilesTest, ServerKeyFileUnlocksWithItsPasswordOnly) {
  const std::string key = Path("web1.key");
  ASSERT_EQ(kvapp::CreateServerKeyFile(*context_, key, "server-pw1"), 0);
  EXPECT_TRUE(ui_.events.empty());
  EXPECT_EQ(kvapp::CheckRootKeyPassword(*context_, key, "server-pw1"), 0);
  EXPECT_NE(kvapp::CheckRootKeyPassword(*context_, key, "server-pw2"), 0);
  EXPECT_NE(kvapp::CheckRootKeyPassword(*context_, key, ""), 0);
  EXPECT_TRUE(ui_.events.empty());  // the caller reports a wrong password

  // The file holds the encrypted private key, then the public key.
  unsigned char buffer[kvapp::kKeyBufferSize];
  int length = sizeof buffer;
  ASSERT_EQ(errKVKeyFileGetPublicKey(key.c_str(), buffer, &length), 0);
  int modulusLength = 0;
  ASSERT_EQ(errKVRSADERKeyGetModulus(length, buffer, &modulusLength, nullptr), 0);
  EXPECT_EQ(modulusLength, 128);

  // An existing key file is never overwritten.
  EXPECT_EQ(kvapp::CreateServerKeyFile(*context_, key, "server-pw1"), -1);
  EXPECT_EQ(ui_.Boxes(), (std::vector<Event>{{"error", "Key File <" + key + "> already exists \n\n"}}));
}

TEST_F(KeyFilesTest, FailuresAreReported) {
  EXPECT_EQ(kvapp::CheckRootKeyPassword(*context_, Path("none.key"), "password1"), -1);
  unsigned char publicKey[kvapp::kKeyBufferSize], privateKey[kvapp::kKeyBufferSize];
  int publicLength = sizeof publicKey, privateLength = sizeof privateKey;
  EXPECT_EQ(kvapp::GenerateKeyFile(*context_, 8, publicKey, &publicLength, privateKey, &privateLength, Path("a.key"),
                                   "password1"),
            -1);
  publicLength = privateLength = kvapp::kKeyBufferSize;
  const std::string unwritable = Path("no/such/dir/b.key");
  EXPECT_EQ(kvapp::GenerateKeyFile(*context_, 64, publicKey, &publicLength, privateKey, &privateLength, unwritable,
                                   "password1"),
            KV_KEYFILE_CANNOT_APPEND);
  EXPECT_EQ(ui_.Boxes(), (std::vector<Event>{
                             {"error", "Certificate File <" + Path("none.key") + "> Does not Exist \n\n"},
                             {"error", "Failed to create RSA key pair."},
                             {"error", "Failed to write private key to file " + unwritable + "."},
                         }));
  EXPECT_FALSE(Exists(Path("a.key")));
}

}  // namespace
}  // namespace apptest
