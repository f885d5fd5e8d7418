// What every part of the application works with: the front end and the
// platform's settings store and file system.
#ifndef KVCATOOL_APP_CONTEXT_H
#define KVCATOOL_APP_CONTEXT_H

#include <string>

#include "app/strings.h"
#include "app/ui.h"
#include "platform/file_system.h"
#include "platform/settings_store.h"

namespace kvapp {

struct AppContext {
  UserInterface& ui;
  kvplatform::FileSystem& files;
  kvplatform::SettingsStore& settings;

  // A file "exists" when it can be opened for reading.
  bool FileExists(const std::string& path) const { return files.CanOpenForReading(path); }

  // Error box (stop icon) with string |id|, or with a text.
  void Error(int id) const { ui.ShowError(LoadString(id)); }
  void Error(const std::string& text) const { ui.ShowError(text); }
  // Plain OK box with string |id|.
  void Message(int id) const { ui.ShowMessage(LoadString(id)); }
};

}  // namespace kvapp

#endif
