#include "inputtesthost.h"

#include <QApplication>
#include <QTest>

using quoxel::InWindowPanel;
using quoxel::OsdWindow;
using quoxel::ViewCheck;

namespace {

TChannelRef makeChannel(const QString& caption, TChannelMode mode, int index) {
    auto channel = std::make_shared<TChannel>();
    channel->Caption = caption;
    channel->Id = QString::number(0x100 + index, 16);
    channel->Mode = mode;
    channel->ListIndex = index;
    return channel;
}

} // namespace

InputTestHost::InputTestHost() {
    setWindowTitle(QStringLiteral("Quoxel"));
    resize(378, 377);
    m_video = new QWidget(this);
    m_video->setObjectName(QStringLiteral("Video"));
    m_video->setGeometry(5, 5, 360, 270);
    m_video->setFocusPolicy(Qt::StrongFocus);
    m_editor = new QLineEdit(this);
    m_editor->setGeometry(48, 282, 235, 23);
    channels << makeChannel(QStringLiteral("Das Erste"), mTV, 0) << makeChannel(QStringLiteral("ZDF"), mTV, 1)
             << makeChannel(QStringLiteral("arte"), mTV, 2) << makeChannel(QStringLiteral("Bayern 3"), mRadio, 3);
    akt = channels[1];
    m_controller = std::make_unique<quoxel::InputController>(*this);
    m_hook = std::make_unique<quoxel::MouseKeyHook>(this);
    m_hook->HookMouseKey();
    m_hook->setFormWheelHandler(
        this, [this](bool up) { return up ? m_controller->FormMouseWheelUp() : m_controller->FormMouseWheelDown(); });
}

InputTestHost::~InputTestHost() {
    m_hook->UnHookMouseKey();
}

bool InputTestHost::showActive() {
    move(100, 100);
    show();
    activateWindow();
    if (!QTest::qWaitForWindowActive(this, 5000))
        return false;
    m_editor->setFocus();
    return QTest::qWaitFor([this] { return m_editor->hasFocus(); }, 5000);
}

bool InputTestHost::event(QEvent* event) {
    const bool key = event->type() == quoxel::HookMessageEvent::KeyHookMessage();
    const bool mouse = event->type() == quoxel::HookMessageEvent::MouseHookMessage();
    if (key || mouse) {
        const auto* message = static_cast<quoxel::HookMessageEvent*>(event);
        (key ? keyCodes : mouseCodes) << message->wParam();
        if (key)
            keyCtrl << message->leftCtrlDown();
        m_controller->hookEvent(event);
        ++(key ? keyMessages : mouseMessages);
        return true;
    }
    return QWidget::event(event);
}

QString InputTestHost::name(const TChannelRef& channel) {
    return channel ? channel->Caption : QStringLiteral("<none>");
}

void InputTestHost::setFullscreen(bool on) {
    calls << QStringLiteral("setFullscreen %1").arg(int(on));
    fullscreen = on;
}

bool InputTestHost::isChecked(ViewCheck item) const {
    const auto it = checks.find(item);
    return it != checks.end() && it->second;
}

void InputTestHost::setTopmost(bool on) {
    calls << QStringLiteral("setTopmost %1").arg(int(on));
}

bool InputTestHost::isForeground() const {
    return QApplication::activeWindow() == this;
}

void InputTestHost::ShowMainWindow() {
    calls << "ShowMainWindow";
}

void InputTestHost::BringMainWindowToFront() {
    calls << "BringMainWindowToFront";
}

void InputTestHost::SwitchChannel(const TChannelRef& channel) {
    calls << "SwitchChannel " + name(channel);
    switchFlags << std::make_pair(inTransition, menuOpen);
    akt = channel;
    boxIndex = channel->ListIndex;
}

TChannelRef InputTestHost::channelBoxChannel(int index) const {
    return index >= 0 && index < channels.size() ? channels[index] : nullptr;
}

void InputTestHost::reselectChannelBoxShownEntry() {
    calls << "reselectChannelBoxShownEntry";
}

void InputTestHost::setChannelPanelTopIndex(int row) {
    calls << QStringLiteral("setChannelPanelTopIndex %1").arg(row);
    panelTop = row;
}

bool InputTestHost::osdVisible(OsdWindow window) const {
    const auto it = osd.find(window);
    return it != osd.end() && it->second;
}

static QString osdName(OsdWindow window) {
    switch (window) {
    case OsdWindow::Info:
        return QStringLiteral("Info");
    case OsdWindow::Channels:
        return QStringLiteral("Channels");
    case OsdWindow::Details:
        return QStringLiteral("Details");
    }
    return {};
}

void InputTestHost::ShowOSD(OsdWindow window, const TChannelRef& channel, bool autoHide) {
    calls << QStringLiteral("ShowOSD %1 %2 %3").arg(osdName(window), name(channel), autoHide ? "auto" : "noauto");
    osd[window] = true;
}

void InputTestHost::HideOSD(OsdWindow window) {
    calls << "HideOSD " + osdName(window);
    osd[window] = false;
}

void InputTestHost::OpenDetailsOSD(const TChannelRef& channel, bool autoHide) {
    calls << QStringLiteral("OpenDetailsOSD %1 %2").arg(name(channel), autoHide ? "auto" : "noauto");
    osd[OsdWindow::Details] = true;
}

void InputTestHost::CloseDetailsOSD() {
    calls << "CloseDetailsOSD";
    osd[OsdWindow::Details] = false;
}

void InputTestHost::dropInfoOsdForMenu() {
    calls << "dropInfoOsdForMenu";
    osd[OsdWindow::Info] = false;
}

void InputTestHost::ShowEPGInfo(const TChannelRef& channel) {
    calls << "ShowEPGInfo " + name(channel);
    if (!channel || inTransition || menuOpen)
        return;
    if (fullscreen)
        osd[OsdWindow::Info] = true;
    else
        panels[InWindowPanel::Info] = true;
}

void InputTestHost::HideEPGInfo() {
    calls << "HideEPGInfo";
    if (fullscreen)
        osd[OsdWindow::Info] = false;
    else
        panels[InWindowPanel::Info] = false;
}

bool InputTestHost::panelVisible(InWindowPanel panel) const {
    const auto it = panels.find(panel);
    return it != panels.end() && it->second;
}

void InputTestHost::ShowChannelPanel() {
    calls << "ShowChannelPanel";
    panels[InWindowPanel::Channels] = true;
}

void InputTestHost::HideChannelPanel() {
    calls << "HideChannelPanel";
    panels[InWindowPanel::Channels] = false;
}

void InputTestHost::OpenDetailsPanel(const TChannelRef& channel) {
    calls << "OpenDetailsPanel " + name(channel);
    panels[InWindowPanel::Details] = true;
}

void InputTestHost::CloseDetailsPanel() {
    calls << "CloseDetailsPanel";
    panels[InWindowPanel::Details] = false;
}

void InputTestHost::setVolume(int position) {
    calls << QStringLiteral("setVolume %1").arg(position);
    volumePos = position;
}

void InputTestHost::Telnet1Click() {
    calls << "Telnet1Click";
    panels[InWindowPanel::Telnet] = !panelVisible(InWindowPanel::Telnet);
}

void InputTestHost::DBoxOSD1Click() {
    calls << "DBoxOSD1Click";
    panels[InWindowPanel::RealOsd] = !panelVisible(InWindowPanel::RealOsd);
}

void InputTestHost::alwaysontop1Click() {
    calls << "alwaysontop1Click";
    checks[ViewCheck::alwaysontop1] = !isChecked(ViewCheck::alwaysontop1);
}

void InputTestHost::VideoOnly1Click() {
    calls << "VideoOnly1Click";
    checks[ViewCheck::VideoOnly1] = !isChecked(ViewCheck::VideoOnly1);
}

void InputTestHost::hideTelnetPanel() {
    calls << "hideTelnetPanel";
    panels[InWindowPanel::Telnet] = false;
    checks[ViewCheck::Telnet1] = false;
}

Setup full(Setup more) {
    return [more](InputTestHost& h) {
        h.fullscreen = true;
        h.checks[quoxel::ViewCheck::Fullscreen1] = true;
        if (more)
            more(h);
    };
}

Setup window(Setup more) {
    return [more](InputTestHost& h) {
        if (more)
            more(h);
    };
}

Setup osd(std::initializer_list<quoxel::OsdWindow> shown) {
    const std::vector<quoxel::OsdWindow> list(shown);
    return [list](InputTestHost& h) {
        for (quoxel::OsdWindow w : list)
            h.osd[w] = true;
    };
}

Setup panels(std::initializer_list<quoxel::InWindowPanel> shown) {
    const std::vector<quoxel::InWindowPanel> list(shown);
    return [list](InputTestHost& h) {
        for (quoxel::InWindowPanel p : list)
            h.panels[p] = true;
    };
}

Setup both(Setup a, Setup b) {
    return [a, b](InputTestHost& h) {
        a(h);
        b(h);
    };
}

void settle(InputTestHost& host, int expectedCalls) {
    (void)QTest::qWaitFor([&] { return host.calls.size() >= expectedCalls; }, 1000);
    QTest::qWait(60);
}
