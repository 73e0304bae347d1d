#include "midi/services/pulselib.h"

#include "midi/services/sharedlibrary.h"

namespace pulselib {
namespace {

Api api;
sharedlibrary::Once library;

bool open(std::string& why)
{
    void* handle = sharedlibrary::Open({"libpulse.so.0", "libpulse.so"}, "PulseAudio", why);
    if (!handle)
        return false;
#define SONAREL_PULSE_FIND(name) \
    if (!sharedlibrary::Find(handle, #name, api.name, "PulseAudio", why)) \
        return false;
    SONAREL_PULSE_FUNCTIONS(SONAREL_PULSE_FIND)
#undef SONAREL_PULSE_FIND
    return true;
}

}  // namespace

bool Load(std::string& why) { return library.load(open, why); }

const Api& Pulse() { return api; }

}  // namespace pulselib
