#pragma once

#include "window_design.h"

namespace velmora::ui {

// The about window, Form2: four controls on the face colour, no icon.
WindowDesign aboutWindowDesign();

}  // namespace velmora::ui
