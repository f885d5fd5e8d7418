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

}  // namespace kvplatform

#endif
