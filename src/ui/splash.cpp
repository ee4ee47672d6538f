#include "ui/splash.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QUrl>

namespace quoxel {

namespace {

// The splash picture: drawn, so the program needs no picture file to start.
QPixmap splashPicture() {
    QPixmap pix(TFrmSplash::kSize);
    QPainter p(&pix);
    QLinearGradient g(0, 0, 0, pix.height());
    g.setColorAt(0, QColor(20, 40, 90));
    g.setColorAt(1, QColor(0, 0, 0));
    p.fillRect(pix.rect(), g);
    p.setPen(Qt::white);
    QFont f(QStringLiteral("Arial"), 26, QFont::Bold);
    p.setFont(f);
    p.drawText(QRect(0, 40, pix.width(), 60), Qt::AlignCenter, QStringLiteral("Quoxel"));
    return pix;
}

} // namespace

TFrmSplash::TFrmSplash(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_main(mainWindow) {
    setWindowTitle(QStringLiteral("DOVO"));
    setFixedSize(kSize);
    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("ImgSplash"));
    m_picture->setGeometry(0, 0, kSize.width(), kSize.height());
    m_picture->setPixmap(splashPicture());
    m_picture->installEventFilter(this);

    m_version = new QLabel(this);
    m_version->setObjectName(QStringLiteral("LblVersion"));
    m_version->setGeometry(0, 100, kSize.width(), 20);
    m_version->setAlignment(Qt::AlignCenter);
    m_version->setStyleSheet(QStringLiteral("color: white;"));

    m_link = new QLabel(QStringLiteral("plays with VLC"), this);
    m_link->setObjectName(QStringLiteral("LblLink"));
    m_link->setGeometry(0, 130, kSize.width(), 20);
    m_link->setAlignment(Qt::AlignCenter);
    m_link->setCursor(Qt::PointingHandCursor);
    m_link->setAttribute(Qt::WA_Hover);
    m_link->setStyleSheet(QStringLiteral("QLabel { color: #9cf; } QLabel:hover { color: yellow; }"));
    m_link->installEventFilter(this);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("LblStatus"));
    m_status->setGeometry(0, kSize.height() - 24, kSize.width(), 20);
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setFont(QFont(QStringLiteral("Arial"), 8));
    m_status->setStyleSheet(QStringLiteral("color: gray;"));
}

void TFrmSplash::SetSplashStatus(const QString& text) {
    m_status->setText(text);
    if (isVisible())
        m_status->repaint();
    QApplication::processEvents();
}

void TFrmSplash::setVersionText(const QString& text) {
    m_version->setText(text);
}

void TFrmSplash::centreOver(const QWidget& w) {
    move(w.x() + (w.width() - width()) / 2, w.y() + (w.height() - height()) / 2);
}

bool TFrmSplash::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == m_link) {
            const QString url = QString::fromLatin1(kLinkUrl);
            QDesktopServices::openUrl(QUrl(url));
            Q_EMIT linkOpened(url);
            close();
            return true;
        }
        // Only the about box closes on a click; during start-up the splash stays.
        if (watched == m_picture && m_main && m_main->isVisible()) {
            close();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace quoxel
