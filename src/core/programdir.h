#pragma once

#include <QString>

// Where "Quoxel.ini" and "Quoxel.log" live: beside the executable when that folder is writable
// or already holds a "Quoxel.ini"; otherwise the user's configuration folder.
// Pure, so it can be tested with any pair of folders. Returns a path with a trailing '/'.
QString resolveProgramDir(const QString& executableDir, const QString& configHome);

// The program directory of this run, decided once (first call) and then fixed; created if needed.
QString AppDir();
