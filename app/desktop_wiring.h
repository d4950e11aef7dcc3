#pragma once

#include "ui/main_window.h"

namespace velmora {

// Offers the window's player to the desktop's media controls and keeps the
// machine awake while it plays, for as long as the window lives. Without a
// session bus nothing happens, and nothing is shown.
void linkToDesktop(ui::MainWindow& window);

}  // namespace velmora
