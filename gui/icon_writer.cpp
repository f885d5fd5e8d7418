// Writes the application icon as a PNG file: kvcatool_icon <file> <size>.
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "gui/app_icon.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kvcatool_icon <file.png> <size>\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  int size = std::atoi(argv[2]);
  if (size < 16 || size > 1024) {
    std::fprintf(stderr, "kvcatool_icon: size must be 16 to 1024\n");
    return 2;
  }
  if (!kvgui::DrawAppIcon(size).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "kvcatool_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
