#include "midi/services/audiosystem.h"

#include "midi/services/servicelog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <unistd.h>

#ifdef SONAREL_HAVE_JACK
#include <jack/jack.h>
#endif
#ifdef SONAREL_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace AudioSystem {

namespace {

#ifdef SONAREL_HAVE_JACK
void jackMessage(const char* text)
{
    qCDebug(lcMidi, "jack: %s", text);
}
#endif

#ifdef SONAREL_HAVE_ALSA
void alsaMessage(const char* file, int line, const char* function, int err, const char* fmt, ...)
{
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    qCDebug(lcMidi, "alsa: %s (%s:%d %s, %d)", text, file, line, function, err);
}
#endif

}  // namespace

void RouteLibraryMessages()
{
    static std::once_flag once;
    std::call_once(once, [] {
#ifdef SONAREL_HAVE_JACK
        jack_set_error_function(jackMessage);
        jack_set_info_function(jackMessage);
#endif
#ifdef SONAREL_HAVE_ALSA
        snd_lib_error_set_handler(alsaMessage);
#endif
    });
}

bool JackServerAnswers()
{
#ifdef SONAREL_HAVE_JACK
    RouteLibraryMessages();
    jack_status_t status{};
    jack_client_t* client = jack_client_open("sonarel-probe", JackNoStartServer, &status);
    if (!client) {
        qCDebug(lcMidi, "jack: no server (status 0x%x)", unsigned(status));
        return false;
    }
    jack_client_close(client);
    return true;
#else
    return false;
#endif
}

bool AlsaSequencerPresent()
{
    return ::access("/dev/snd/seq", R_OK | W_OK) == 0;
}

}  // namespace AudioSystem
