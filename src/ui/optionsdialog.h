#pragma once

#include "box/webserver.h"
#include "core/ports.h"
#include "core/settingsstore.h"
#include "core/settingstable.h"

#include <QDialog>

#include <array>
#include <functional>
#include <optional>

class BoxClient;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class TNumEdit;
class TOptions;

// Why a value cannot be saved, or empty when it can. The rules behind the dialog's marks.
QString settingProblem(SettingId id, const QString& value, const QString& mode);

// The modal options dialog: the editing surface of the settings store, one control per ini key, and the
// receiver's web-server page. Created once, shown any number of times; also the first-start dialog.
// UI thread.
class TFrmOptions : public QDialog, public FirstStartDialog {
    Q_OBJECT
public:
    enum Page { PageGeneral, PageDBox2, PageVlc, PageTelnet, PageHotkeys, PageWebServer };

    TFrmOptions(SettingsStore& store, TOptions& options, QWidget* parent = nullptr);
    ~TFrmOptions() override;

    // Opens the store as the program starts: first-start dialog if needed, then the settings.
    void createStore();
    bool runFirstStart(SettingsStore& store) override;

    // Store values -> controls, and back. Passwords stay in the controls, never in a log line.
    void loadControls();
    void storeControls();
    QWidget* editor(SettingId id) const;
    QString controlValue(SettingId id) const;
    void setControlValue(SettingId id, const QString& value);

    // Checks every control, marks the bad ones, enables "Ok" only when all are good.
    bool validate();
    QString problemText() const;

    void OkClick();
    void BtnCancelClick();
    void BtnReadClick();
    void BtnUpdateRestartClick();
    void BtnForgetCertificatesClick();
    void LstFlagsMouseMove(const QPoint& pos);

    // Mode "quoxel": the D-Box2, VLC and WebServer pages are not offered.
    void hideReceiverPages();

    // Set when OK changed something that only takes effect at the next start.
    bool restartNeeded() const { return m_restartNeeded; }

    // The request client for the web-server page; without one the page cannot read.
    void setBoxClient(BoxClient* box) { m_box = box; }
    // Asks a warning question with OK and Cancel; a message box unless replaced.
    void setQuestion(std::function<bool(const QString&)> ask) { m_ask = std::move(ask); }
    // Hides the start-up picture before the first-start dialog shows.
    void setHideSplash(std::function<void()> hide) { m_hideSplash = std::move(hide); }
    // The main window's state, saved as the dialog closes when "Remember Window State" is on.
    void setWindowStateSource(std::function<WindowState()> source) { m_windowState = std::move(source); }
    // Forgets the trusted HTTPS keys of the receivers, returning how many (-1: not written).
    // Without it the button stays off.
    void setForgetCertificates(std::function<int()> forget);

    QTabWidget* pages() const { return m_pages; }
    QListWidget* flagList() const { return m_flags; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* forgetCertificatesButton() const { return m_btnForget; }
    QLabel* certificateStatus() const { return m_certStatus; }
    const std::optional<WebServerSettings>& webSettings() const { return m_web; }

    static QString hotkeysText();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    QWidget* buildGeneral();
    QWidget* buildDBox2();
    QWidget* buildVlc();
    QWidget* buildTelnet();
    QWidget* buildHotkeys();
    QWidget* buildWebServer();
    QLineEdit* addEdit(QWidget* page, SettingId id, const QString& hint);
    TNumEdit* addNumber(QWidget* page, SettingId id, const QString& hint, int decimals = 0);
    QComboBox* addList(QWidget* page, SettingId id, const QString& hint);
    void watch(QWidget* w);

    SettingsStore& m_store;
    TOptions& m_options;
    BoxClient* m_box = nullptr;
    std::function<bool(const QString&)> m_ask;
    std::function<void()> m_hideSplash;
    std::function<WindowState()> m_windowState;
    std::function<int()> m_forgetCertificates;
    std::array<QWidget*, kSettingCount> m_editors{};
    QTabWidget* m_pages = nullptr;
    QListWidget* m_flags = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_problem = nullptr;
    QPushButton* m_btnRead = nullptr;
    QPushButton* m_btnForget = nullptr;
    QLabel* m_certStatus = nullptr;
    QLabel* m_lblWebPort = nullptr;
    TNumEdit* m_webPort = nullptr;
    QCheckBox* m_webThread = nullptr;
    QPushButton* m_btnUpdate = nullptr;
    QLabel* m_webStatus = nullptr;
    std::optional<WebServerSettings> m_web;
    bool m_restartNeeded = false;
    bool m_loading = false;
};
