#pragma once

#include "core/options.h"
#include "core/ports.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <ostream>

// Readable failure output for the texts compared here.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << "{\n";
    for (const QString& s : list)
        *os << "  \"" << s.toStdString() << "\"\n";
    *os << "}";
}

// Recording stand-ins for the main window, the splash and the receiver side of start-up and close.
// Every call lands in one list, in order, so tests check sequence and texts together.
struct CallLog {
    QStringList calls;
    void add(const QString& call) { calls << call; }
    int indexOf(const QString& call) const { return static_cast<int>(calls.indexOf(call)); }
    bool has(const QString& call) const { return calls.contains(call); }
};

class FakeStatus final : public StatusSink {
public:
    explicit FakeStatus(CallLog& log)
        : m_log(log) {}
    void showStatus(const QString& message, const QString&, const QString&) override {
        m_log.add(QStringLiteral("status ") + message.trimmed()); // the panel pads its text
    }

private:
    CallLog& m_log;
};

class FakeSplash final : public SplashView {
public:
    explicit FakeSplash(CallLog& log)
        : m_log(log) {}
    void showSplash(const QString& versionLabel) override { m_log.add(QStringLiteral("splash.show") + versionLabel); }
    void setSplashStatus(const QString& text) override {
        label = text;
        m_log.add(QStringLiteral("splash ") + text);
    }
    void hideSplash() override { m_log.add(QStringLiteral("splash.hide")); }
    QString label;

private:
    CallLog& m_log;
};

class FakeConnectionView final : public ConnectionView {
public:
    explicit FakeConnectionView(CallLog& log)
        : splash(log)
        , m_log(log) {}
    void setCaption(const QString& caption) override { m_log.add(QStringLiteral("caption ") + caption); }
    void processEvents() override { m_log.add(QStringLiteral("pump")); }
    SplashView& createSplashAndOptions() override {
        m_log.add(QStringLiteral("createSplashAndOptions"));
        Options = settings; // what the options dialog reads from the ini file
        return splash;
    }
    QList<QByteArray> settingsLogHead() override {
        m_log.add(QStringLiteral("settingsLogHead"));
        return {QByteArrayLiteral("[General]"), QByteArrayLiteral("pass=***")};
    }
    void setEPGStopped(bool stopped) override { m_log.add(QStringLiteral("epgStopped %1").arg(stopped)); }
    void refreshStatusAndClock() override { m_log.add(QStringLiteral("refreshStatusAndClock")); }
    void hideReceiverItems() override { m_log.add(QStringLiteral("hideReceiverItems")); }
    void showLogoHint() override { m_log.add(QStringLiteral("logoHint")); }
    void setTelnetTarget(const QString& host, const QString& port) override {
        m_log.add(QStringLiteral("telnetTarget ") + host + QLatin1Char(':') + port);
    }
    void telnetLogin(const QString& user, const QString& password) override {
        m_log.add(QStringLiteral("telnetLogin ") + user + QLatin1Char('/') + password);
    }
    void setReceiverOsdEnabled(bool enabled) override { m_log.add(QStringLiteral("receiverOsd %1").arg(enabled)); }
    void createEPGThread() override { m_log.add(QStringLiteral("createEPGThread")); }
    void setStandbyChecked(bool checked) override { m_log.add(QStringLiteral("standbyChecked %1").arg(checked)); }
    void setSptsChecked(bool checked) override { m_log.add(QStringLiteral("sptsChecked %1").arg(checked)); }
    void showChannels() override { m_log.add(QStringLiteral("showChannels")); }
    void showRadioBackground() override { m_log.add(QStringLiteral("radioBackground")); }

    TOptions settings;
    FakeSplash splash;

private:
    CallLog& m_log;
};

// Answers come from a table keyed by the step's name; a missing key is no answer.
class FakeSteps final : public ConnectionSteps {
public:
    explicit FakeSteps(CallLog& log)
        : m_log(log) {}
    void createClients(const QString& user, const QString& password) override {
        m_log.add(QStringLiteral("createClients ") + user + QLatin1Char('/') + password);
    }
    void setMainTimeout(int seconds) override { m_log.add(QStringLiteral("mainTimeout %1").arg(seconds)); }
    QString requestBoxTime() override { return answer(QStringLiteral("gettime")); }
    QString requestVlcPage() override { return answer(QStringLiteral("vlcpage")); }
    QString requestRecordState() override { return answer(QStringLiteral("recordstate")); }
    QString requestStandbyState() override { return answer(QStringLiteral("standby")); }
    QString requestPlaybackFormat() override { return answer(QStringLiteral("playback")); }
    void sendMessage(const QString& text) override { m_log.add(QStringLiteral("message ") + text); }
    void lockRc() override { m_log.add(QStringLiteral("rc lock")); }
    bool loadBouquets() override {
        m_log.add(QStringLiteral("loadBouquets"));
        return bouquetsLoad;
    }
    void loadChannels() override { m_log.add(QStringLiteral("loadChannels")); }
    QString requestCurrentChannel() override { return answer(QStringLiteral("zapto")); }
    AktChannelPick selectAktChannel(const QString& id) override {
        m_log.add(QStringLiteral("selectAktChannel ") + id);
        return pick;
    }
    void loadAllChannelEPG() override { m_log.add(QStringLiteral("loadAllChannelEPG")); }

    QMap<QString, QString> answers;
    bool bouquetsLoad = true;
    AktChannelPick pick{false, true, false};

private:
    QString answer(const QString& key) {
        m_log.add(QStringLiteral("request ") + key);
        return answers.value(key);
    }
    CallLog& m_log;
};
