#include "app/strings.h"
#include "cryptokit/qmemory.h"

#include <cctype>
#include <cstdio>

namespace kvapp {
namespace {

struct StringEntry {
  int id;
  const char* text;
};

constexpr StringEntry kStrings[] = {
    {101, "&About Parlo/Agent Certificate Utility..."},
    {102, "Parlo/Agent Certificate Utility"},
    {1000, "crt"},
    {1001, "key"},
    {1002,
     "Certificate Files (*.crt)|*.crt|Key Files (*.key)|*.key|Certificate and Key Files (*.crt,*.key)|*.crt;*.key|"
     "All Files (*.*)|*.*|"},
    {1003, "Certificate Files (*.crt)|*.crt|All Files (*.*)|*.*|"},
    {1005, "kvroot"},
    {1006, "kvroot.crt"},
    {1008, "Create new Certificate"},
    {1009, ".crt"},
    {1010, ".key"},
    {1011, "Creating root certficate and keys..."},
    {1012, "Creating server certificate and keys..."},
    {1013, "Creating server certificate..."},
    {1014, "SOFTWARE\\ZIDU\\KVCATOOL"},
    {1015, "Root cert"},
    {2000, "Unable to locate root key file (%s)."},
    {2001, "No root certificate selected."},
    {2002, "No server key file selected."},
    {2003, "Failed to create RSA key pair."},
    {2004, "Failed to write private key to file %s."},
    {2006, "The key  file %s already exists!"},
    {2007, "The certificate  file %s already exists!"},
    {2008, "Create cerfificate request failed with error %d."},
    {2009, "Create cerfificate failed with error %d."},
    {2010, "Failed to create new root."},
    {2011, "No server certificate file selected."},
    {2012, "Entered password and confirmation do not match."},
    {2013, "Key password must be between 8 and 16 characters."},
    {2014, "You must enter a Host Name."},
    {2015, "You must enter an Organization."},
    {2016, "You must enter a 2-letter country code."},
    {2017, "You must enter a certificate file name."},
    {2018, "You must enter a key file name."},
    {2019, "Unable to create certificate."},
    {2020, "Invalid file name: %s."},
    {2021, "File \"%s\" already exists. Choose another file name."},
    {2022, "The directory \"%s\" does not exist.\nDo you want to create it?"},
    {2023, "Error: Cannot create directory: %s."},
    {2024, "Password incorrect."},
    {2025, "Unable to locate root certificate file: %s."},
    {2026, "Insert disk containing root certificate and keys in drive %s."},
    {2027, "Invalid file path: %s."},
    {2028, "Unable to verify server certificate."},
    {2029, "Certificate is valid."},
    {2030, "Certificate is invalid."},
    {2031, "Root certificate and keys successfully created."},
    {2032, "Unable to retrieve certificate information."},
    {2033, "Unable to create server certificate and keys."},
    {2034, "Server certificate and keys successfully created."},
    {2035, "Unable to create server certificate."},
    {2036, "Server certificate successfully created."},
    {2037, "You must be an administrator to run the %s."},
    {2038, "Invalid root certificate file: %s!\nRoot certificate must be self-signed."},
    {2039, "Host Name must be at most 64 characters."},
    {2040, "Organization must be at most 64 characters."},
    // The modern certificate profile.
    {2041,
     "The name %s is neither a DNS name nor an IP address. A DNS name is made of labels of letters, digits and "
     "hyphens (a hyphen not first or last), at most 63 characters each and 253 in all, separated by dots; only the "
     "first label may be \"*\"."},
    {2042, "The validity must be from 1 to 7300 days."},
    {2043, "The key size must be 2048, 3072 or 4096 bits."},
    {2044,
     "The current root is of the classic profile: further names, the validity and the key size can be chosen only "
     "under a root of the modern profile."},
    {2045, "The key size can be chosen only for a root of the modern profile."},
    {2046, "The certificate is not yet valid: its validity period begins %s."},
    {2047, "The certificate has expired: its validity period ended %s."},
    {2048, "The root certificate may not sign certificates: its key usage lacks keyCertSign."},
    {2049, "The certificate's authority key identifier does not match the root certificate's key."},
    {2050, "At most 32 names can be given."},
    {2051,
     "The key of %s has fewer than 2048 bits; a server certificate of the modern profile needs a key of 2048 bits "
     "or more."},
    {2053, "modern"},
    {2060, "Key password must be between 8 and 64 characters."},
    {57344, "Orvane Inc. Certificate Tool"},
};

}  // namespace

const char* LoadString(int id) {
  for (const StringEntry& entry : kStrings) {
    if (entry.id == id) return entry.text;
  }
  return "";
}

std::string FormatText(std::string_view text, std::string_view arg) {
  std::string out(text);
  size_t pos = out.find("%s");
  if (pos != std::string::npos) out.replace(pos, 2, arg);
  return out;
}

std::string FormatNumber(std::string_view text, int value) {
  std::string out(text);
  for (size_t pos = out.find('%'); pos != std::string::npos && pos + 1 < out.size(); pos = out.find('%', pos + 1)) {
    char kind = out[pos + 1];
    if (kind != 'd' && kind != 'X') continue;
    char number[16];
    if (kind == 'd') {
      std::snprintf(number, sizeof number, "%d", value);
    } else {
      std::snprintf(number, sizeof number, "%X", static_cast<unsigned>(value));
    }
    out.replace(pos, 2, number);
    break;
  }
  return out;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  std::string_view tail = text.substr(text.size() - suffix.size());
  for (size_t i = 0; i < suffix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(tail[i])) != std::tolower(static_cast<unsigned char>(suffix[i]))) {
      return false;
    }
  }
  return true;
}

std::string DirectoryPart(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string NamePart(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithTrailingSlash(const std::string& dir) {
  if (!dir.empty() && dir.back() == '/') return dir;
  return dir + '/';
}

void WipeString(std::string& text) {
  // The whole capacity: a shorter value may have left older bytes behind.
  text.resize(text.capacity());
  QMem_Wipe(text.data(), text.size());
  text.clear();
}

}  // namespace kvapp
