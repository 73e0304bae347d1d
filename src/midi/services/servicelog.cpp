#include "midi/services/servicelog.h"

Q_LOGGING_CATEGORY(lcMidi, "sonarel.midi", QtWarningMsg)
