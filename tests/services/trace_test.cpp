// Every service operation traces its entry and exit; failures carry the
// lower layer's code.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "services/kvservices.h"
#include "services_support.h"

namespace {

using svctest::Bytes;

TEST(ServiceTrace, EveryOperationTracesEnterAndExit) {
  const svctest::KeyPair& pair = svctest::SharedKeyPair();
  ASSERT_FALSE(pair.publicKey.empty());
  svctest::ScratchDir dir;
  const std::string path = dir.File("t.key");
  svctest::TraceFile trace;

  Bytes buf(KV_KEYFILE_MAX_DATA + 8);
  int length = 0;
  unsigned char digest[16];
  pszKVCryptoMsgToString(0);
  errKVMD5(3, reinterpret_cast<const unsigned char*>("abc"), digest);
  errKVRandomGetNumber(4, buf.data());
  Q_KEY_OBJ key = nullptr;
  iKeyFromBER(pair.publicKey.data(), static_cast<int>(pair.publicKey.size()), &key, KV_KEYTYPE_PUBLIC_SPKI);
  length = static_cast<int>(buf.size());
  iKeyToBER(buf.data(), &length, key, KV_KEYTYPE_PUBLIC_SPKI);
  Q_DestroyKeyObject(&key);
  errKVRSADERKeyGetModulus(static_cast<int>(pair.publicKey.size()), pair.publicKey.data(), &length, nullptr);
  errKVRSADERKeyGetExponent(static_cast<int>(pair.publicKey.size()), pair.publicKey.data(), &length, buf.data());
  int pubLen = KV_KEYFILE_MAX_DATA, privLen = KV_KEYFILE_MAX_DATA;
  Bytes priv(KV_KEYFILE_MAX_DATA);
  errKVKeyGen(32, buf.data(), &pubLen, priv.data(), &privLen);

  int inLen = static_cast<int>(pair.privateKey.size());
  Bytes enc(pair.privateKey.size() + 8);
  errKVPKCS5PBEncDnc(&inLen, pair.privateKey.data(), &length, enc.data(), 2,
                     reinterpret_cast<const unsigned char*>("pw"), KV_PBE_ENCRYPT);
  errKVKeyFileAddPrivateKeyToEnd(path.c_str(), enc.data(), length);
  errKVKeyFileAddPublicKeyToEnd(path.c_str(), pair.publicKey.data(), static_cast<int>(pair.publicKey.size()));
  errKVKeyFileGetPublicKey(path.c_str(), buf.data(), &length);
  errKVKeyFileGetPrivateKey(path.c_str(), buf.data(), &length);
  errKVKeyFileGetPrivateKeyEx(path.c_str(), buf.data(), &length, "pw");
  iFileExists(path.c_str());

  const char* operations[] = {
      "pszKVCryptoMsgToString", "errKVMD5", "errKVRandomGetNumber", "iMakeRandomObject", "iGetSeed",
      "iUpdateSeed", "iKeyFromBER", "iKeyToBER", "errKVRSADERKeyGetModulus", "errKVRSADERKeyGetExponent",
      "errKVKeyGen", "KVKeyGenFREE", "errKVPKCS5PBEncDnc", "errKVKeyFileAddPrivateKeyToEnd",
      "errKVKeyFileAddPublicKeyToEnd", "iAddKeyToEndOfKeyFile", "errKVKeyFileGetPublicKey",
      "errKVKeyFileGetPrivateKey", "errKVKeyFileGetPrivateKeyEx", "iGetKeyFromKeyFile", "iFileExists",
  };
  for (const char* op : operations) {
    EXPECT_GE(trace.Count(std::string(op) + "(): ENTER"), 1) << op;
    EXPECT_GE(trace.Count(std::string(op) + "()") , 2) << op;
  }
  EXPECT_GE(trace.Count("(): EXIT"), 20);
  EXPECT_EQ(trace.Count("pszKVCryptoMsgToString() returning with a string: EXIT"), 1);
  EXPECT_EQ(trace.Count("Calling Q_Generate Key Pair"), 1);
  EXPECT_EQ(trace.Count("Exiting Q_Generate Key Pair"), 1);
  EXPECT_EQ(trace.Count("iGetKeyFromKeyFile(): EXIT [" + std::to_string(pair.publicKey.size()) + " bytes read]"), 1);

  // Each line: time, module, line number, text; the module is the caller's.
  const std::set<std::string> modules = {"kv_crypto_err", "kv_md5",      "kv_randseed",
                                         "kv_rsakey",     "certgeneric", "kv_keyfile"};
  for (const std::string& line : trace.Lines()) {
    std::istringstream fields(line);
    std::string stamp, module, number, text;
    fields >> stamp >> module >> number;
    std::getline(fields, text);
    EXPECT_EQ(stamp.size(), 24u) << line;
    EXPECT_EQ(modules.count(module), 1u) << line;
    EXPECT_TRUE(!number.empty() && number.find_first_not_of("0123456789") == std::string::npos) << line;
    EXPECT_GT(text.size(), 1u) << line;
  }
  EXPECT_GE(trace.Count(" kv_rsakey "), 1);
  EXPECT_GE(trace.Count(" certgeneric "), 1);
  EXPECT_GE(trace.Count(" kv_keyfile "), 1);
}

TEST(ServiceTrace, FailuresCarryTheToolkitCode) {
  const svctest::KeyPair& pair = svctest::SharedKeyPair();
  ASSERT_FALSE(pair.privateKey.empty());
  svctest::TraceFile trace;

  Bytes corrupted = pair.publicKey;
  corrupted[0] = 0x04;
  Q_KEY_OBJ key = nullptr;
  EXPECT_EQ(iKeyFromBER(corrupted.data(), static_cast<int>(corrupted.size()), &key, KV_KEYTYPE_PUBLIC_SPKI),
            KV_KEY_INVALID_DATA);
  Q_DestroyKeyObject(&key);
  EXPECT_EQ(trace.Count("iKeyFromBER(): Error in Q_SetKeyInfo [524]"), 1);

  EXPECT_EQ(iKeyFromBER(pair.publicKey.data(), 1, &key, 103), KV_KEY_BAD_TYPE);
  Q_DestroyKeyObject(&key);
  EXPECT_EQ(trace.Count("iKeyFromBER(): Error: no key type specified."), 1);

  // Decrypting 16 bytes that are not ciphertext of this password.
  Bytes junk(16, 0x33), out(16);
  int inLen = 16, outLen = 0;
  int status = errKVPKCS5PBEncDnc(&inLen, junk.data(), &outLen, out.data(), 2,
                                  reinterpret_cast<const unsigned char*>("pw"), KV_PBE_DECRYPT);
  if (status != 0) {
    EXPECT_EQ(trace.Count("errKVPKCS5PBEncDnc(): Error in Q_DecryptFinal <" + std::to_string(status) + ">"), 1);
  }

  int pubLen = 0, privLen = 0;
  EXPECT_EQ(errKVKeyGen(31, nullptr, &pubLen, nullptr, &privLen), KV_KEY_BAD_SIZE);
  EXPECT_EQ(trace.Count("errKVKeyGen(): Error in modulus size"), 1);

  svctest::ScratchDir dir;
  const std::string missing = dir.File("none.key");
  int length = 0;
  EXPECT_EQ(errKVKeyFileGetPrivateKeyEx(missing.c_str(), out.data(), &length, "pw"), KV_KEYFILE_CANNOT_READ);
  EXPECT_EQ(trace.Count("iGetKeyFromKeyFile(): Error opening file"), 1);
  EXPECT_EQ(trace.Count("Failed to Retrieve Encrypted Private Key"), 1);
  EXPECT_EQ(trace.Count("errKVKeyFileGetPrivateKeyEx(): Error in"), 0);

  pszKVCryptoMsgToString(19301);
  EXPECT_EQ(trace.Count("pszKVCryptoMsgToString(): No string found: EXIT"), 1);
}

}  // namespace
