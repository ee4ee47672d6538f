#include "ui/menus.h"

#include "ui/menucolumns.h"

#include <QMenuBar>

namespace quoxel {

namespace {

QAction* item(QMenu* menu, const char* name, const QString& caption, const QKeySequence& shortcut = {}) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    if (!shortcut.isEmpty())
        a->setShortcut(shortcut);
    return a;
}

// Menus of run-time entries may break into columns.
QMenu* submenu(QWidget* parent, const char* name, const QString& caption, bool columns = false) {
    auto* m = columns ? new ColumnMenu(caption, parent) : new QMenu(caption, parent);
    m->setObjectName(QLatin1String(name));
    m->menuAction()->setObjectName(QLatin1String(name));
    return m;
}

QKeySequence ctrl(char letter) {
    return QKeySequence(Qt::CTRL | static_cast<Qt::Key>(letter));
}

// One copied entry: what the user sees and the source it stands for.
QAction* copyAction(QAction* source, QMenu* into) {
    if (source->isSeparator())
        return into->addSeparator();
    QAction* copy = into->addAction(source->text());
    copy->setObjectName(source->objectName());
    copy->setCheckable(source->isCheckable());
    copy->setChecked(source->isChecked());
    copy->setVisible(source->isVisible());
    copy->setEnabled(source->isEnabled());
    copy->setData(source->data());
    copy->setProperty(MenuColumns::kBarBreakProperty, source->property(MenuColumns::kBarBreakProperty));
    // Trigger the source rather than its handler: the handler then sees the one action that
    // outlives the menu, and a check mark toggled here shows in the main menu too.
    QObject::connect(copy, &QAction::triggered, source, [source] { source->trigger(); });
    return copy;
}

// A menu's copy with its items down to `depth` levels below it.
QMenu* copyMenu(QMenu* source, QWidget* parent, int depth) {
    auto* copy = qobject_cast<ColumnMenu*>(source) ? new ColumnMenu(source->title(), parent)
                                                   : new QMenu(source->title(), parent);
    copy->setObjectName(source->objectName());
    copy->menuAction()->setObjectName(source->menuAction()->objectName());
    copy->menuAction()->setVisible(source->menuAction()->isVisible());
    copy->menuAction()->setEnabled(source->menuAction()->isEnabled());
    for (QAction* a : source->actions()) {
        if (MenuColumns::isSpacer(a))
            continue;
        if (a->menu() && depth > 0) {
            QMenu* sub = copyMenu(a->menu(), copy, depth - 1);
            copy->addMenu(sub);
        } else {
            copyAction(a, copy);
        }
    }
    // The copy breaks into columns where its source does.
    MenuColumns::apply(copy);
    return copy;
}

} // namespace

MainMenu buildMainMenu(QMenuBar* bar) {
    MainMenu m;
    // Ctrl shortcuts are spelled out below; no & hot keys so captions stay as written.
    m.Datei1 = submenu(bar, "Datei1", QStringLiteral("File"));
    m.Datei1->menuAction()->setShortcut(ctrl('I'));
    bar->addMenu(m.Datei1);
    m.ProgramSettings1 = item(m.Datei1, "ProgramSettings1", QStringLiteral("Options"), ctrl('O'));
    m.SepUdp = m.Datei1->addSeparator();
    m.UDPStream1 = item(m.Datei1, "UDPStream1", QStringLiteral("UDP Stream"), ctrl('U'));
    m.InitQuoxel1 = item(m.Datei1, "InitQuoxel1", QStringLiteral("Init Quoxel"));
    m.InitQuoxel1->setVisible(false);
    m.Datei1->addSeparator();
    m.ResetEPG1 = item(m.Datei1, "ResetEPG1", QStringLiteral("Reset EPG"), ctrl('E'));
    m.StopEPG1 = item(m.Datei1, "StopEPG1", QStringLiteral("Stop EPG"), ctrl('G'));
    m.OnlineMode1 = item(m.Datei1, "OnlineMode1", QStringLiteral("Online Mode"));
    m.OnlineMode1->setVisible(false);
    m.Datei1->addSeparator();
    m.Close1 = item(m.Datei1, "Close1", QStringLiteral("Close"));

    m.Bouquets1 = submenu(bar, "Bouquets1", QStringLiteral("Bouquets"), true);
    bar->addMenu(m.Bouquets1);
    m.Channels1 = submenu(bar, "Channels1", QStringLiteral("Channels"), true);
    bar->addMenu(m.Channels1);
    m.SubChannels1 = submenu(bar, "SubChannels1", QStringLiteral("SubChannels"));
    bar->addMenu(m.SubChannels1);
    m.SubChannels1->menuAction()->setVisible(false);
    m.Audio1 = submenu(bar, "Audio1", QStringLiteral("Audio"));
    bar->addMenu(m.Audio1);

    m.Control1 = submenu(bar, "Control1", QStringLiteral("Control"));
    bar->addMenu(m.Control1);
    m.Dbox1 = submenu(m.Control1, "Dbox1", QStringLiteral("D-Box"));
    m.Control1->addMenu(m.Dbox1);
    m.RebootDBOX1 = item(m.Dbox1, "RebootDBOX1", QStringLiteral("D-Box Reboot"), ctrl('D'));
    m.SPTS1 = item(m.Dbox1, "SPTS1", QStringLiteral("D-Box SPTS"), ctrl('P'));
    // Shown as Ctrl+P, but only while its own menu is open; the window-wide Ctrl+P is "VLC Play".
    m.SPTS1->setShortcutContext(Qt::WidgetShortcut);
    m.SPTS1->setCheckable(true);
    m.StandbyOnOff1 = item(m.Dbox1, "StandbyOnOff1", QStringLiteral("D-Box Standby"), ctrl('B'));
    m.StandbyOnOff1->setCheckable(true);
    m.Lock1 = item(m.Dbox1, "Lock1", QStringLiteral("D-Box Lock"), ctrl('L'));
    m.Message1 = item(m.Dbox1, "Message1", QStringLiteral("D-Box Message..."));
    m.VLC1 = submenu(m.Control1, "VLC1", QStringLiteral("VLC"));
    m.Control1->addMenu(m.VLC1);
    m.VLCStop1 = item(m.VLC1, "VLCStop1", QStringLiteral("VLC Stop"), ctrl('S'));
    m.VLCPlay1 = item(m.VLC1, "VLCPlay1", QStringLiteral("VLC Play"), ctrl('P'));
    m.VLCRestart1 = item(m.VLC1, "VLCRestart1", QStringLiteral("VLC Restart"), ctrl('R'));
    m.VLCMute1 = item(m.VLC1, "VLCMute1", QStringLiteral("VLC Mute"), ctrl('M'));
    m.VLCMute1->setCheckable(true);
    m.VLDStartup = item(m.VLC1, "VLDStartup", QStringLiteral("VLD Startup"));
    m.Telnet2 = submenu(m.Control1, "Telnet2", QStringLiteral("Telnet"));
    m.Control1->addMenu(m.Telnet2);
    m.ChangePass1 = item(m.Telnet2, "ChangePass1", QStringLiteral("Change Password"));
    m.Restartnhttpd1 = item(m.Telnet2, "Restartnhttpd1", QStringLiteral("Restart Nhttpd"));
    m.Reboot1 = item(m.Telnet2, "Reboot1", QStringLiteral("Reboot D-Box2"));
    m.SepLogin = m.Telnet2->addSeparator();
    m.Login1 = item(m.Telnet2, "Login1", QStringLiteral("Login"));
    m.Logout1 = item(m.Telnet2, "Logout1", QStringLiteral("Logout"));
    m.SepCopyUrl = m.Control1->addSeparator();
    m.CopyLiveURL1 = item(m.Control1, "CopyLiveURL1", QStringLiteral("Copy Stream URL"), ctrl('C'));

    m.View1 = submenu(bar, "View1", QStringLiteral("View"));
    bar->addMenu(m.View1);
    m.VideoOnly1 = item(m.View1, "VideoOnly1", QStringLiteral("Video Only"));
    m.alwaysontop1 = item(m.View1, "alwaysontop1", QStringLiteral("Always On Top"));
    m.Fullscreen1 = item(m.View1, "Fullscreen1", QStringLiteral("Fullscreen"));
    m.View1->addSeparator();
    m.Telnet1 = item(m.View1, "Telnet1", QStringLiteral("Telnet"));
    m.DBoxOSD1 = item(m.View1, "DBoxOSD1", QStringLiteral("D-Box OSD"));
    for (QAction* a : {m.VideoOnly1, m.alwaysontop1, m.Fullscreen1, m.Telnet1, m.DBoxOSD1})
        a->setCheckable(true);
    m.View1->addSeparator();
    m.Guide1 = item(m.View1, "Guide1", QStringLiteral("Programme Guide"), QKeySequence(Qt::Key_G));
    m.Guide1->setShortcutContext(Qt::WidgetShortcut);

    m.N1 = bar->addAction(QStringLiteral("?"));
    m.N1->setObjectName(QStringLiteral("N1"));
    return m;
}

void hideReceiverMenus(const MainMenu& m) {
    for (QAction* a :
         {m.Dbox1->menuAction(), m.Telnet2->menuAction(), m.Bouquets1->menuAction(), m.Channels1->menuAction(),
          m.Audio1->menuAction(), m.OnlineMode1, m.UDPStream1, m.DBoxOSD1, m.Telnet1, m.SepUdp, m.SepLogin})
        a->setVisible(false);
}

QAction* rebuildPopup(QMenu& popup, const QMenuBar& bar) {
    popup.clear();
    // The copied sub-menus are children of the popup, not actions, so clear() leaves them.
    qDeleteAll(popup.findChildren<QMenu*>(Qt::FindDirectChildrenOnly));
    const QList<QAction*> top = bar.actions();
    for (qsizetype i = 1; i + 1 < top.size(); ++i) {
        QAction* a = top[i];
        // A hidden action reports itself disabled; only a visible, disabled menu is left out.
        if (a->isVisible() && !a->isEnabled())
            continue;
        if (QMenu* source = a->menu()) {
            QMenu* copy = copyMenu(source, &popup, 1);
            popup.addMenu(copy);
        } else {
            copyAction(a, &popup);
        }
    }
    popup.addSeparator();
    QAction* abort = popup.addAction(QStringLiteral("Abbruch"));
    abort->setObjectName(QStringLiteral("PopupAbbruch"));
    return abort;
}

} // namespace quoxel
