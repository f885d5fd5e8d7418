// Key files of the commands: making a new key pair into a key file, and
// testing a password against a key file.
#ifndef KVCATOOL_APP_KEY_FILES_H
#define KVCATOOL_APP_KEY_FILES_H

#include <cstddef>
#include <string>

#include "app/context.h"

namespace kvapp {

// Size of every key buffer the commands hold.
constexpr int kKeyBufferSize = 4096;

// Key passwords, in characters: 8 to 16 for a classic key file, 8 to 64 for
// a modern one (its private key in the PBES2 record).
constexpr size_t kMinPasswordChars = 8;
constexpr size_t kClassicPasswordMaxChars = 16;
constexpr size_t kModernPasswordMaxChars = 64;

// Generates a key pair with a modulus of |modulusBytes| bytes: the public and
// private key encodings go to |publicKey| and |privateKey| (capacities in
// |*publicLength| / |*privateLength|, lengths out), and the key file |keyPath|
// receives the private key encrypted under |password|, then the public key.
// Returns 0, -1 (key generation failed, message 2003) or the failing
// service's code (message 2004 for a write failure). The caller wipes the
// key buffers.
int GenerateKeyFile(AppContext& context, int modulusBytes, unsigned char* publicKey, int* publicLength,
                    unsigned char* privateKey, int* privateLength, const std::string& keyPath,
                    const std::string& password);

// As GenerateKeyFile with a key pair of the modern profile: |modulusBits|
// is 2048, 3072 or 4096, and the key file is written by WriteModernKeyFile.
int GenerateModernKeyFile(AppContext& context, int modulusBits, unsigned char* publicKey, int* publicLength,
                          unsigned char* privateKey, int* privateLength, const std::string& keyPath,
                          const std::string& password);

// Writes the key file |keyPath|: the private key encrypted under |password|
// (PKCS #5 v1.5), then the public key. A file this call starts and cannot
// finish is removed again. 0 or the failing service's code (message 2004).
int WriteKeyFile(AppContext& context, const unsigned char* publicKey, int publicLength,
                 const unsigned char* privateKey, const int* privateLength, const std::string& keyPath,
                 const std::string& password);
// The one writer of key files of the modern profile (the classic format for
// now).
int WriteModernKeyFile(AppContext& context, const unsigned char* publicKey, int publicLength,
                       const unsigned char* privateKey, const int* privateLength, const std::string& keyPath,
                       const std::string& password);

// The key file that belongs to the certificate file |certPath|: the path cut
// before its last "." with ".key" in its place; when no entry of exactly that
// name is there, the file whose name differs only in the case of its
// extension ("ROOT.KEY" beside "ROOT.CRT"). The one rule for every command
// and front end.
std::string KeyFileFor(const AppContext& context, const std::string& certPath);

// The key file |keyPath| as it is on disk: itself, or the file whose name
// differs only in the case of its extension (see KeyFileFor).
std::string ExistingKeyFile(const AppContext& context, const std::string& keyPath);

// True when the key file |keyPath| holds its private key in the modern
// (PBES2) record; false for a classic key file and for one that cannot be
// read.
bool IsModernKeyFile(const std::string& keyPath);

// 0 when |password| decrypts the private key of the key file |keyPath|;
// -1 (reported) when the file does not exist; otherwise the service's code.
int CheckRootKeyPassword(AppContext& context, const std::string& keyPath, const std::string& password);

// A new 1024-bit key file |keyPath| under |keyPassword|. 0 or -1 (reported).
int CreateServerKeyFile(AppContext& context, const std::string& keyPath, const std::string& keyPassword);

}  // namespace kvapp

#endif
