#pragma once

#include "core/inifile.h"
#include "core/settingstable.h"

#include <array>

class TOptions;
class FirstStartDialog;

// What the main window hands over when the program closes.
struct WindowState {
    int height = 0;
    int width = 0;
    int left = 0;
    int top = 0;
    bool alwaysOnTop = false;
    bool videoOnly = false;
};

// "Quoxel.ini" and the values of the options dialog's controls. The dialog shows and edits
// value()/setValue(); the file and TOptions are only ever filled through this class.
// UI thread only.
class SettingsStore {
public:
    explicit SettingsStore(const QString& iniPath);

    TIniFile& ini() { return m_ini; }
    const TIniFile& ini() const { return m_ini; }

    // A control's value as the dialog shows it: text, a list item's text, "1"/"0" for a flag.
    QString value(SettingId id) const { return m_values[static_cast<int>(id)]; }
    void setValue(SettingId id, const QString& v) { m_values[static_cast<int>(id)] = v; }
    bool flag(SettingId id) const { return value(id) == QLatin1String("1"); }
    void setFlag(SettingId id, bool on) { setValue(id, on ? QStringLiteral("1") : QStringLiteral("0")); }
    // Position of a list key's value in its list.
    int itemIndex(SettingId id) const;

    // No "General" section: the program has never been configured.
    bool isFirstStart() const { return !m_ini.SectionExists(QStringLiteral("General")); }
    void setFirstStartValues();

    // Opens the store when the options dialog is created: the first-start dialog if needed,
    // then LoadSettings, then the fields that only change at the next start.
    void create(TOptions& options, FirstStartDialog* firstStart);

    // File -> controls -> options. Re-reads the file, so Cancel discards edits.
    void LoadSettings(TOptions& options);
    // Controls -> file, every key except the window state, in one atomic write.
    bool SaveSettings();
    // Main window -> file, only when RememberState is set; with it the programme guide's choices
    // ([Extras]) when they changed. Always allows the close.
    bool SaveWindowState(const WindowState& window, const TOptions& options);

    QString lastError() const { return m_ini.lastError(); }

    // The file's lines with every password replaced by "***", for the head of the log.
    QList<QByteArray> maskedCopy() const;

private:
    std::array<QString, kSettingCount> m_values;
    TIniFile m_ini;
};

// The transcoding option strings of online mode; both end open for the remote VLC to close.
QString soutVideo(const QString& vcodec, const QString& vbitrate, const QString& scale, const QString& acodec,
                  const QString& abitrate, const QString& achannels);
QString soutAudio(const QString& acodec, const QString& abitrate, const QString& achannels);
