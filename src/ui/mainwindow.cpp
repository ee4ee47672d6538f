#include "ui/mainwindow.h"

#include "core/appflags.h"
#include "core/clock.h"
#include "core/freememory.h"
#include "core/log.h"
#include "core/options.h"
#include "core/settingsstore.h"
#include "ui/blackscreen.h"
#include "ui/channelbox.h"
#include "ui/splash.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QWindowStateChangeEvent>

namespace quoxel {

namespace {

constexpr int kModePanelWidth = 45;
constexpr int kTimePanelWidth = 100;
constexpr int kRecordingMarkWidth = 40;

QWidget* blackPanel(QWidget* parent, const char* name) {
    auto* w = new QWidget(parent);
    w->setObjectName(QLatin1String(name));
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, Qt::black);
    w->setPalette(pal);
    return w;
}

// The speaker pictures beside the volume bar, drawn so no picture file is needed.
QPixmap speakerPicture(bool on) {
    QPixmap pix(16, 16);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::black);
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygon({{2, 6}, {5, 6}, {9, 2}, {9, 14}, {5, 10}, {2, 10}}));
    p.setPen(QPen(on ? QColor(0, 120, 0) : QColor(200, 0, 0), 1.5));
    if (on) {
        p.drawArc(QRect(8, 4, 6, 8), -60 * 16, 120 * 16);
    } else {
        p.drawLine(11, 5, 15, 11);
        p.drawLine(15, 5, 11, 11);
    }
    return pix;
}

// The stock TV picture the logo shows until a channel has its own.
QPixmap tvPicture() {
    QPixmap pix(40, 21);
    pix.fill(QColor(30, 30, 30));
    QPainter p(&pix);
    p.setPen(Qt::white);
    p.drawText(pix.rect(), Qt::AlignCenter, QStringLiteral("TV"));
    return pix;
}

QIcon appIcon() {
    QPixmap pix(32, 32);
    pix.fill(QColor(20, 40, 90));
    QPainter p(&pix);
    p.setPen(Qt::white);
    p.setFont(QFont(QStringLiteral("Arial"), 18, QFont::Bold));
    p.drawText(pix.rect(), Qt::AlignCenter, QStringLiteral("Q"));
    return QIcon(pix);
}

} // namespace

TFrmQuoxel::TFrmQuoxel(QWidget* parent)
    : QMainWindow(parent) {
    setObjectName(QStringLiteral("FrmQuoxel"));
    setWindowTitle(QStringLiteral("Quoxel"));
    setWindowIcon(appIcon());
    m_menu = buildMainMenu(menuBar());
    buildClient();
    buildStatusBar();
    m_view = std::make_unique<ViewModes>(ViewWidgets{this, m_video, m_background, m_realOsd, m_telnet, m_logo,
                                                     m_channels, m_play, m_volOn, m_volOff, m_volume, &m_menu},
                                         ViewHooks{}, Options);
    m_blackScreen = std::make_unique<TFrmBlackScreen>();
    m_splash = new TFrmSplash(this);
    buildTray();
    connectMenu();

    m_timerTime.setInterval(10000);
    connect(&m_timerTime, &QTimer::timeout, this, &TFrmQuoxel::TimerTimeTimer);
    m_timerTime.start();
    m_popUpTimer.setInterval(1);
    m_popUpTimer.setSingleShot(true);
    connect(&m_popUpTimer, &QTimer::timeout, this, &TFrmQuoxel::PopUpTimerTimer);
    m_popup.setObjectName(QStringLiteral("PopupMenu"));
    connect(&m_popup, &QMenu::aboutToShow, this, &TFrmQuoxel::PopupMenuPopup);
    // Leaving the menu loop ends IsMenuOpen, whichever way the menu closed.
    connect(&m_popup, &QMenu::aboutToHide, this, [this] {
        m_view->IsMenuOpen = false;
        QApplication::processEvents();
    });
    for (QMenu* top : menuBar()->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
        connect(top, &QMenu::aboutToShow, this, [this] { m_view->IsMenuOpen = true; });
        connect(top, &QMenu::aboutToHide, this, [this] { m_view->IsMenuOpen = false; });
    }
    resize(ViewModes::kDesignSize);
}

TFrmQuoxel::~TFrmQuoxel() {
    setStatusSink(nullptr);
}

void TFrmQuoxel::buildClient() {
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("Client"));
    m_client->installEventFilter(this);
    setCentralWidget(m_client);

    m_video = blackPanel(m_client, "Video");
    // Its own X window, handed to the player by id; created now so the id is fixed from the start.
    m_video->setAttribute(Qt::WA_NativeWindow);
    m_video->setAttribute(Qt::WA_DontCreateNativeAncestors);
    m_video->installEventFilter(this);

    m_background = blackPanel(m_client, "Background");
    m_image1 = new QLabel(m_background);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setScaledContents(true);
    m_background->hide();
    m_background->installEventFilter(this);

    // The receiver's screen over the video. As a sibling of the player's native window it is a
    // native window too, which is what lets it cover the video.
    m_realOsd = blackPanel(m_client, "PnlRealOSD");
    m_realOsd->installEventFilter(this);
    m_imgRealOsd = new QLabel(m_realOsd);
    m_imgRealOsd->setObjectName(QStringLiteral("ImgRealOSD"));
    m_imgRealOsd->setScaledContents(true);
    m_realOsdClose = new QLabel(QStringLiteral("x"), m_realOsd);
    m_realOsdClose->setObjectName(QStringLiteral("LblRealOSDClose"));
    QFont verdana(QStringLiteral("Verdana"));
    verdana.setBold(true);
    m_realOsdClose->setFont(verdana);
    m_realOsdClose->setStyleSheet(QStringLiteral("color: white;"));
    m_realOsdClose->setCursor(Qt::PointingHandCursor);
    m_realOsdClose->adjustSize();
    m_realOsdClose->installEventFilter(this);
    m_realOsd->hide();
    m_telnet = new QWidget(m_client);
    m_telnet->setObjectName(QStringLiteral("PnlTelnet"));
    m_telnet->hide();

    m_logo = new QLabel(m_client);
    m_logo->setObjectName(QStringLiteral("Logo"));
    m_logo->setCursor(Qt::PointingHandCursor);
    m_logo->setScaledContents(true);
    m_logo->setPixmap(tvPicture());
    m_logo->installEventFilter(this);

    m_channels = new TComboBoxQuoxel(m_client);
    m_channels->setObjectName(QStringLiteral("CmbChannels"));
    m_channels->setMaxVisibleItems(16);
    QFont bold = m_channels->font();
    bold.setBold(true);
    m_channels->setFont(bold);

    m_play = new QPushButton(QString(QChar(0x25B6)), m_client);
    m_play->setObjectName(QStringLiteral("BtnPlay"));
    connect(m_play, &QPushButton::clicked, this, &TFrmQuoxel::playClicked);

    m_volOn = new QLabel(m_client);
    m_volOn->setObjectName(QStringLiteral("ImgVolOn"));
    m_volOn->setPixmap(speakerPicture(true));
    m_volOff = new QLabel(m_client);
    m_volOff->setObjectName(QStringLiteral("ImgVolOff"));
    m_volOff->setPixmap(speakerPicture(false));
    m_volOff->hide();
    for (QLabel* img : {m_volOn, m_volOff})
        img->installEventFilter(this);

    m_volume = new QProgressBar(m_client);
    m_volume->setObjectName(QStringLiteral("Volume"));
    m_volume->setRange(0, 100);
    m_volume->setValue(100);
    m_volume->setTextVisible(false);
    m_volume->setFocusPolicy(Qt::StrongFocus);
    m_volume->installEventFilter(this);
}

void TFrmQuoxel::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setFixedHeight(20);
    bar->setSizeGripEnabled(false);
    for (int i = 0; i < 3; ++i) {
        m_panels[i] = new QLabel(bar);
        m_panels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        bar->addWidget(m_panels[i]);
    }
    m_panels[1]->setFixedWidth(kModePanelWidth);
    m_panels[1]->setAlignment(Qt::AlignCenter);
    m_panels[2]->setFixedWidth(kTimePanelWidth);
    m_panels[2]->setText(QStringLiteral(" 00.00.0000 00:00"));
    m_recording = new QLabel(QStringLiteral("REC"), bar);
    m_recording->setObjectName(QStringLiteral("LblRecording"));
    m_recording->setToolTip(QStringLiteral("the receiver is recording"));
    m_recording->setAlignment(Qt::AlignCenter);
    m_recording->setFixedWidth(kRecordingMarkWidth);
    m_recording->setStyleSheet(
        QStringLiteral("QLabel { background: rgb(200, 0, 0); color: white; font-weight: bold; }"));
    m_recording->hide();
    bar->addPermanentWidget(m_recording);
    m_panels[0]->setFixedWidth(statusMessageWidth(width(), kModePanelWidth, kTimePanelWidth));
}

void TFrmQuoxel::setRecordingShown(bool shown) {
    m_recording->setVisible(shown);
    // The message panel gives the mark its room.
    m_panels[0]->setFixedWidth(
        statusMessageWidth(width(), kModePanelWidth + (shown ? kRecordingMarkWidth : 0), kTimePanelWidth));
}

void TFrmQuoxel::buildTray() {
    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setObjectName(QStringLiteral("Tray"));
    m_trayMenu.setObjectName(QStringLiteral("PopupMenu1"));
    m_close2 = m_trayMenu.addAction(QStringLiteral("Close"));
    m_close2->setObjectName(QStringLiteral("Close2"));
    connect(m_close2, &QAction::triggered, this, &TFrmQuoxel::Close2Click);
    m_tray->setContextMenu(&m_trayMenu);
    m_tray->setToolTip(QStringLiteral("Quoxel"));
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            TrayClick();
        else if (reason == QSystemTrayIcon::DoubleClick)
            TrayDblClick();
    });
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_tray->show();
}

void TFrmQuoxel::connectMenu() {
    connect(m_menu.VideoOnly1, &QAction::triggered, this, [this] { m_view->VideoOnly1Click(m_menu.VideoOnly1); });
    connect(m_menu.alwaysontop1, &QAction::triggered, this, [this] { m_view->alwaysontop1Click(m_menu.alwaysontop1); });
    connect(m_menu.Fullscreen1, &QAction::triggered, this, [this] { m_view->Fullscreen1Click(); });
    connect(m_menu.N1, &QAction::triggered, this, &TFrmQuoxel::N1Click);
    connect(m_menu.Close1, &QAction::triggered, this, &TFrmQuoxel::Close1Click);
}

void TFrmQuoxel::setViewHooks(ViewHooks hooks) {
    m_view->setHooks(std::move(hooks));
    m_view->layoutClient(m_client->size());
}

void TFrmQuoxel::showStatus(const QString& message, const QString& modeName, const QString& stamp) {
    const int mark = m_recording->isHidden() ? 0 : kRecordingMarkWidth;
    m_panels[0]->setFixedWidth(statusMessageWidth(width(), kModePanelWidth + mark, kTimePanelWidth));
    m_panels[0]->setText(message);
    m_panels[1]->setText(modeName);
    m_panels[2]->setText(stamp);
    // At once: the texts of a switch or a caching wait come while this thread is busy.
    if (statusBar()->isVisible())
        statusBar()->repaint();
}

void TFrmQuoxel::TimerTimeTimer() {
    Log(LogFunc, QStringLiteral("TimeTimer"));
    ShowStatus(m_panels[0]->text());
    if (m_clockListener)
        m_clockListener(Clock::current().now().toString(QStringLiteral("hh:mm")));
    ReturnFreeMemory();
    Q_EMIT clockTicked();
}

void TFrmQuoxel::setMuted(bool muted) {
    m_volOff->setVisible(muted);
    m_volOn->setVisible(!muted);
}

bool TFrmQuoxel::muted() const {
    return !m_volOff->isHidden();
}

void TFrmQuoxel::setVolumePosition(int position) {
    m_volume->setValue(std::clamp(position, 0, 100));
}

void TFrmQuoxel::showBackdrop() {
    m_blackScreen->show();
    m_blackScreen->raise();
}

void TFrmQuoxel::StartBackdropTimer() {
    m_blackScreen->StartBackdropTimer();
}

void TFrmQuoxel::startPopup() {
    m_view->IsMenuOpen = true;
    m_popUpTimer.start();
}

void TFrmQuoxel::PopUpTimerTimer() {
    Log(LogFunc, QStringLiteral("PopUpTimer"));
    m_popUpTimer.stop();
    m_popup.popup(QCursor::pos());
}

void TFrmQuoxel::PopupMenuPopup() {
    Q_EMIT popupOpening();
    QAction* abort = rebuildPopup(m_popup, *menuBar());
    connect(abort, &QAction::triggered, this, &TFrmQuoxel::PopupAbbruchClick);
}

void TFrmQuoxel::PopupAbbruchClick() {
    m_view->IsMenuOpen = false;
}

void TFrmQuoxel::TrayClick() {
    m_splash->close();
    QApplication::processEvents();
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void TFrmQuoxel::TrayDblClick() {
    showNormal();
    raise();
    activateWindow();
}

void TFrmQuoxel::Close1Click() {
    if (m_closeRequest) {
        m_closeRequest();
        return;
    }
    if (IsStarting)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::processEvents();
    close();
    QApplication::restoreOverrideCursor();
}

void TFrmQuoxel::N1Click() {
    {
        ViewModes::ModalScope below(*m_view);
        QApplication::processEvents();
        m_splash->centreOver(*this);
        m_splash->exec();
    }
    setFocus();
}

void TFrmQuoxel::ShowInfo(const QString& text) {
    ViewModes::ModalScope below(*m_view);
    if (m_infoBox) {
        m_infoBox(text);
        return;
    }
    QMessageBox::information(this, windowTitle(), text);
}

bool TFrmQuoxel::ConfirmBox(const QString& text) {
    ViewModes::ModalScope below(*m_view);
    if (m_confirmBox)
        return m_confirmBox(text);
    return QMessageBox::warning(this, windowTitle(), text, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

bool TFrmQuoxel::saveWindowState(SettingsStore& store) const {
    return store.SaveWindowState(m_view->windowState(), Options);
}

void TFrmQuoxel::closeEvent(QCloseEvent* event) {
    if (!m_closing && m_closeHandler) {
        m_closing = true;
        m_closeHandler();
    }
    m_tray->hide();
    m_blackScreen->hide();
    QMainWindow::closeEvent(event);
}

void TFrmQuoxel::changeEvent(QEvent* event) {
    // Minimised with "hide taskbar", the window leaves the task list; the tray icon brings it back.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) && Options.HideTaskbar &&
        !IsClosing) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                hide();
                Q_EMIT minimisedToTray();
            },
            Qt::QueuedConnection);
    }
    QMainWindow::changeEvent(event);
}

void TFrmQuoxel::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (!IsClosing)
        ShowStatus(m_panels[0]->text());
}

void TFrmQuoxel::setStillPicture(const QImage& picture) {
    m_still = picture;
    m_stillScaled = QPixmap();
    m_video->update();
}

void TFrmQuoxel::resendVideoSize() {
    const QSize size = m_video->size();
    m_video->resize(size.width() > 1 ? size.width() - 1 : size.width() + 1, size.height());
    m_video->resize(size);
}

bool TFrmQuoxel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_client && event->type() == QEvent::Resize) {
        m_view->layoutClient(m_client->size());
    } else if (watched == m_realOsd && event->type() == QEvent::Show) {
        // A hidden native window keeps the size it was made with, and the window system reports
        // that one back: the panel takes the video's place again once it is up.
        m_realOsd->setGeometry(m_video->geometry());
    } else if (watched == m_realOsd && event->type() == QEvent::Resize) {
        // The picture is stretched to the panel; the "x" sits at its top right, above it.
        m_imgRealOsd->setGeometry(m_realOsd->rect());
        m_realOsdClose->move(m_realOsd->width() - m_realOsdClose->width() - 4, 2);
        m_realOsdClose->raise();
    } else if (watched == m_realOsdClose && event->type() == QEvent::MouseButtonPress) {
        Q_EMIT realOsdCloseClicked();
        return true;
    } else if (watched == m_video && event->type() == QEvent::Paint && !m_still.isNull()) {
        // Fitted and centred as the player fits its picture, over the panel's black.
        const QSize fitted = m_still.size().scaled(m_video->size(), Qt::KeepAspectRatio);
        if (m_stillScaled.size() != fitted)
            m_stillScaled = QPixmap::fromImage(m_still.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        QPainter painter(m_video);
        painter.drawPixmap((m_video->width() - fitted.width()) / 2, (m_video->height() - fitted.height()) / 2,
                           m_stillScaled);
        return true;
    } else if (event->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton) {
            if (watched == m_volOn || watched == m_volOff) {
                Q_EMIT muteClicked();
                return true;
            }
            if (watched == m_logo) {
                Q_EMIT logoClicked();
                return true;
            }
        }
    } else if (watched == m_volume &&
               (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove ||
                event->type() == QEvent::MouseButtonRelease)) {
        auto* me = static_cast<QMouseEvent*>(event);
        // The volume follows a press and a drag with the left button alone, no modifier key.
        const bool leftOnly = me->buttons() == Qt::LeftButton && me->modifiers() == Qt::NoModifier;
        const int x = static_cast<int>(me->position().x());
        if (event->type() == QEvent::MouseButtonPress)
            Q_EMIT volumeMouse(VolumeMouse::Down, x, m_volume->width(), leftOnly);
        else if (event->type() == QEvent::MouseMove)
            Q_EMIT volumeMouse(VolumeMouse::Move, x, m_volume->width(), leftOnly);
        else
            Q_EMIT volumeMouse(VolumeMouse::Up, x, m_volume->width(), leftOnly);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace quoxel
