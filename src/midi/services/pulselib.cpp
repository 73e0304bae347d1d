#include "midi/services/pulselib.h"

#include "midi/services/sharedlibrary.h"

#include <mutex>

namespace pulselib {
namespace {

Api api;
bool loaded = false;
std::string failure;

void open()
{
    void* library = sharedlibrary::Open({"libpulse.so.0", "libpulse.so"}, "PulseAudio", failure);
    if (!library)
        return;
#define SONAREL_PULSE_FIND(name) \
    if (!sharedlibrary::Find(library, #name, api.name, "PulseAudio", failure)) return;
    SONAREL_PULSE_FUNCTIONS(SONAREL_PULSE_FIND)
#undef SONAREL_PULSE_FIND
    loaded = true;  // the library stays open for the program's life
}

}  // namespace

bool Load(std::string& why)
{
    static std::once_flag once;
    std::call_once(once, open);
    if (!loaded)
        why = failure;
    return loaded;
}

const Api& Pulse() { return api; }

}  // namespace pulselib
