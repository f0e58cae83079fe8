#pragma once
// The pictures the window draws for itself: the 16 x 16 tree images, the header's
// sort-direction marks and the program icon. Drawn once, not loaded from files.
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <string>

namespace weavil {

// The tree's image list: 0 group, 1 session, 2 robot session, 3 unused, 4 leaf (also
// the "Loading..." row).
inline constexpr int kTreeImageCount = 5;
const QPixmap& TreeImage(int index);

// Header images: 0 none, 1 descending (the first click), 2 ascending.
const QPixmap& SortMarkImage(int index);

// The program's icon, in a few sizes; one size as a picture (no application object
// needed); the same drawing as an SVG document (the desktop's scalable icon).
QIcon ProgramIcon();
QImage ProgramIconImage(int size);
std::string ProgramIconSvg();

}  // namespace weavil
