#include "core/version.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quoxel"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(quoxel::kVersion));
    std::printf("Quoxel %s\n", quoxel::kVersion);
    return 0;
}
