#pragma once

#include <QIcon>

namespace velmora::ui {

// The application's icon set, every size the program carries. Empty when the
// program was built without its images.
QIcon applicationIcon();

}  // namespace velmora::ui
