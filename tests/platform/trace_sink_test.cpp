// The trace sink: off by default, one line per call when KVCATOOL_TRACE
// names a file, and no effect on its caller.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/trace.h"

namespace {

class TraceSink : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kvtrace-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/trace.log";
  }
  void TearDown() override {
    unsetenv("KVCATOOL_TRACE");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::vector<std::string> Lines() const {
    std::ifstream in(path_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string dir_, path_;
};

TEST_F(TraceSink, OffByDefaultAndWhenEmpty) {
  unsetenv("KVCATOOL_TRACE");
  KVTraceMessage(16, 9, "kv_md5", 10, "errKVMD5(): ENTER");
  setenv("KVCATOOL_TRACE", "", 1);
  KVTraceMessage(16, 9, "kv_md5", 11, "errKVMD5(): ENTER");
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(TraceSink, AppendsOneLinePerCallWithTimeModuleLineAndText) {
  setenv("KVCATOOL_TRACE", path_.c_str(), 1);
  KVTraceMessage(16, 9, "kv_rsakey", 42, "errKVKeyGen(): Error in Q_GenerateInit [%d]", 545);
  KVTraceMessage(16, 9, "kv_randseed", 7, "%s", "two\nlines");
  KVTraceMessage(16, 9, nullptr, 1, nullptr);
  unsetenv("KVCATOOL_TRACE");
  KVTraceMessage(16, 9, "kv_md5", 3, "after switching off");

  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  // The time stamp: YYYY-MM-DDTHH:MM:SS.mmmZ and a blank.
  for (const std::string& line : lines) {
    ASSERT_GT(line.size(), 25u) << line;
    for (size_t i = 0; i < 24; ++i) {
      const char expected = std::string("0000-00-00T00:00:00.000Z")[i];
      if (expected == '0') {
        EXPECT_TRUE(line[i] >= '0' && line[i] <= '9') << line;
      } else {
        EXPECT_EQ(line[i], expected) << line;
      }
    }
    EXPECT_EQ(line[24], ' ') << line;
  }
  EXPECT_NE(lines[0].find(" kv_rsakey 42 errKVKeyGen(): Error in Q_GenerateInit [545]"), std::string::npos);
  EXPECT_NE(lines[1].find(" kv_randseed 7 two lines"), std::string::npos);
  EXPECT_NE(lines[2].find(" - 1 "), std::string::npos);
}

TEST_F(TraceSink, ChangesNothingForTheCaller) {
  const std::string longText(5000, 'x');
  for (const std::string& target : {path_, dir_ + "/no/such/dir/trace.log"}) {
    setenv("KVCATOOL_TRACE", target.c_str(), 1);
    errno = 1234;
    KVTraceMessage(16, 9, "kv_keyfile", 99, "%s", longText.c_str());
    EXPECT_EQ(errno, 1234) << target;
  }
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_LT(lines[0].size(), 1200u) << "long texts are cut";
}

}  // namespace
