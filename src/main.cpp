#include "core/connection.h"
#include "core/freememory.h"
#include "core/log.h"
#include "core/programdir.h"
#include "core/singleinstance.h"
#include "core/version.h"
#include "ui/program.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>

namespace {

// An error that escapes a handler ends up in the log, not silently dropped and not as a crash:
// the window keeps running.
class QuoxelApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            Log(LogFunc, QStringLiteral("unhandled error: ") + QString::fromLocal8Bit(e.what()));
        } catch (...) {
            Log(LogFunc, QStringLiteral("unhandled error"));
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    TuneAllocator();
    QuoxelApplication app(argc, argv);
    QApplication::setApplicationName(ConnectionTexts::kCaption);
    QApplication::setApplicationVersion(QString::fromLatin1(quoxel::kVersion));

    SingleInstance instance(AppDir());
    switch (instance.acquire()) {
    case SingleInstance::Result::Acquired:
        break;
    case SingleInstance::Result::AlreadyRunning:
        QMessageBox::information(nullptr, ConnectionTexts::kCaption, ConnectionTexts::kAlreadyRunning);
        return 0;
    case SingleInstance::Result::Failed:
        // A folder without locks must not keep the program from starting.
        Log(LogFunc, QStringLiteral("single-instance lock not taken: ") + instance.errorText());
        break;
    }

    quoxel::QuoxelProgram program;
    program.start();
    return app.exec();
}
