#include "cli/platform/console.h"

#include <QByteArray>

#include <cstdio>

#include <windows.h>

namespace {

bool goesSomewhere(DWORD which)
{
    const HANDLE h = GetStdHandle(which);
    return h && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void UseStartingConsole()
{
    const bool out = goesSomewhere(STD_OUTPUT_HANDLE);
    const bool err = goesSomewhere(STD_ERROR_HANDLE);
    if ((!out || !err) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        if (!out)
            std::freopen("CONOUT$", "w", stdout);
        if (!err)
            std::freopen("CONOUT$", "w", stderr);
    }
    // What is printed is UTF-8, as on every other system.
    SetConsoleOutputCP(CP_UTF8);
    // Qt's log lines go to stderr, like the program's own, not to a debugger.
    if (goesSomewhere(STD_ERROR_HANDLE))
        qputenv("QT_FORCE_STDERR_LOGGING", QByteArray("1"));
}
