#include "core/log.h"

#include "core/clock.h"
#include "core/options.h"
#include "core/ports.h"
#include "support/filesizelimit.h"
#include "support/tempdir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <thread>

namespace {

class LogTest : public ::testing::Test {
protected:
    LogTest()
        : m_clock(QDateTime(QDate(2026, 3, 1), QTime(9, 5, 7, 42))) {
        Clock::setCurrent(&m_clock);
    }
    ~LogTest() override { Clock::setCurrent(nullptr); }
    QString file() const { return m_dir.path(QStringLiteral("Quoxel.log")); }
    QByteArray onDisk() const { return m_dir.read(QStringLiteral("Quoxel.log")); }
    ManualClock m_clock;
    TestDir m_dir;
};

} // namespace

// Lines carry the time, the padded label, the text and, when there is one, the detail.
TEST_F(LogTest, LineLayoutPerCategory) {
    Logger log(file());
    log.setDetailSource(LogVlc, [](int code) { return code == -3 ? QStringLiteral("no such item") : QString(); });
    log.setDetailSource(LogHttp, [](int) { return QStringLiteral("200 OK"); });
    log.log(LogFunc, QStringLiteral("SwitchChannel(3)"));
    log.log(LogVlc, QStringLiteral("VLC_Stop()"), -3);
    log.log(LogVlc, QStringLiteral("VLC_Play()"), 0);
    log.log(LogHttp, QStringLiteral("http://10.0.0.1:80/control/info"));
    log.log(LogThread, QStringLiteral("no source set"));
    log.log(LogMsg, QStringLiteral("WM_MOUSEWHEEL"));
    log.log(9, QStringLiteral("odd"));
    EXPECT_EQ(onDisk(), QByteArray("09:05:07:042, FUNC  , SwitchChannel(3)\n"
                                   "09:05:07:042, VLC   , VLC_Stop(), no such item\n"
                                   "09:05:07:042, VLC   , VLC_Play()\n"
                                   "09:05:07:042, HTTP  , http://10.0.0.1:80/control/info, 200 OK\n"
                                   "09:05:07:042, THREAD, no source set\n"
                                   "09:05:07:042, MSG   , WM_MOUSEWHEEL\n"
                                   "09:05:07:042, , odd\n"));
}

// Detail traces are discarded; switched-off logging creates no file at all.
TEST_F(LogTest, DiscardedAndDisabled) {
    Logger log(file());
    log.log(LogMsgDet, QStringLiteral("->if x"));
    EXPECT_FALSE(QFile::exists(file()));
    log.setEnabled(false);
    log.log(LogFunc, QStringLiteral("x"));
    log.restart({"[General]"});
    EXPECT_FALSE(QFile::exists(file()));
}

// A restart replaces the file by the settings copy and an empty line; the first write of a run
// replaces an older file.
TEST_F(LogTest, RestartBeginsWithSettingsCopy) {
    ASSERT_TRUE(m_dir.write(QStringLiteral("Quoxel.log"), "old run\n"));
    Logger log(file());
    log.log(LogFunc, QStringLiteral("a"));
    EXPECT_EQ(onDisk(), QByteArray("09:05:07:042, FUNC  , a\n"));
    log.restart({"[General]", "mode=live"});
    log.log(LogFunc, QString());
    EXPECT_EQ(onDisk(), QByteArray("[General]\nmode=live\n\n09:05:07:042, FUNC  , \n"));
}

// A write that fails keeps the line in memory; it goes out with the next successful write.
TEST_F(LogTest, FailedWriteKeepsLines) {
    Logger log(file());
    log.log(LogFunc, QStringLiteral("first"));
    {
        FileSizeLimit limit(static_cast<rlim_t>(onDisk().size()));
        log.log(LogFunc, QStringLiteral("second"));
        EXPECT_EQ(log.pendingLines(), 1);
    }
    log.log(LogFunc, QStringLiteral("third"));
    EXPECT_EQ(log.pendingLines(), 0);
    EXPECT_EQ(onDisk(), QByteArray("09:05:07:042, FUNC  , first\n09:05:07:042, FUNC  , second\n"
                                   "09:05:07:042, FUNC  , third\n"));
}

// An unwritable place for the log never stops the caller.
TEST_F(LogTest, MissingFolderIsHarmless) {
    Logger log(m_dir.path(QStringLiteral("no/such/folder/Quoxel.log")));
    for (int i = 0; i < 10; ++i)
        log.log(LogFunc, QStringLiteral("line"));
    EXPECT_EQ(log.pendingLines(), 10);
}

// Two threads logging at once never interleave inside a line and lose none.
TEST_F(LogTest, TwoWritersNeverInterleave) {
    Clock::setCurrent(nullptr);
    Logger log(file());
    constexpr int kLines = 400;
    const QString a = QStringLiteral("main-") + QString(200, QLatin1Char('a'));
    const QString b = QStringLiteral("epg-") + QString(200, QLatin1Char('b'));
    std::thread worker([&] {
        for (int i = 0; i < kLines; ++i)
            log.log(LogThread, b);
    });
    for (int i = 0; i < kLines; ++i)
        log.log(LogFunc, a);
    worker.join();
    const QList<QByteArray> lines = onDisk().split('\n');
    int seenA = 0;
    int seenB = 0;
    for (const QByteArray& l : lines) {
        if (l.isEmpty())
            continue;
        const QByteArray text = l.mid(l.indexOf(", ", 14) + 2);
        if (text == a.toUtf8())
            ++seenA;
        else if (text == b.toUtf8())
            ++seenB;
        else
            ADD_FAILURE() << "mangled line: " << l.constData();
    }
    EXPECT_EQ(seenA, kLines);
    EXPECT_EQ(seenB, kLines);
}

namespace {
class RecordingSink : public StatusSink {
public:
    void showStatus(const QString& m, const QString& mode, const QString& stamp) override {
        message = m;
        this->mode = mode;
        this->stamp = stamp;
    }
    QString message, mode, stamp;
};
} // namespace

// The status line gets a leading space, the mode name and the time without seconds.
TEST_F(LogTest, StatusTexts) {
    const QDateTime t(QDate(2026, 3, 1), QTime(21, 7, 59));
    StatusTexts s = statusTexts(QString(), AppMode::Online, t);
    EXPECT_EQ(s.message, QStringLiteral(" "));
    EXPECT_EQ(s.mode, QStringLiteral("online"));
    EXPECT_TRUE(s.stamp.endsWith(QStringLiteral(" 21:07"))) << s.stamp.toStdString();
    EXPECT_TRUE(s.stamp.startsWith(QLatin1Char(' ')));
    EXPECT_EQ(statusTexts(QStringLiteral(" already"), AppMode::Live, t).message, QStringLiteral(" already"));
    EXPECT_EQ(statusTexts(QStringLiteral("loading channels..."), AppMode::Quoxel, t).message,
              QStringLiteral(" loading channels..."));
    EXPECT_EQ(statusMessageWidth(800, 45, 100), 635);
    EXPECT_EQ(statusMessageWidth(100, 45, 100), 0);

    RecordingSink sink;
    setStatusSink(&sink);
    ShowStatus(QStringLiteral("stream stopped!"));
    setStatusSink(nullptr);
    EXPECT_EQ(sink.message, QStringLiteral(" stream stopped!"));
    EXPECT_EQ(sink.mode, QStringLiteral("live"));
}

// Switched-off logging leaves the program's log alone, Delay's line included.
TEST_F(LogTest, LoggingOffLeavesTheFileAlone) {
    const QString path = appLogger().filePath();
    Options.NoLogging = false;
    Log(LogFunc, QStringLiteral("written"));
    const qint64 size = QFileInfo(path).size();
    ASSERT_GT(size, 0);
    Options.NoLogging = true;
    Log(LogFunc, QStringLiteral("not written"));
    Delay(1, true);
    EXPECT_EQ(QFileInfo(path).size(), size);
    Options.NoLogging = false;
}

// The window thread's fixed waits take their time and add up, logged or not and with logging off; another thread's
// (the guide thread paces itself with the same call) do not count.
TEST_F(LogTest, FixedWaitsOfTheWindowThread) {
    const qint64 before = uiFixedWaitMs();
    QElapsedTimer waited;
    waited.start();
    Delay(20, true);
    Delay(15, false);
    EXPECT_GE(waited.elapsed(), 35) << "the waits are real";
    Options.NoLogging = true;
    Delay(5, true);
    Options.NoLogging = false;
    addUiFixedWait(10);
    addUiFixedWait(-7);
    EXPECT_EQ(uiFixedWaitMs() - before, 50);
    std::thread([] {
        Delay(25, false);
        addUiFixedWait(10);
    }).join();
    EXPECT_EQ(uiFixedWaitMs() - before, 50);
}
