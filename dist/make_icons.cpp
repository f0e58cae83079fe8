// Writes the program icon for the desktop: OUT/scalable/apps/weavil.svg and
// OUT/NxN/apps/weavil.png for every size given.
#include <QDir>
#include <QImage>

#include <fstream>
#include <iostream>
#include <string>

#include "shell/shell_images.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "Usage: make_icons OUT_DIR SIZE...\n";
    return 2;
  }
  const std::string out = argv[1];
  QDir().mkpath(QString::fromStdString(out + "/scalable/apps"));
  std::ofstream svg(out + "/scalable/apps/weavil.svg", std::ios::trunc);
  svg << weavil::ProgramIconSvg();
  if (!svg.flush()) {
    std::cerr << "make_icons: cannot write " << out << "/scalable/apps/weavil.svg\n";
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    const int size = std::stoi(argv[i]);
    const QString folder = QString::fromStdString(out) + QStringLiteral("/%1x%1/apps").arg(size);
    QDir().mkpath(folder);
    if (!weavil::ProgramIconImage(size).save(folder + QStringLiteral("/weavil.png"), "PNG")) {
      std::cerr << "make_icons: cannot write " << folder.toStdString() << "/weavil.png\n";
      return 1;
    }
  }
  return 0;
}
