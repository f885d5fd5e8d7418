// DES and the DES-CBC methods below the Q_ interface: the known-answer tests
// of NIST SP 800-17, the CBC example of FIPS 81, the PKCS #5 padding and the
// Update/Final length rules, and the DES key forms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cryptokit/core/objects.h"
#include "cryptokit/cryptokit.h"
#include "cryptokit/des/des.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string Hex(const Bytes& b) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (uint8_t c : b) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

struct KnownAnswer {
  const char* key;
  const char* plain;
  const char* cipher;
};

// NIST SP 800-17, Appendix B: variable plaintext, variable key, permutation
// operation and substitution table known-answer tests.
const KnownAnswer kVariablePlaintext[] = {
    {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
    {"0101010101010101", "4000000000000000", "dd7f121ca5015619"},
    {"0101010101010101", "2000000000000000", "2e8653104f3834ea"},
    {"0101010101010101", "1000000000000000", "4bd388ff6cd81d4f"},
    {"0101010101010101", "0800000000000000", "20b9e767b2fb1456"},
    {"0101010101010101", "0400000000000000", "55579380d77138ef"},
    {"0101010101010101", "0200000000000000", "6cc5defaaf04512f"},
    {"0101010101010101", "0100000000000000", "0d9f279ba5d87260"},
    {"0101010101010101", "0080000000000000", "d9031b0271bd5a0a"},
    {"0101010101010101", "0040000000000000", "424250b37c3dd951"},
    {"0101010101010101", "0020000000000000", "b8061b7ecd9a21e5"},
    {"0101010101010101", "0010000000000000", "f15d0f286b65bd28"},
    {"0101010101010101", "0008000000000000", "add0cc8d6e5deba1"},
    {"0101010101010101", "0004000000000000", "e6d5f82752ad63d1"},
    {"0101010101010101", "0002000000000000", "ecbfe3bd3f591a5e"},
    {"0101010101010101", "0001000000000000", "f356834379d165cd"},
    {"0101010101010101", "0000800000000000", "2b9f982f20037fa9"},
    {"0101010101010101", "0000400000000000", "889de068a16f0be6"},
    {"0101010101010101", "0000200000000000", "e19e275d846a1298"},
    {"0101010101010101", "0000100000000000", "329a8ed523d71aec"},
    {"0101010101010101", "0000080000000000", "e7fce22557d23c97"},
    {"0101010101010101", "0000040000000000", "12a9f5817ff2d65d"},
    {"0101010101010101", "0000020000000000", "a484c3ad38dc9c19"},
    {"0101010101010101", "0000010000000000", "fbe00a8a1ef8ad72"},
    {"0101010101010101", "0000008000000000", "750d079407521363"},
    {"0101010101010101", "0000004000000000", "64feed9c724c2faf"},
    {"0101010101010101", "0000002000000000", "f02b263b328e2b60"},
    {"0101010101010101", "0000001000000000", "9d64555a9a10b852"},
    {"0101010101010101", "0000000800000000", "d106ff0bed5255d7"},
    {"0101010101010101", "0000000400000000", "e1652c6b138c64a5"},
    {"0101010101010101", "0000000200000000", "e428581186ec8f46"},
    {"0101010101010101", "0000000100000000", "aeb5f5ede22d1a36"},
    {"0101010101010101", "0000000080000000", "e943d7568aec0c5c"},
    {"0101010101010101", "0000000040000000", "df98c8276f54b04b"},
    {"0101010101010101", "0000000020000000", "b160e4680f6c696f"},
    {"0101010101010101", "0000000010000000", "fa0752b07d9c4ab8"},
    {"0101010101010101", "0000000008000000", "ca3a2b036dbc8502"},
    {"0101010101010101", "0000000004000000", "5e0905517bb59bcf"},
    {"0101010101010101", "0000000002000000", "814eeb3b91d90726"},
    {"0101010101010101", "0000000001000000", "4d49db1532919c9f"},
    {"0101010101010101", "0000000000800000", "25eb5fc3f8cf0621"},
    {"0101010101010101", "0000000000400000", "ab6a20c0620d1c6f"},
    {"0101010101010101", "0000000000200000", "79e90dbc98f92cca"},
    {"0101010101010101", "0000000000100000", "866ecedd8072bb0e"},
    {"0101010101010101", "0000000000080000", "8b54536f2f3e64a8"},
    {"0101010101010101", "0000000000040000", "ea51d3975595b86b"},
    {"0101010101010101", "0000000000020000", "caffc6ac4542de31"},
    {"0101010101010101", "0000000000010000", "8dd45a2ddf90796c"},
    {"0101010101010101", "0000000000008000", "1029d55e880ec2d0"},
    {"0101010101010101", "0000000000004000", "5d86cb23639dbea9"},
    {"0101010101010101", "0000000000002000", "1d1ca853ae7c0c5f"},
    {"0101010101010101", "0000000000001000", "ce332329248f3228"},
    {"0101010101010101", "0000000000000800", "8405d1abe24fb942"},
    {"0101010101010101", "0000000000000400", "e643d78090ca4207"},
    {"0101010101010101", "0000000000000200", "48221b9937748a23"},
    {"0101010101010101", "0000000000000100", "dd7c0bbd61fafd54"},
    {"0101010101010101", "0000000000000080", "2fbc291a570db5c4"},
    {"0101010101010101", "0000000000000040", "e07c30d7e4e26e12"},
    {"0101010101010101", "0000000000000020", "0953e2258e8e90a1"},
    {"0101010101010101", "0000000000000010", "5b711bc4ceebf2ee"},
    {"0101010101010101", "0000000000000008", "cc083f1e6d9e85f6"},
    {"0101010101010101", "0000000000000004", "d2fd8867d50d2dfe"},
    {"0101010101010101", "0000000000000002", "06e7ea22ce92708f"},
    {"0101010101010101", "0000000000000001", "166b40b44aba4bd6"},
};
const KnownAnswer kVariableKey[] = {
    {"8001010101010101", "0000000000000000", "95a8d72813daa94d"},
    {"4001010101010101", "0000000000000000", "0eec1487dd8c26d5"},
    {"2001010101010101", "0000000000000000", "7ad16ffb79c45926"},
    {"1001010101010101", "0000000000000000", "d3746294ca6a6cf3"},
    {"0801010101010101", "0000000000000000", "809f5f873c1fd761"},
    {"0401010101010101", "0000000000000000", "c02faffec989d1fc"},
    {"0201010101010101", "0000000000000000", "4615aa1d33e72f10"},
    {"0180010101010101", "0000000000000000", "2055123350c00858"},
    {"0140010101010101", "0000000000000000", "df3b99d6577397c8"},
    {"0120010101010101", "0000000000000000", "31fe17369b5288c9"},
    {"0110010101010101", "0000000000000000", "dfdd3cc64dae1642"},
    {"0108010101010101", "0000000000000000", "178c83ce2b399d94"},
    {"0104010101010101", "0000000000000000", "50f636324a9b7f80"},
    {"0102010101010101", "0000000000000000", "a8468ee3bc18f06d"},
    {"0101800101010101", "0000000000000000", "a2dc9e92fd3cde92"},
    {"0101400101010101", "0000000000000000", "cac09f797d031287"},
    {"0101200101010101", "0000000000000000", "90ba680b22aeb525"},
    {"0101100101010101", "0000000000000000", "ce7a24f350e280b6"},
    {"0101080101010101", "0000000000000000", "882bff0aa01a0b87"},
    {"0101040101010101", "0000000000000000", "25610288924511c2"},
    {"0101020101010101", "0000000000000000", "c71516c29c75d170"},
    {"0101018001010101", "0000000000000000", "5199c29a52c9f059"},
    {"0101014001010101", "0000000000000000", "c22f0a294a71f29f"},
    {"0101012001010101", "0000000000000000", "ee371483714c02ea"},
    {"0101011001010101", "0000000000000000", "a81fbd448f9e522f"},
    {"0101010801010101", "0000000000000000", "4f644c92e192dfed"},
    {"0101010401010101", "0000000000000000", "1afa9a66a6df92ae"},
    {"0101010201010101", "0000000000000000", "b3c1cc715cb879d8"},
    {"0101010180010101", "0000000000000000", "19d032e64ab0bd8b"},
    {"0101010140010101", "0000000000000000", "3cfaa7a7dc8720dc"},
    {"0101010120010101", "0000000000000000", "b7265f7f447ac6f3"},
    {"0101010110010101", "0000000000000000", "9db73b3c0d163f54"},
    {"0101010108010101", "0000000000000000", "8181b65babf4a975"},
    {"0101010104010101", "0000000000000000", "93c9b64042eaa240"},
    {"0101010102010101", "0000000000000000", "5570530829705592"},
    {"0101010101800101", "0000000000000000", "8638809e878787a0"},
    {"0101010101400101", "0000000000000000", "41b9a79af79ac208"},
    {"0101010101200101", "0000000000000000", "7a9be42f2009a892"},
    {"0101010101100101", "0000000000000000", "29038d56ba6d2745"},
    {"0101010101080101", "0000000000000000", "5495c6abf1e5df51"},
    {"0101010101040101", "0000000000000000", "ae13dbd561488933"},
    {"0101010101020101", "0000000000000000", "024d1ffa8904e389"},
    {"0101010101018001", "0000000000000000", "d1399712f99bf02e"},
    {"0101010101014001", "0000000000000000", "14c1d7c1cffec79e"},
    {"0101010101012001", "0000000000000000", "1de5279dae3bed6f"},
    {"0101010101011001", "0000000000000000", "e941a33f85501303"},
    {"0101010101010801", "0000000000000000", "da99dbbc9a03f379"},
    {"0101010101010401", "0000000000000000", "b7fc92f91d8e92e9"},
    {"0101010101010201", "0000000000000000", "ae8e5caa3ca04e85"},
    {"0101010101010180", "0000000000000000", "9cc62df43b6eed74"},
    {"0101010101010140", "0000000000000000", "d863dbb5c59a91a0"},
    {"0101010101010120", "0000000000000000", "a1ab2190545b91d7"},
    {"0101010101010110", "0000000000000000", "0875041e64c570f7"},
    {"0101010101010108", "0000000000000000", "5a594528bebef1cc"},
    {"0101010101010104", "0000000000000000", "fcdb3291de21f0c0"},
    {"0101010101010102", "0000000000000000", "869efd7f9f265a09"},
};
const KnownAnswer kPermutation[] = {
    {"1046913489980131", "0000000000000000", "88d55e54f54c97b4"},
    {"1007103489988020", "0000000000000000", "0c0cc00c83ea48fd"},
    {"10071034c8980120", "0000000000000000", "83bc8ef3a6570183"},
    {"1046103489988020", "0000000000000000", "df725dcad94ea2e9"},
    {"1086911519190101", "0000000000000000", "e652b53b550be8b0"},
    {"1086911519580101", "0000000000000000", "af527120c485cbb0"},
    {"5107b01519580101", "0000000000000000", "0f04ce393db926d5"},
    {"1007b01519190101", "0000000000000000", "c9f00ffc74079067"},
    {"3107915498080101", "0000000000000000", "7cfd82a593252b4e"},
    {"3107919498080101", "0000000000000000", "cb49a2f9e91363e3"},
    {"10079115b9080140", "0000000000000000", "00b588be70d23f56"},
    {"3107911598080140", "0000000000000000", "406a9a6ab43399ae"},
    {"1007d01589980101", "0000000000000000", "6cb773611dca9ada"},
    {"9107911589980101", "0000000000000000", "67fd21c17dbb5d70"},
    {"9107d01589190101", "0000000000000000", "9592cb4110430787"},
    {"1007d01598980120", "0000000000000000", "a6b7ff68a318ddd3"},
    {"1007940498190101", "0000000000000000", "4d102196c914ca16"},
    {"0107910491190401", "0000000000000000", "2dfa9f4573594965"},
    {"0107910491190101", "0000000000000000", "b46604816c0e0774"},
    {"0107940491190401", "0000000000000000", "6e7e6221a4f34e87"},
    {"19079210981a0101", "0000000000000000", "aa85e74643233199"},
    {"1007911998190801", "0000000000000000", "2e5a19db4d1962d6"},
    {"10079119981a0801", "0000000000000000", "23a866a809d30894"},
    {"1007921098190101", "0000000000000000", "d812d961f017d320"},
    {"100791159819010b", "0000000000000000", "055605816e58608f"},
    {"1004801598190101", "0000000000000000", "abd88e8b1b7716f1"},
    {"1004801598190102", "0000000000000000", "537ac95be69da1e1"},
    {"1004801598190108", "0000000000000000", "aed0f6ae3c25cdd8"},
    {"1002911498100104", "0000000000000000", "b3e35a5ee53e7b8d"},
    {"1002911598190104", "0000000000000000", "61c79c71921a2ef8"},
    {"1002911598100201", "0000000000000000", "e2f5728f0995013c"},
    {"1002911698100101", "0000000000000000", "1aeac39a61f0a464"},
};
const KnownAnswer kSubstitution[] = {
    {"7ca110454a1a6e57", "01a1d6d039776742", "690f5b0d9a26939b"},
    {"0131d9619dc1376e", "5cd54ca83def57da", "7a389d10354bd271"},
    {"07a1133e4a0b2686", "0248d43806f67172", "868ebb51cab4599a"},
    {"3849674c2602319e", "51454b582ddf440a", "7178876e01f19b2a"},
    {"04b915ba43feb5b6", "42fd443059577fa2", "af37fb421f8c4095"},
    {"0113b970fd34f2ce", "059b5e0851cf143a", "86a560f10ec6d85b"},
    {"0170f175468fb5e6", "0756d8e0774761d2", "0cd3da020021dc09"},
    {"43297fad38e373fe", "762514b829bf486a", "ea676b2cb7db2b7a"},
    {"07a7137045da2a16", "3bdd119049372802", "dfd64a815caf1a0f"},
    {"04689104c2fd3b2f", "26955f6835af609a", "5c513c9c4886c088"},
    {"37d06bb516cb7546", "164d5e404f275232", "0a2aeeae3ff4ab77"},
    {"1f08260d1ac2465e", "6b056e18759f5cca", "ef1bf03e5dfa575a"},
    {"584023641aba6176", "004bd6ef09176062", "88bf0db6d70dee56"},
    {"025816164629b007", "480d39006ee762f2", "a1f9915541020b56"},
    {"49793ebc79b3258f", "437540c8698f3cfa", "6fbf1cafcffd0556"},
    {"4fb05e1515ab73a7", "072d43a077075292", "2f22e49bab7ca1ac"},
    {"49e95d6d4ca229bf", "02fe55778117f12a", "5a6b612cc26cce4a"},
    {"018310dc409b26d6", "1d9d5c5018f728c2", "5f4c038ed12b2e41"},
    {"1c587f1c13924fef", "305532286d6f295a", "63fac0d034d9f793"},
};

struct NamedTable {
  const char* name;
  const KnownAnswer* rows;
  size_t count;
};

TEST(DesBlock, Sp80017KnownAnswersEncryptAndDecrypt) {
  const NamedTable tables[] = {
      {"variable plaintext", kVariablePlaintext, std::size(kVariablePlaintext)},
      {"variable key", kVariableKey, std::size(kVariableKey)},
      {"permutation operation", kPermutation, std::size(kPermutation)},
      {"substitution table", kSubstitution, std::size(kSubstitution)},
  };
  for (const NamedTable& table : tables) {
    for (size_t i = 0; i < table.count; ++i) {
      const KnownAnswer& row = table.rows[i];
      SCOPED_TRACE(std::string(table.name) + " row " + std::to_string(i + 1));
      Bytes key = FromHex(row.key);
      Bytes plain = FromHex(row.plain);
      qk::DesRoundKeys enc;
      qk::DesRoundKeys dec;
      qk::DesKeySchedule(key.data(), false, &enc);
      qk::DesKeySchedule(key.data(), true, &dec);
      Bytes out(8);
      qk::DesCryptBlock(&enc, plain.data(), out.data());
      EXPECT_EQ(Hex(out), row.cipher);
      qk::DesCryptBlock(&dec, out.data(), out.data());  // in place
      EXPECT_EQ(Hex(out), row.plain);
    }
  }
}

// Drives a DES-CBC method directly, feeding the input in pieces of |piece|
// bytes; returns the method status of the first failing call.
int RunCbc(const Q_ALGORITHM_METHOD& method, const Bytes& key, const Bytes& iv, const Bytes& input, size_t piece,
           Bytes* output) {
  const auto* ops = static_cast<const qk::DesCbcMethodOps*>(method.operations);
  qk::DesCbcContext context;
  EXPECT_EQ(ops->contextSize, sizeof context);
  int status = ops->init(&context, key.data(), iv.data());
  output->assign(input.size() + 8, 0);
  uint32_t written = 0;
  for (size_t at = 0; status == 0 && at < input.size(); at += piece) {
    uint32_t n = static_cast<uint32_t>(std::min(piece, input.size() - at));
    uint32_t len = 0;
    status = ops->update(&context, output->data() + written, &len, static_cast<uint32_t>(output->size() - written),
                         input.data() + at, n);
    written += len;
  }
  uint32_t len = 0;
  if (status == 0) {
    status = ops->final(&context, output->data() + written, &len, static_cast<uint32_t>(output->size() - written));
  }
  written += len;
  output->resize(written);
  return status;
}

TEST(DesCbc, Fips81ExampleInPiecesOfEverySize) {
  const Bytes key = FromHex("0123456789abcdef");
  const Bytes iv = FromHex("1234567890abcdef");
  const std::string text = "Now is the time for all ";
  const Bytes plain(text.begin(), text.end());
  const std::string expected = "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6";
  for (size_t piece = 1; piece <= 25; ++piece) {
    SCOPED_TRACE(piece);
    Bytes cipher;
    ASSERT_EQ(RunCbc(QM_DESCBCEncrypt, key, iv, plain, piece, &cipher), 0);
    ASSERT_EQ(cipher.size(), 32u);  // a whole block of padding follows
    EXPECT_EQ(Hex(Bytes(cipher.begin(), cipher.begin() + 24)), expected);
    Bytes back;
    ASSERT_EQ(RunCbc(QM_DESCBCDecrypt, key, iv, cipher, piece, &back), 0);
    EXPECT_EQ(back, plain);
  }
}

TEST(DesCbc, UpdateAndFinalLengthsFollowThePaddingRules) {
  const Bytes key = FromHex("133457799bbcdff1");
  const Bytes iv = FromHex("0000000000000000");
  const auto* enc = static_cast<const qk::DesCbcMethodOps*>(QM_DESCBCEncrypt.operations);
  const auto* dec = static_cast<const qk::DesCbcMethodOps*>(QM_DESCBCDecrypt.operations);
  for (uint32_t length = 0; length <= 17; ++length) {
    SCOPED_TRACE(length);
    Bytes in(length, 0x5a);
    Bytes out(length + 8);
    qk::DesCbcContext c;
    enc->init(&c, key.data(), iv.data());
    uint32_t u = 99;
    uint32_t f = 99;
    ASSERT_EQ(enc->update(&c, out.data(), &u, length + 8, in.data(), length), 0);
    ASSERT_EQ(enc->final(&c, out.data() + u, &f, length + 8 - u), 0);
    EXPECT_EQ(u, length / 8 * 8);
    EXPECT_EQ(f, 8u);
    // The last block decrypts to 8 - length % 8 bytes of that value.
    Bytes plain(length + 8);
    dec->init(&c, key.data(), iv.data());
    ASSERT_EQ(dec->update(&c, plain.data(), &u, length + 8, out.data(), length / 8 * 8 + 8), 0);
    EXPECT_EQ(u, length / 8 * 8);  // the last block is held back
    ASSERT_EQ(dec->final(&c, plain.data() + u, &f, length + 8 - u), 0);
    EXPECT_EQ(u + f, length);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + length), in);
  }
}

TEST(DesCbc, StatusesForShortOutputBadLengthAndBadPadding) {
  const Bytes key = FromHex("0123456789abcdef");
  const Bytes iv = FromHex("1234567890abcdef");
  const auto* enc = static_cast<const qk::DesCbcMethodOps*>(QM_DESCBCEncrypt.operations);
  const auto* dec = static_cast<const qk::DesCbcMethodOps*>(QM_DESCBCDecrypt.operations);
  qk::DesCbcContext c;
  uint8_t out[32];
  uint32_t len = 0;
  const Bytes sixteen(16, 1);

  enc->init(&c, key.data(), iv.data());
  EXPECT_EQ(enc->update(&c, out, &len, 15, sixteen.data(), 16), 10);
  EXPECT_EQ(len, 16u);  // the length needed
  EXPECT_EQ(enc->final(&c, out, &len, 7), 10);
  EXPECT_EQ(enc->final(&c, nullptr, &len, 0), 10);
  EXPECT_EQ(enc->update(&c, out, &len, 32, nullptr, 3), 5);

  // 12 bytes of cipher text: Update writes 8, Final finds half a block.
  dec->init(&c, key.data(), iv.data());
  EXPECT_EQ(dec->update(&c, out, &len, 32, sixteen.data(), 12), 0);
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(dec->final(&c, out, &len, 32), 6);
  // No cipher text at all.
  dec->init(&c, key.data(), iv.data());
  EXPECT_EQ(dec->final(&c, out, &len, 32), 6);

  // Padding: encrypt chosen last blocks without padding and check what the
  // decrypting side says about each.
  struct PadCase {
    const char* lastBlock;
    int status;
    uint32_t dataBytes;
  };
  const PadCase cases[] = {
      {"4141414141414101", 0, 7}, {"0808080808080808", 0, 0}, {"4141414141030303", 0, 5},
      {"4141414141410303", 5, 0}, {"4141414141414100", 5, 0}, {"0909090909090909", 5, 0},
      {"41414141414141ff", 5, 0}, {"0708080808080808", 5, 0},
  };
  for (const PadCase& pc : cases) {
    SCOPED_TRACE(pc.lastBlock);
    qk::DesRoundKeys keys;
    qk::DesKeySchedule(key.data(), false, &keys);
    Bytes block = FromHex(pc.lastBlock);
    for (int i = 0; i < 8; ++i) block[i] ^= iv[i];
    uint8_t cipher[8];
    qk::DesCryptBlock(&keys, block.data(), cipher);
    dec->init(&c, key.data(), iv.data());
    ASSERT_EQ(dec->update(&c, out, &len, 32, cipher, 8), 0);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(dec->final(&c, out, &len, 32), pc.status);
    if (pc.status == 0) {
      EXPECT_EQ(len, pc.dataBytes);
      // Too little room for the data bytes: 10, then it still works.
      if (pc.dataBytes > 0) {
        ASSERT_EQ(dec->update(&c, out, &len, 32, cipher, 8), 0);
        EXPECT_EQ(dec->final(&c, out, &len, pc.dataBytes - 1), 10);
        EXPECT_EQ(dec->final(&c, out, &len, pc.dataBytes), 0);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Key forms.

Bytes ItemOf(Q_KEY_OBJ key) {
  void* info = nullptr;
  EXPECT_EQ(Q_GetKeyInfo(&info, key, QK_Item), 0);
  if (info == nullptr) return {};
  const auto* item = static_cast<const Q_ITEM*>(info);
  return Bytes(item->data, item->data + item->len);
}

TEST(DesKeyForms, ParityIsForcedOnEachByte) {
  // Seven high bits with an odd count of ones: bit 0 cleared; even: set.
  struct Row {
    uint8_t in;
    uint8_t out;
  };
  const Row rows[] = {{0x00, 0x01}, {0x01, 0x01}, {0x02, 0x02}, {0x03, 0x02}, {0xFE, 0xFE}, {0xFF, 0xFE},
                      {0x80, 0x80}, {0xC0, 0xC1}, {0xC1, 0xC1}, {0x7F, 0x7F}, {0x7E, 0x7F}, {0x10, 0x10}};
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.in));
    EXPECT_EQ(qk::ForceOddParity(r.in), r.out);
    uint8_t bytes[8] = {r.in, r.in, r.in, r.in, r.in, r.in, r.in, r.in};
    Q_KEY_OBJ key = nullptr;
    ASSERT_EQ(Q_CreateKeyObject(&key), 0);
    ASSERT_EQ(Q_SetKeyInfo(key, QK_DESKeyParity, bytes), 0);
    EXPECT_EQ(ItemOf(key), Bytes(8, r.out));
    void* desKey = nullptr;
    ASSERT_EQ(Q_GetKeyInfo(&desKey, key, QK_DESKey), 0);
    EXPECT_EQ(Bytes(static_cast<uint8_t*>(desKey), static_cast<uint8_t*>(desKey) + 8), Bytes(8, r.out));
    EXPECT_EQ(bytes[0], r.in);  // the caller's bytes are left alone
    Q_DestroyKeyObject(&key);
  }
}

TEST(DesKeyForms, ConversionsAndTheirRefusals) {
  struct Row {
    Q_INFO_TYPE setAs;
    Bytes bytes;
    Q_INFO_TYPE getAs;
    int status;
  };
  const Bytes odd = FromHex("0123456789abcdef");   // every byte odd parity
  const Bytes even = FromHex("0023456789abcdef");  // first byte even
  const Row rows[] = {
      {QK_Item, odd, QK_DESKey, 0},
      {QK_Item, Bytes(7, 1), QK_DESKey, Q_ERR_GET_KEY_INFO},
      {QK_Item, Bytes(9, 1), QK_DESKey, Q_ERR_GET_KEY_INFO},
      {QK_Item, odd, QK_DESKeyParity, 0},
      {QK_Item, even, QK_DESKeyParity, Q_ERR_GET_KEY_INFO},
      {QK_DESKey, even, QK_Item, 0},
      {QK_DESKey, even, QK_DESKeyParity, Q_ERR_GET_KEY_INFO},
      {QK_DESKey, odd, QK_DESKeyParity, 0},
      {QK_DESKeyParity, even, QK_DESKey, 0},
  };
  for (const Row& r : rows) {
    Q_KEY_OBJ key = nullptr;
    ASSERT_EQ(Q_CreateKeyObject(&key), 0);
    Q_ITEM item{const_cast<uint8_t*>(r.bytes.data()), static_cast<uint32_t>(r.bytes.size())};
    const void* info = r.setAs == QK_Item ? static_cast<const void*>(&item) : r.bytes.data();
    ASSERT_EQ(Q_SetKeyInfo(key, r.setAs, info), 0);
    void* got = nullptr;
    EXPECT_EQ(Q_GetKeyInfo(&got, key, r.getAs), r.status);
    if (r.status == 0 && r.getAs != QK_Item) {
      EXPECT_EQ(Bytes(static_cast<uint8_t*>(got), static_cast<uint8_t*>(got) + 8), ItemOf(key));
      void* again = nullptr;
      EXPECT_EQ(Q_GetKeyInfo(&again, key, r.getAs), 0);
      EXPECT_EQ(again, got);
    }
    Q_DestroyKeyObject(&key);
  }
  // Null info is refused, and the object stays empty.
  Q_KEY_OBJ key = nullptr;
  ASSERT_EQ(Q_CreateKeyObject(&key), 0);
  EXPECT_EQ(Q_SetKeyInfo(key, QK_DESKey, nullptr), Q_ERR_INPUT_DATA);
  EXPECT_EQ(Q_SetKeyInfo(key, QK_Item, nullptr), Q_ERR_INPUT_DATA);
  void* got = nullptr;
  EXPECT_EQ(Q_GetKeyInfo(&got, key, QK_Item), Q_ERR_KEY_NOT_SET);
  Q_DestroyKeyObject(&key);
}

}  // namespace
