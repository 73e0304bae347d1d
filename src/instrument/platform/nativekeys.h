#pragma once
#include <QByteArray>
#include <QtGlobal>

// The key a native window-system event presses or lets go of: true, with its
// native scan code, for a key press or release; false for any other event.
// Only X11's events are read; elsewhere this is always false.
bool NativeKeyEvent(const QByteArray& eventType, const void* message, quint32& nativeScanCode, bool& down);
