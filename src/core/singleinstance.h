#pragma once

#include <QString>

// The single-instance check: an exclusive lock on "Quoxel.lock" in the program directory. The
// kernel drops the lock with the process however it ends, so a crash never blocks the next start;
// the file itself stays. Not inherited by child processes. Main thread, at program entry.
class SingleInstance {
public:
    enum class Result {
        Acquired,       // this is the only instance
        AlreadyRunning, // another process holds the lock
        Failed,         // the lock file cannot be opened or locked (the caller decides)
    };

    // dir with trailing separator, as AppDir() gives it.
    explicit SingleInstance(const QString& dir);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Result acquire();
    bool held() const { return m_fd >= 0; }
    QString filePath() const { return m_path; }
    QString errorText() const { return m_error; }

    static inline const QString kFileName = QStringLiteral("Quoxel.lock");

private:
    QString m_path;
    QString m_error;
    int m_fd = -1;
};
