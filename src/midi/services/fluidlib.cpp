#include "midi/services/fluidlib.h"

#include "midi/services/sharedlibrary.h"

#include <mutex>

namespace fluidlib {
namespace {

Api api;
bool loaded = false;
std::string failure;

void open()
{
    void* library = sharedlibrary::Open({"libfluidsynth.so.3", "libfluidsynth.so"}, "FluidSynth", failure);
    if (!library)
        return;
#define SONAREL_FLUID_FIND(name) \
    if (!sharedlibrary::Find(library, #name, api.name, "FluidSynth", failure)) return;
    SONAREL_FLUID_FUNCTIONS(SONAREL_FLUID_FIND)
#undef SONAREL_FLUID_FIND
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

const Api& Fluid() { return api; }

}  // namespace fluidlib
