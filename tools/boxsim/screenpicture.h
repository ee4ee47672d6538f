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

// The screen at kScreenWidth x kScreenHeight (half the PAL frame): the channel name top left, the clock in its box top
// right (the only part that changes by itself), the menu in the middle, the volume or info bar at the bottom. Texts use
// a built-in 5x7 font, upper case.
//
// Two forms. ScreenForm::Dboxshot is what the receiver's screenshot tool writes: the framebuffer alone as an 8-bit
// palettised bottom-up BMP, the palette's fourth byte the framebuffer's transparency (0xFF for the transparent entry,
// which fills everything not drawn and keeps a grey of its slot; 0x40 for the menu panels; 0 else), and an image size
// field 1024 bytes too large. ScreenForm::Plain is an uncompressed 24-bit BMP with colour bars as the picture behind.
enum class ScreenForm { Dboxshot, Plain };
inline constexpr int kScreenWidth = 360;
inline constexpr int kScreenHeight = 288;
// Where the clock is drawn: x, y, width, height.
inline constexpr int kClockBox[4] = {254, 4, 102, 22};
inline constexpr int kMenuRows = 6;

std::string renderScreenBmp(const ScreenView& view, ScreenForm form = ScreenForm::Plain);

// The colour the transparent entry of a Dboxshot picture's palette keeps.
inline constexpr unsigned char kTransparentSlotGrey = 0x80;

} // namespace boxsim
