#include "instrument/platform/autorepeat.h"

#include <QGuiApplication>

#ifdef SONAREL_HAVE_X11
#include <QtGui/qguiapplication_platform.h>
// Xlib's headers define macros (Bool, KeyPress, None) that clash with Qt's
// names, so they come last and stay in this file.
#include <X11/XKBlib.h>
#endif

bool RequestDetectableAutoRepeat()
{
#if defined(SONAREL_HAVE_X11) && QT_CONFIG(xcb)
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return false;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display())
        return false;
    // The flag belongs to the client's connection, which Qt shares with Xlib.
    Bool supported = False;
    const Bool set = XkbSetDetectableAutoRepeat(x11->display(), True, &supported);
    XFlush(x11->display());
    return set && supported;
#else
    return false;
#endif
}
