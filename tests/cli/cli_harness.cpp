#include "cli_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "services/kvservices.h"

namespace clitest {

void CliTest::SetUp() {
  char pattern[] = "/tmp/kvcli-test-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  dir_ = pattern;
  settings_ = dir_ + "/settings/kvcatool";
  config_ = dir_ + "/config";
}

void CliTest::TearDown() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

Result CliTest::Run(const std::vector<std::string>& args, const std::string& input, double deadlineSeconds) {
  const std::string outPath = dir_ + "/.stdout", errPath = dir_ + "/.stderr", inPath = dir_ + "/.stdin";
  WriteFile(".stdin", input);
  std::vector<std::string> argv = {KVCLI_PROGRAM};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir_.c_str()) != 0) ::_exit(127);
    ::setenv("KVCATOOL_SETTINGS", settings_.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    ::unsetenv("KVCATOOL_TRACE");
    ::setenv("TZ", "UTC", 1);
    const int in = ::open(inPath.c_str(), O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execv(cargv[0], cargv.data());
    ::_exit(127);
  }
  Result r;
  int wstatus = 0;
  pid_t waited = -1;
  if (pid > 0 && deadlineSeconds > 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(deadlineSeconds);
    while ((waited = ::waitpid(pid, &wstatus, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
      ::usleep(2000);
    }
    if (waited == 0) {
      ::kill(pid, SIGKILL);
      r.timedOut = true;
    }
  }
  if (pid > 0 && waited != pid) waited = ::waitpid(pid, &wstatus, 0);
  if (waited == pid && !r.timedOut) r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  r.out = ReadFile(".stdout");
  r.err = ReadFile(".stderr");
  for (const char* f : {".stdout", ".stderr", ".stdin"}) std::remove(Path(f).c_str());
  return r;
}

void CliTest::WriteFile(const std::string& name, const std::string& contents) const {
  std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
  std::ofstream(Path(name), std::ios::binary) << contents;
}

std::string CliTest::ReadFile(const std::string& name) const {
  std::ifstream in(name.empty() || name[0] != '/' ? Path(name) : name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool CliTest::Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }

void CliTest::Remember(const std::string& path) const {
  std::filesystem::create_directories(std::filesystem::path(settings_).parent_path());
  std::ofstream(settings_) << "SOFTWARE\\ZIDU\\KVCATOOL\tRoot cert=" << path << "\n";
}

void CliTest::MakeKeyFile(const std::string& name, const std::string& password, int modulusBytes) const {
  unsigned char pub[4096], priv[4096], enc[4096];
  int pubLen = sizeof pub, privLen = sizeof priv, encLen = sizeof enc;
  ASSERT_EQ(errKVKeyGen(modulusBytes, pub, &pubLen, priv, &privLen), 0);
  ASSERT_EQ(errKVPKCS5PBEncDnc(&privLen, priv, &encLen, enc, static_cast<int>(password.size()),
                               reinterpret_cast<const unsigned char*>(password.data()), KV_PBE_ENCRYPT),
            0);
  ASSERT_EQ(errKVKeyFileAddPrivateKeyToEnd(Path(name).c_str(), enc, encLen), 0);
  ASSERT_EQ(errKVKeyFileAddPublicKeyToEnd(Path(name).c_str(), pub, pubLen), 0);
}

void CliTest::MakeRoot(const std::string& certName, const std::string& keyName, const std::string& password) const {
  unsigned char pub[4096], priv[4096], enc[4096];
  int pubLen = sizeof pub, privLen = sizeof priv, encLen = sizeof enc;
  ASSERT_EQ(errKVKeyGen(128, pub, &pubLen, priv, &privLen), 0);
  ASSERT_EQ(errKVPKCS5PBEncDnc(&privLen, priv, &encLen, enc, static_cast<int>(password.size()),
                               reinterpret_cast<const unsigned char*>(password.data()), KV_PBE_ENCRYPT),
            0);
  ASSERT_EQ(errKVKeyFileAddPrivateKeyToEnd(Path(keyName).c_str(), enc, encLen), 0);
  ASSERT_EQ(errKVKeyFileAddPublicKeyToEnd(Path(keyName).c_str(), pub, pubLen), 0);
  CertNameFields names = {"US", "Acme", "kvroot"};
  unsigned char* request = nullptr;
  unsigned char* certificate = nullptr;
  int requestLength = 0, certificateLength = 0;
  C_CERT_REQUEST_OBJ requestObject = nullptr;
  C_CERT_OBJ certObject = nullptr;
  int rc = errKVGenCertReq(privLen, priv, pubLen, pub, names, &request, &requestLength, &requestObject, 0);
  if (rc == 0) {
    rc = errKVGenCert(Path(certName).c_str(), privLen, priv, names, requestLength, request, &certObject,
                      &certificateLength, &certificate, 0);
  }
  vKVCertReqFreeReq(request);
  vKVCertFreeCert(certificate);
  C_DestroyCertRequestObject(&requestObject);
  C_DestroyCertObject(&certObject);
  ASSERT_EQ(rc, 0);
}

std::string CliTest::Shell(const std::string& command) const {
  const std::string full = "cd '" + dir_ + "' && " + command + " 2>/dev/null";
  FILE* p = ::popen(full.c_str(), "r");
  if (p == nullptr) return "<failed>";
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  return ::pclose(p) == 0 ? out : "<failed>";
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

}  // namespace clitest
