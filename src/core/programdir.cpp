#include "core/programdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {

QString withSlash(QString dir) {
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

} // namespace

QString resolveProgramDir(const QString& executableDir, const QString& configHome) {
    const QString exe = withSlash(QDir::cleanPath(executableDir));
    if (QFileInfo::exists(exe + QStringLiteral("Quoxel.ini")))
        return exe;
    // access() rather than QFileInfo::isWritable: it asks the kernel, ACLs and read-only mounts included.
    if (::access(QFile::encodeName(exe).constData(), W_OK) == 0)
        return exe;
    return withSlash(QDir::cleanPath(configHome)) + QStringLiteral("Quoxel/");
}

QString AppDir() {
    static const QString dir = [] {
        QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        const QString d = resolveProgramDir(exeDir, config);
        QDir().mkpath(d);
        return d;
    }();
    return dir;
}
