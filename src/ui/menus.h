#pragma once

#include <QAction>
#include <QMenu>

class QMenuBar;

namespace quoxel {

// The main menu's commands, each named after its caption with a trailing digit. Built once by
// buildMainMenu; the window connects the handlers. UI thread.
struct MainMenu {
    QMenu* Datei1 = nullptr;
    QAction* ProgramSettings1 = nullptr;
    QAction* UDPStream1 = nullptr;
    QAction* InitQuoxel1 = nullptr;
    QAction* ResetEPG1 = nullptr;
    QAction* StopEPG1 = nullptr;
    QAction* OnlineMode1 = nullptr;
    QAction* Close1 = nullptr;

    QMenu* Bouquets1 = nullptr;
    QMenu* Channels1 = nullptr;
    QMenu* SubChannels1 = nullptr;
    QMenu* Audio1 = nullptr;

    QMenu* Control1 = nullptr;
    QMenu* Dbox1 = nullptr;
    QAction* RebootDBOX1 = nullptr;
    QAction* SPTS1 = nullptr;
    QAction* StandbyOnOff1 = nullptr;
    QAction* Lock1 = nullptr;
    QAction* Message1 = nullptr; // a message of the user's on the TV screen
    QMenu* VLC1 = nullptr;
    QAction* VLCStop1 = nullptr;
    QAction* VLCPlay1 = nullptr;
    QAction* VLCRestart1 = nullptr;
    QAction* VLCMute1 = nullptr;
    QAction* VLDStartup = nullptr;
    QMenu* Telnet2 = nullptr;
    QAction* ChangePass1 = nullptr;
    QAction* Restartnhttpd1 = nullptr;
    QAction* Reboot1 = nullptr;
    QAction* Login1 = nullptr;
    QAction* Logout1 = nullptr;
    QAction* CopyLiveURL1 = nullptr;

    QMenu* View1 = nullptr;
    QAction* VideoOnly1 = nullptr;
    QAction* alwaysontop1 = nullptr;
    QAction* Fullscreen1 = nullptr;
    QAction* Telnet1 = nullptr;
    QAction* DBoxOSD1 = nullptr;
    QAction* Guide1 = nullptr;

    QAction* N1 = nullptr;

    // The separators that belong to receiver commands (hidden with them in mode "quoxel").
    QAction* SepUdp = nullptr;
    QAction* SepLogin = nullptr;
    QAction* SepCopyUrl = nullptr;
};

// Fills the menu bar with File, Bouquets, Channels, SubChannels, Audio, Control, View and "?".
// "Programme Guide" in View shows its key G, which the window's key rules answer (so the key does
// nothing while the terminal or the receiver picture takes the keys).
// Each action's objectName is its member name. Ctrl+P shows on both "D-Box SPTS" and
// "VLC Play"; only "VLC Play" answers it, as two owners of one shortcut would both go deaf.
MainMenu buildMainMenu(QMenuBar* bar);

// Hides the receiver's commands for mode "quoxel", where another instance serves the stream.
void hideReceiverMenus(const MainMenu& menu);

// The context menu: a copy of the main menu's command menus (second to second-to-last top
// item, enabled ones only, three levels deep), then a separator and "Abbruch". Clicking a copy
// triggers its source, so the source's handler and check mark act as from the main menu.
// Returns the "Abbruch" action.
QAction* rebuildPopup(QMenu& popup, const QMenuBar& bar);

} // namespace quoxel
