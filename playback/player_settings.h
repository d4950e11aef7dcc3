#pragma once

namespace velmora::playback {

// The player's initial settings, as the main window's design data gives them.
struct PlayerSettings {
    bool autoStart = true;
    int volume = 50;  // 0..100
    bool mute = false;
    int balance = 0;    // -100 (left) .. 100 (right)
    double rate = 1.0;  // playback speed
    int playCount = 1;  // times each media plays
    bool enableErrorDialogs = false;
};

}  // namespace velmora::playback
