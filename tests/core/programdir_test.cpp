#include "core/programdir.h"

#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

// A writable folder beside the executable holds the settings.
TEST(ProgramDir, WritableExecutableFolder) {
    TestDir exe;
    TestDir home;
    EXPECT_EQ(resolveProgramDir(exe.path(), home.path()), exe.path() + QLatin1Char('/'));
}

// An unwritable folder without an ini sends the settings to the user's configuration folder;
// one that already holds "Quoxel.ini" keeps them beside the executable.
TEST(ProgramDir, UnwritableFolder) {
    TestDir home;
    const QString noSuchDir = home.path(QStringLiteral("missing/bin"));
    EXPECT_EQ(resolveProgramDir(noSuchDir, home.path()), home.path() + QStringLiteral("/Quoxel/"));

    TestDir exe;
    ASSERT_TRUE(exe.write(QStringLiteral("Quoxel.ini"), "[General]\n"));
    QFile::setPermissions(exe.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(resolveProgramDir(exe.path(), home.path()), exe.path() + QLatin1Char('/'));
}
