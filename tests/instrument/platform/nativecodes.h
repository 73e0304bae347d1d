#pragma once
// How this platform's window system numbers keys in a key event's native
// scan code, for tests that make key events as the system would deliver them.
#include <QtGlobal>

#include <utility>
#include <vector>

// Keys as the system reports them: (native scan code, key map code).
std::vector<std::pair<quint32, int>> PlatformKeyCodes();
// The native scan code of a key map code (the keyboard's 256-entry table).
quint32 NativeCodeOf(int keyMapCode);
