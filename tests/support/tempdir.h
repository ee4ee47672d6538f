#pragma once

#include <QString>
#include <QTemporaryDir>

// A fresh folder per test, removed afterwards (read-only bits are cleared first).
class TestDir {
public:
    TestDir();
    ~TestDir();
    QString path(const QString& name = QString()) const;
    bool write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;

private:
    QTemporaryDir m_dir;
};
