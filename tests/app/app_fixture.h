// A temporary working directory with its own settings file, the scripted
// front end and an application context over them.
#ifndef KVCATOOL_TESTS_APP_APP_FIXTURE_H
#define KVCATOOL_TESTS_APP_APP_FIXTURE_H

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/context.h"
#include "platform/file_system.h"
#include "platform/settings_store.h"
#include "scripted_ui.h"

namespace apptest {

// The platform's file system with the working directory fixed.
class TempDirFileSystem : public kvplatform::PosixFileSystem {
 public:
  std::string workingDirectory;
  std::string WorkingDirectory() override { return workingDirectory; }
};

class AppFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kvapp-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs_.workingDirectory = dir_ + "/";
    settingsPath_ = dir_ + "/settings/kvcatool";
    settings_ = std::make_unique<kvplatform::FileSettingsStore>(settingsPath_);
    context_ = std::make_unique<kvapp::AppContext>(kvapp::AppContext{ui_, fs_, *settings_});
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // |name| under the temporary directory.
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void WriteFile(const std::string& name, const std::string& contents = "x") const {
    std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
    std::ofstream(Path(name), std::ios::binary) << contents;
  }
  bool Exists(const std::string& path) const { return std::filesystem::exists(path); }
  std::string Remembered() {
    std::string value;
    return settings_->ReadValue("SOFTWARE\\ZIDU\\KVCATOOL", "Root cert", value) ? value : "<none>";
  }
  void Remember(const std::string& path) { settings_->WriteValue("SOFTWARE\\ZIDU\\KVCATOOL", "Root cert", path); }

  std::string dir_;
  std::string settingsPath_;
  ScriptedUi ui_;
  TempDirFileSystem fs_;
  std::unique_ptr<kvplatform::FileSettingsStore> settings_;
  std::unique_ptr<kvapp::AppContext> context_;
};

}  // namespace apptest

#endif
