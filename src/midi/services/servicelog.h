#pragma once
#include <QLoggingCategory>

// Everything the MIDI services have to say goes through this one category.
// Only warnings are on by default; QT_LOGGING_RULES="sonarel.midi.debug=true"
// also shows what the synthesizer and the audio libraries report while they
// probe for drivers and ports.
Q_DECLARE_LOGGING_CATEGORY(lcMidi)
