#pragma once

#include <QPixmap>

namespace marvalo {

// Drawn rather than shipped as files, so the window needs nothing beside
// the executable: the window icon and the small badge in the top corner.
QPixmap drawIcon(int size);
QPixmap drawBadge(QSize size);

}  // namespace marvalo
