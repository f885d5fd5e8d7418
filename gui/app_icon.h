// The application icon, drawn in code so that the window icon and the PNG
// files installed for the desktop are the same picture.
#ifndef KVCATOOL_GUI_APP_ICON_H
#define KVCATOOL_GUI_APP_ICON_H

#include <QIcon>
#include <QImage>

namespace kvgui {

// The icon at |size| x |size| pixels, transparent around the picture.
QImage DrawAppIcon(int size);
// The icon at the sizes a window manager asks for.
QIcon AppIcon();

}  // namespace kvgui

#endif
