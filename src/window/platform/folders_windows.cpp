#include "window/platform/folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

bool InstalledProgram(const QString& programFolder)
{
    // The portable zip has no uninstaller: there Music stays beside the
    // program, as the keyboard has always kept it. An administrator may
    // write to Program Files, which must not get a Music folder.
    return QFileInfo::exists(QDir(programFolder).filePath(QStringLiteral("uninstall.exe")));
}

QString UserSongsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/Sonarel");
}
