#include "window/platform/folders.h"

#include <QDir>
#include <QStandardPaths>

bool InstalledProgram(const QString& programFolder)
{
    // Root may write to /usr/bin, which must not get a Music folder.
    return QDir(programFolder).dirName() == QLatin1String("bin");
}

QString UserSongsFolder() { return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation); }
