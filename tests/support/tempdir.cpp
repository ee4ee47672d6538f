#include "support/tempdir.h"

#include <QDirIterator>
#include <QFile>

TestDir::TestDir() = default;

TestDir::~TestDir() {
    QDirIterator it(m_dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    while (it.hasNext()) {
        const QString p = it.next();
        QFile::setPermissions(p, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

QString TestDir::path(const QString& name) const {
    return name.isEmpty() ? m_dir.path() : m_dir.filePath(name);
}

bool TestDir::write(const QString& name, const QByteArray& bytes) const {
    QFile f(path(name));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray TestDir::read(const QString& name) const {
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
