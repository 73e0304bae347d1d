#pragma once
// Where songs live when the program's own folder is not the user's to write.
#include <QString>

// Whether the program in `programFolder` was installed for the system (a
// bin folder on Linux, one the installer left its uninstaller in on
// Windows): its folder then gets no Music folder, even where it could.
bool InstalledProgram(const QString& programFolder);
// The folder that then holds Music: the user's data folder on Linux, the
// user's documents on Windows (Documents\Sonarel).
QString UserSongsFolder();
