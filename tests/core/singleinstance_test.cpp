#include "core/singleinstance.h"

#include "support/tempdir.h"

#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>

namespace {

QString helperPath() {
    return QStringLiteral(QUOXEL_INSTANCE_HELPER);
}

// Starts the helper holding the lock in dir and waits for its first line.
bool startHolder(QProcess& p, const QString& dir, QByteArray* firstLine, const QString& mode = QStringLiteral("lock")) {
    p.start(helperPath(), {mode, dir});
    if (!p.waitForStarted(5000))
        return false;
    if (!QTest::qWaitFor([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; }, 10000))
        return false;
    *firstLine = p.readLine().trimmed();
    return true;
}

QString dirOf(const TestDir& d) {
    return d.path() + QLatin1Char('/');
}

} // namespace

// A second process is refused while the first holds the lock, and gets it once the first ends.
TEST(SingleInstance, SecondProcessRefused) {
    TestDir dir;
    SingleInstance first(dirOf(dir));
    ASSERT_EQ(first.acquire(), SingleInstance::Result::Acquired);
    QProcess second;
    QByteArray line;
    ASSERT_TRUE(startHolder(second, dirOf(dir), &line));
    EXPECT_EQ(line, QByteArrayLiteral("running"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(second.exitCode(), 3);
}

// A second lock object, even in the same process, is refused: the lock belongs to the open file.
TEST(SingleInstance, SecondObjectInProcessRefused) {
    TestDir dir;
    SingleInstance first(dirOf(dir));
    ASSERT_EQ(first.acquire(), SingleInstance::Result::Acquired);
    EXPECT_EQ(first.acquire(), SingleInstance::Result::Acquired); // idempotent for the holder
    {
        SingleInstance second(dirOf(dir));
        EXPECT_EQ(second.acquire(), SingleInstance::Result::AlreadyRunning);
        EXPECT_FALSE(second.held());
    }
    // The refused object's cleanup does not drop the holder's lock.
    SingleInstance third(dirOf(dir));
    EXPECT_EQ(third.acquire(), SingleInstance::Result::AlreadyRunning);
}

// A holder killed with SIGKILL leaves its file behind, and that file never blocks the next start.
TEST(SingleInstance, StaleLockAfterKillDoesNotBlock) {
    TestDir dir;
    QProcess holder;
    QByteArray line;
    ASSERT_TRUE(startHolder(holder, dirOf(dir), &line));
    ASSERT_EQ(line, QByteArrayLiteral("acquired"));
    {
        SingleInstance blocked(dirOf(dir));
        EXPECT_EQ(blocked.acquire(), SingleInstance::Result::AlreadyRunning);
    }
    ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
    ASSERT_TRUE(holder.waitForFinished(10000));
    EXPECT_EQ(holder.exitStatus(), QProcess::CrashExit);
    ASSERT_TRUE(QFile::exists(dir.path(SingleInstance::kFileName)));
    SingleInstance next(dirOf(dir));
    EXPECT_EQ(next.acquire(), SingleInstance::Result::Acquired);
    EXPECT_EQ(dir.read(SingleInstance::kFileName).trimmed(), QByteArray::number(QCoreApplication::applicationPid()));
}

// A start whose earlier calls left errno at EINTR still takes the free lock at once.
TEST(SingleInstance, StaleEintrDoesNotHoldTheStart) {
    TestDir dir;
    QProcess holder;
    QByteArray line;
    ASSERT_TRUE(startHolder(holder, dirOf(dir), &line, QStringLiteral("lock-eintr")));
    EXPECT_EQ(line, QByteArrayLiteral("acquired"));
    holder.closeWriteChannel();
    EXPECT_TRUE(holder.waitForFinished(10000));
}

// A leftover file with any content, even huge, is simply taken over.
TEST(SingleInstance, LeftoverFileIsTakenOver) {
    TestDir dir;
    ASSERT_TRUE(dir.write(SingleInstance::kFileName, QByteArray(1 << 20, 'x')));
    SingleInstance instance(dirOf(dir));
    EXPECT_EQ(instance.acquire(), SingleInstance::Result::Acquired);
    EXPECT_EQ(dir.read(SingleInstance::kFileName).trimmed(), QByteArray::number(QCoreApplication::applicationPid()));
}

// A child started by the holder does not inherit the lock: once the holder lets go, the next
// instance starts although the child still runs.
TEST(SingleInstance, ChildProcessDoesNotKeepTheLock) {
    TestDir dir;
    QProcess child;
    {
        SingleInstance holder(dirOf(dir));
        ASSERT_EQ(holder.acquire(), SingleInstance::Result::Acquired);
        child.start(QStringLiteral("/bin/sleep"), {QStringLiteral("20")});
        ASSERT_TRUE(child.waitForStarted(5000));
    }
    SingleInstance next(dirOf(dir));
    EXPECT_EQ(next.acquire(), SingleInstance::Result::Acquired);
    child.kill();
    child.waitForFinished(5000);
}

// A folder where no file can be made gives Failed with a reason, not a false "already running".
TEST(SingleInstance, MissingFolderFails) {
    TestDir dir;
    SingleInstance instance(dir.path(QStringLiteral("no/such/folder/")));
    EXPECT_EQ(instance.acquire(), SingleInstance::Result::Failed);
    EXPECT_FALSE(instance.errorText().isEmpty());
}

// The priority reaches every thread of the process, the ones started before it too.
TEST(Priority, IdleReachesEveryThread) {
    QProcess p;
    p.start(helperPath(), {QStringLiteral("priority"), QStringLiteral("IDLE")});
    ASSERT_TRUE(p.waitForFinished(10000));
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    ASSERT_GE(lines.size(), 3); // "applied", the main thread and the extra one
    EXPECT_EQ(lines[0], QByteArrayLiteral("applied"));
    for (qsizetype i = 1; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].trimmed().toInt(), 19) << i;
}
