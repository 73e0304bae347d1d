// On Windows a logout or shutdown asks each program to save its data first
// (the session manager's commit request), and Ctrl+C or closing the console a
// program was started from sends a console event: each ends the keyboard the
// way its close button does, so a take is on the disk before the process goes.
#include "window/platform/quitsignals.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSessionManager>

#include <windows.h>

namespace {

QPointer<QObject> g_owner;
std::function<void()> g_quit;

BOOL WINAPI onConsoleEvent(DWORD)
{
    // On a thread of the console's own: the quit runs on the UI thread.
    if (QObject* owner = g_owner.data())
        QMetaObject::invokeMethod(owner, [] { if (g_quit) g_quit(); }, Qt::QueuedConnection);
    return TRUE;
}

}  // namespace

void QuitOnTerminationSignals(QObject* owner, std::function<void()> quit)
{
    g_owner = owner;
    g_quit = quit;
    SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QObject::connect(app, &QGuiApplication::commitDataRequest, owner, [quit](QSessionManager&) { quit(); });
}
