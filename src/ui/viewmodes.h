#pragma once

#include "core/settingsstore.h"

#include <QList>
#include <QRect>
#include <QSize>

#include <functional>

class QAction;
class QComboBox;
class QMainWindow;
class QWidget;
class TOptions;

namespace quoxel {

struct MainMenu;

// The widgets the view modes move about; the main window fills this in once.
struct ViewWidgets {
    QMainWindow* window = nullptr;
    QWidget* Video = nullptr;
    QWidget* Background = nullptr;
    QWidget* PnlRealOSD = nullptr;
    QWidget* PnlTelnet = nullptr;
    QWidget* Logo = nullptr;
    QComboBox* CmbChannels = nullptr;
    QWidget* BtnPlay = nullptr;
    QWidget* ImgVolOn = nullptr;
    QWidget* ImgVolOff = nullptr;
    QWidget* Volume = nullptr;
    const MainMenu* menu = nullptr;
};

// What the view modes ask of the rest of the window: the current channel's kind and the
// programme info over the video. Unset hooks mean "TV channel" and "nothing to show".
struct ViewHooks {
    std::function<bool()> isRadio;
    std::function<void()> showEpgInfo;
    std::function<void()> hideEpgInfo;
    // The in-window info bar, channel list and details follow the video's new bounds.
    std::function<void(const QRect& video, bool videoOnly)> overlaysMoved;
};

// Normal window, video only, full screen and always on top, with the view-state flags that the
// input rules, overlays and the channel switch read. Full screen is the main window itself
// shown full screen with only the video, so the player's native window never changes.
// UI thread.
class ViewModes {
public:
    ViewModes(ViewWidgets widgets, ViewHooks hooks, const TOptions& options);
    void setHooks(ViewHooks hooks) { m_hooks = std::move(hooks); }

    // Designed window size and the height the menu bar and status bar give up in video only.
    static constexpr QSize kDesignSize{378, 377};
    static constexpr int kVideoOnlyDelta = 55;

    bool IsFullscreen = false;
    bool IsInTransition = false;
    bool IsMenuOpen = false;
    bool IsDblClickEPG = false;
    // Topmost placement was lifted for full screen and is owed back when it ends.
    bool IsAlwaysOnTop = false;

    bool videoOnly() const { return m_videoOnly; }
    bool alwaysOnTopChosen() const { return m_alwaysOnTop; }
    // The window is placed above others right now.
    bool topmost() const { return m_topmost; }

    // The menu commands; `sender` is the action clicked (a context-menu copy or the menu item),
    // or null from the key rules.
    void VideoOnly1Click(QAction* sender = nullptr);
    void alwaysontop1Click(QAction* sender = nullptr);
    void Fullscreen1Click();

    // The state changes of entering and leaving full screen; the double-click and Esc rules
    // call these directly.
    void enterFullscreen();
    void leaveFullscreen();
    // Only the view: the window full screen with the video alone, or back; sets IsFullscreen and
    // leaves check marks, placement and panels to the caller.
    void setFullscreenView(bool on);
    void BringMainWindowToFront();

    // Places every control for the client area's size in the current mode.
    void layoutClient(const QSize& client);

    // First show: the saved geometry (each non-zero value) and view modes, or the designed size
    // centred on the screen.
    void applySavedState(const TOptions& options);
    // What the settings store keeps at close; the geometry is the one of the normal window even
    // while full screen is on.
    WindowState windowState() const;

    // Modal windows open below a topmost main window; the placement comes back afterwards.
    void setTopmost(bool on);
    class ModalScope {
    public:
        explicit ModalScope(ViewModes& modes);
        ~ModalScope();
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;

    private:
        ViewModes& m_modes;
        bool m_wasTopmost;
    };

private:
    bool isRadio() const { return m_hooks.isRadio && m_hooks.isRadio(); }
    void setChrome(bool visible);
    void placeControls(const QSize& client);
    QList<QWidget*> controlRow() const;

    ViewWidgets m_w;
    ViewHooks m_hooks;
    const TOptions& m_options;
    bool m_videoOnly = false;
    bool m_alwaysOnTop = false;
    bool m_topmost = false;
    // The normal window's geometry and the video-only view before full screen began.
    QRect m_normalGeometry;
    int m_stackedFill = -1; // the fill state the controls were last stacked for
};

} // namespace quoxel
