#pragma once

#include <QDialog>

class QLabel;

namespace quoxel {

// The start-up splash and the about box "DOVO": picture, version, start-up progress and a
// web link; borderless and above other windows. UI thread.
class TFrmSplash : public QDialog {
    Q_OBJECT
public:
    explicit TFrmSplash(QWidget* mainWindow = nullptr);

    static constexpr QSize kSize{250, 200};
    static constexpr const char* kLinkUrl = "https://www.videolan.org/vlc/";

    // Puts a progress text on the status label and lets it show at once.
    void SetSplashStatus(const QString& text);
    void setVersionText(const QString& text);
    // Over the main window, as the about box opens.
    void centreOver(const QWidget& window);

    QLabel* LblStatus() const { return m_status; }
    QLabel* LblVersion() const { return m_version; }
    QLabel* LblLink() const { return m_link; }
    QLabel* ImgSplash() const { return m_picture; }

Q_SIGNALS:
    // The link was clicked; the address is opened in the user's browser.
    void linkOpened(const QString& url);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_main;
    QLabel* m_picture;
    QLabel* m_version;
    QLabel* m_status;
    QLabel* m_link;
};

} // namespace quoxel
