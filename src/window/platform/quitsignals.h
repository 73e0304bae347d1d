#pragma once
#include <functional>

class QObject;

// A logout, `kill` or Ctrl+C ends the program the way its close button does:
// `quit` runs on the UI thread (from the event loop) when the process gets
// SIGTERM, SIGINT or SIGHUP. The signal handler only writes a byte into a
// pipe; everything else happens outside it. `owner` ends the watching.
void QuitOnTerminationSignals(QObject* owner, std::function<void()> quit);
