#pragma once

#include <string>

namespace boxsim {

// What the receiver's screen shows at one moment; BoxWeb fills it from its state for /tmp/a.bmp.
struct ScreenView {
    enum class Bar { None, Volume, Info };
    std::string channel;   // "3 Das Erste"
    std::string programme; // the programme on air
    bool latin1 = false;   // the texts are Latin-1 (else UTF-8), as the data set holds them
    std::string clock;     // HH:MM:SS
    std::string lastKey;   // shown in the info bar
    bool standby = false;
    bool radio = false;
    bool menuOpen = false;
    int menuRow = 0;
    Bar bar = Bar::None;
    int volume = 60; // 0..100
    bool muted = false;
};

// The picture as an uncompressed 24-bit bottom-up BMP of kScreenWidth x kScreenHeight (half the PAL
// frame): the picture behind, the channel name top left, the clock in its box top right (the only part that changes by
// itself), the menu in the middle, the volume or info bar at the bottom. Texts use a built-in 5x7 font, upper case.
inline constexpr int kScreenWidth = 360;
inline constexpr int kScreenHeight = 288;
// Where the clock is drawn: x, y, width, height.
inline constexpr int kClockBox[4] = {254, 4, 102, 22};
inline constexpr int kMenuRows = 6;

std::string renderScreenBmp(const ScreenView& view);

} // namespace boxsim
