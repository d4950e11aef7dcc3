#pragma once

#include "playback/player_settings.h"
#include "window_design.h"

namespace velmora::ui {

// The main window, Form1: what it shows at start, control by control.
WindowDesign mainWindowDesign();

// The player component's settings when the window has been created.
inline constexpr playback::PlayerSettings kMainWindowPlayerSettings{
    .autoStart = true,
    .volume = 50,
    .mute = false,
    .balance = 0,
    .rate = 1.0,
    .playCount = 1,
    .enableErrorDialogs = false,
};

// The one top-level menu item; it acts on click and has no sub-items.
inline constexpr const char* kAboutMenuItem = "关于";

}  // namespace velmora::ui
