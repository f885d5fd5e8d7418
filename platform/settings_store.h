// The machine-wide settings store: named values under a key, kept in one
// text file. It plays the part of the system registry for the one value the
// program remembers (the current root certificate).
//
// File format, one entry a line:   <key>\t<value name>=<data>
// Lines that do not have this shape are kept as they are when the file is
// rewritten, so a hand-edited file survives.
#ifndef KVCATOOL_PLATFORM_SETTINGS_STORE_H
#define KVCATOOL_PLATFORM_SETTINGS_STORE_H

#include <string>

namespace kvplatform {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Reads |valueName| under |key| into |data|. False when the store, the key
  // or the value is missing or cannot be read.
  virtual bool ReadValue(const std::string& key, const std::string& valueName, std::string& data) = 0;
  // Writes |data| as |valueName| under |key|. False when it could not be
  // written; the store is then unchanged.
  virtual bool WriteValue(const std::string& key, const std::string& valueName, const std::string& data) = 0;
  // True, once, when a write had to keep a value somewhere other than the
  // store's usual place; |where| then names that place so the user can be
  // told. The plain stores never do.
  virtual bool TakeFallbackNotice(std::string& where) {
    (void)where;
    return false;
  }
};

// The store in a file. Writing replaces the file atomically: the new contents
// go to a temporary file in the same directory, which is then renamed over
// the old one, so a reader sees either the old or the new file whole.
class FileSettingsStore : public SettingsStore {
 public:
  explicit FileSettingsStore(std::string path);
  bool ReadValue(const std::string& key, const std::string& valueName, std::string& data) override;
  bool WriteValue(const std::string& key, const std::string& valueName, const std::string& data) override;
  const std::string& path() const { return path_; }

  // The file named by the environment variable KVCATOOL_SETTINGS when it is
  // set and not empty, else /var/lib/kvcatool/settings.
  static std::string DefaultPath();

 private:
  std::string path_;
};

// The user's own settings file: $XDG_CONFIG_HOME/kvcatool/settings, or
// ~/.config/kvcatool/settings (the home directory from HOME, else the user
// database). Empty when neither is known.
std::string UserSettingsPath();

// The machine-wide file with the user's own file behind it, for an
// administrator who may not write the machine-wide one.
//
// Writing: the machine-wide file when it can be written, else the user's
// own. The first write of a process that puts a new value into the user's
// own file raises the fallback notice (TakeFallbackNotice), so the user is
// told once where the value now lives; rewriting the same value there (as
// every start does when the remembered root is selected again) says nothing.
//
// Reading: when only one file holds the value, that one; when both do, the
// file modified last, the user's own on a tie. So a choice kept in the
// user's file while the machine-wide one was out of reach wins until a later
// choice reaches the machine-wide file (by this user once it can be written,
// or by another administrator).
class SettingsWithUserFallback : public SettingsStore {
 public:
  SettingsWithUserFallback(std::string machinePath, std::string userPath);
  bool ReadValue(const std::string& key, const std::string& valueName, std::string& data) override;
  bool WriteValue(const std::string& key, const std::string& valueName, const std::string& data) override;
  bool TakeFallbackNotice(std::string& where) override;

 private:
  FileSettingsStore machine_;
  FileSettingsStore user_;
  bool noticePending_ = false;
  bool noticeGiven_ = false;
};

}  // namespace kvplatform

#endif
