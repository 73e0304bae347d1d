#pragma once

// What the services need to know about the machine's sound and MIDI systems
// before they dare to touch them.
namespace AudioSystem {

// Sends the messages that libjack and alsa-lib print on their own to the
// MIDI log category (debug level), so a machine without sound stays quiet on
// stderr apart from our own one-line warnings. Safe to call often.
void RouteLibraryMessages();

// True when a JACK server is running and accepts a client. Asked without
// starting a server: an automatically started jackd would grab the sound
// card behind the user's back (and takes seconds to fail where there is none).
bool JackServerAnswers();

// True when the ALSA sequencer device exists and may be opened.
bool AlsaSequencerPresent();

}  // namespace AudioSystem
