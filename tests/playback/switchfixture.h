#pragma once

#include "switchtesthost.h"

#include "box/boxcommands.h"
#include "box/epgparse.h"
#include "box/httpengine.h"
#include "core/log.h"
#include "core/options.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"
#include "support/statustrail.h"

#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

// One receiver simulator, the real HTTP client, bouquet model, stream setup and libvlc player
// (no window: the dummy video and audio outputs), and the switch under test.
class SwitchFixture : public ::testing::Test {
protected:
    SwitchFixture(const char* address, QStringList simArgs = {}, int mode = 0)
        : m_address(QString::fromLatin1(address))
        , m_mode(mode)
        , sim(m_address, std::move(simArgs)) {}

    void SetUp() override {
        Options.BoxAddress = m_address + QStringLiteral(":80");
        Options.IpLan = m_address;
        Options.IpPc = m_address;
        Options.Mode = static_cast<AppMode>(m_mode);
        Options.StreamType = 0;
        Options.ProvideStream = false;
        Options.StreamPortProv = QString::number(kProvidePort);
        Options.QuoxelAddress = m_address + QLatin1Char(':') + QString::number(kProvidePort);
        IsPaused = false;
        ASSERT_TRUE(sim.start());

        http.Timeout = BoxClient::kTimeoutSec;
        box = std::make_unique<BoxClient>(http);
        model = std::make_unique<TBouquetModel>([this](const QString& url) { return box->BoxRequest(url); });
        ASSERT_TRUE(model->LoadBouquets());
        ASSERT_TRUE(model->LoadBouquet(QStringLiteral("1")));
        stream = std::make_unique<StreamSetup>(*box, streamView);
        playerView = std::make_unique<RecordingPlayerView>(*model);
        player = std::make_unique<VLCPlayer>(*playerView);
        player->setBoxClient(box.get());
        player->setCaching(QStringLiteral("300"), QStringLiteral("300"));
        player->setEngineArguments(engineArguments());
        switcher = std::make_unique<ChannelSwitcher>(host, *model, *box, *stream, *player);
        playerView->switcher = switcher.get();
        ASSERT_TRUE(player->VLCInit(videoWindow(), QSize(720, 576)));
        // What the start-up leaves: the channel the receiver shows is on air, now/next read.
        switcher->setAktChannel(channel(QStringLiteral("43700016d66")));
        ASSERT_TRUE(switcher->AktChannel());
        model->setSelectedIndex(model->LocateChannel(QStringLiteral("43700016d66")));
    }

    void TearDown() override {
        switcher.reset();
        player.reset();
        IsPaused = false;
    }

    // No window by default: the engine's dummy outputs.
    virtual QStringList engineArguments() const {
        return {QStringLiteral("--vout=vdummy"), QStringLiteral("--aout=dummy")};
    }
    virtual quintptr videoWindow() { return 0; }

    TChannelRef channel(const QString& id) const {
        const int at = model->LocateChannel(id);
        return at >= 0 ? model->channelBox()[at].Channel : TChannelRef();
    }

    void loadNowNext() {
        QList<TChannelRef> channels;
        for (const auto& item : model->channelBox())
            channels << item.Channel;
        ASSERT_GT(ParseEPG([this](const QString& url) { return box->BoxRequest(url); }, channels), 0);
    }

    // The user's way: select the entry, press Enter.
    void switchTo(const QString& id) {
        const int at = model->LocateChannel(id);
        ASSERT_GE(at, 0) << id.toStdString();
        model->setSelectedIndex(at);
        EXPECT_TRUE(switcher->CmbChannelsKeyDown(13));
        EXPECT_FALSE(IsSwitching.load());
    }

    // The web requests since the last clear, the simulator's own control requests left out.
    QStringList boxRequests() {
        QStringList out;
        for (const QString& t : sim.requestTargets())
            if (!t.startsWith(QLatin1String("/boxsim/")))
                out << t;
        return out;
    }

    bool decodesPictures(int timeoutMs = 15000) {
        return QTest::qWaitFor([this] { return player->engine()->stats().decodedVideo > 0; }, timeoutMs);
    }

    // The program log from here on.
    qint64 logMark() const { return QFile(appLogger().filePath()).size(); }
    QString logSince(qint64 mark) const {
        QFile f(appLogger().filePath());
        if (!f.open(QIODevice::ReadOnly) || !f.seek(mark))
            return QString();
        return QString::fromUtf8(f.readAll());
    }

    static constexpr int kProvidePort = 31329;

    ScopedAppState m_state;
    QString m_address;
    int m_mode;
    BoxSimProcess sim;
    StatusTrail status;
    RecordingSwitchHost host;
    RecordingStreamView streamView;
    TIEHTTP http;
    std::unique_ptr<BoxClient> box;
    std::unique_ptr<TBouquetModel> model;
    std::unique_ptr<StreamSetup> stream;
    std::unique_ptr<RecordingPlayerView> playerView;
    std::unique_ptr<VLCPlayer> player;
    std::unique_ptr<ChannelSwitcher> switcher;
};
