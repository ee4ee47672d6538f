#pragma once

#include <QDateTime>
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

// The receiver's screen picture from its BMP file. The receiver's screenshot tool writes an 8-bit
// palettised BMP whose palette's fourth byte is the framebuffer's transparency (0xFF: nothing drawn
// there) and whose image size field is too large; those pixels show black, and the rows are read
// by the picture's width and height alone. Other BMPs go to Qt's reader. Sizes beyond
// maxSide or rows past the end of the data give a null image.
QImage decodeScreenPicture(const QByteArray& bmp, int maxSide = 4096);

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
    // A picture file not renewed since the last one is fetched again this often, this far apart.
    static constexpr int kStaleRetries = 5;
    static constexpr int kStaleRetryMs = 300;

    void DBoxOSD1Click();
    bool isOn() const { return m_on; }
    // Turns the view off whatever the login: the picture and the remote control go, unchecked.
    void closeView();
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
    // One fetch of /tmp/a.bmp: the body of a 200 answer (else empty), its Last-Modified and Date.
    QByteArray fetchPicture(QDateTime* lastModified, QDateTime* date);

    TOptions& m_options;
    BoxClient& m_box;
    TelnetSession& m_telnet;
    QLabel& m_img;
    TFrmRemoteControl& m_remote;
    QWidget* m_main = nullptr;
    QWidget* m_panel = nullptr;
    std::function<bool()> m_isFullscreen;
    QImage m_picture;
    QDateTime m_pictureTime; // Last-Modified of the picture shown
    QString m_failure;
    int m_keyWaitMs = kKeyWaitMs;
    int m_shotWaitMs = kShotWaitMs;
    bool m_on = false;
    bool m_busy = false;
};
