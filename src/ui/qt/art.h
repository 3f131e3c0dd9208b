// The wizard's artwork: the exterior pages' watermark (164 x 314), the
// interior pages' header bitmap (49 x 49) and the program icon.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace scour::qt {

QPixmap Watermark();
QPixmap HeaderBitmap();
QIcon ProgramIcon();

}  // namespace scour::qt
