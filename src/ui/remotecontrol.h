#pragma once

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QStringList>
#include <QWidget>

#include <array>
#include <functional>

class BoxClient;
class QLabel;
class TelnetSession;
class TOptions;

// One button of the remote-control picture: picture pixels, both bounds inclusive.
struct RemoteKeyRect {
    const char* key;
    int xFrom;
    int xTo;
    int yFrom;
    int yTo;
    bool contains(QPoint p) const { return p.x() >= xFrom && p.x() <= xTo && p.y() >= yFrom && p.y() <= yTo; }
};
const std::array<RemoteKeyRect, 26>& remoteKeyTable();
// The keys whose rectangles hold the point, in table order (at most one: they do not overlap).
QStringList remoteKeysAt(QPoint p);

// Our own picture of the remote control (128 x 480), its buttons drawn inside the hit rectangles, and the
// window outline taken from it: every pixel that is not the key colour.
QImage paintRemotePicture();
inline constexpr QRgb kRemoteMaskKeyColour = 0xffff00ff;
QRegion remoteRegion(const QImage& picture, QRgb keyColour = kRemoteMaskKeyColour);

// The borderless stay-on-top window with the remote-control picture, docked left of the main window. UI thread.
class TFrmRemoteControl : public QWidget {
    Q_OBJECT
public:
    explicit TFrmRemoteControl(QWidget* parent = nullptr);
    QLabel* Image1() const { return m_image; }
    QLabel* LblRemoteControlClose() const { return m_close; }
    // Beside the main window: its right edge overlaps the main window's left edge by 2 pixels.
    void placeBeside(const QRect& mainFrame);

Q_SIGNALS:
    void pictureClicked(QPoint picturePos);
    void closeClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_image = nullptr;
    QLabel* m_close = nullptr;
};

// The "D-Box OSD" view: the receiver's screen picture over the video and the remote-control window, the
// keys sent with "rcem" and the picture fetched after each. UI thread; the waits let events run.
class BoxOsdView : public QObject {
    Q_OBJECT
public:
    static constexpr int kKeyWaitMs = 600;
    static constexpr int kShotWaitMs = 600;

    BoxOsdView(TOptions& options, BoxClient& box, TelnetSession& telnet, QLabel& imgRealOsd, TFrmRemoteControl& remote,
               QObject* parent = nullptr);

    // The main window's parts the toggle needs.
    void setMainWindow(QWidget* main) { m_main = main; }
    void setFullscreenQuery(std::function<bool()> isFullscreen) { m_isFullscreen = std::move(isFullscreen); }
    // The panel that holds ImgRealOSD (PnlRealOSD); the label's parent when unset.
    void setPanel(QWidget* panel) { m_panel = panel; }
    // Tests shorten the waits; the program keeps the receiver's pace.
    void setWaits(int keyMs, int shotMs) {
        m_keyWaitMs = keyMs;
        m_shotWaitMs = shotMs;
    }

    void DBoxOSD1Click();
    bool isOn() const { return m_on; }
    void SendRemoteKey(const QString& key);
    // False when no picture came (no login, no answer, or not a bitmap); the last good picture stays.
    bool RefreshBoxScreenshot();
    void pictureMouseDown(QPoint picturePos);
    QImage lastPicture() const { return m_picture; }
    QString lastFailure() const { return m_failure; }

Q_SIGNALS:
    void checkedChanged(bool on);

private:
    void wait(int ms);

    TOptions& m_options;
    BoxClient& m_box;
    TelnetSession& m_telnet;
    QLabel& m_img;
    TFrmRemoteControl& m_remote;
    QWidget* m_main = nullptr;
    QWidget* m_panel = nullptr;
    std::function<bool()> m_isFullscreen;
    QImage m_picture;
    QString m_failure;
    int m_keyWaitMs = kKeyWaitMs;
    int m_shotWaitMs = kShotWaitMs;
    bool m_on = false;
    bool m_busy = false;
};
