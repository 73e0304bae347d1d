#include "midi/services/fluidlib.h"

#include "midi/services/sharedlibrary.h"

namespace fluidlib {
namespace {

Api api;
sharedlibrary::Once library;

bool open(std::string& why)
{
    void* handle = sharedlibrary::Open({"libfluidsynth.so.3", "libfluidsynth.so"}, "FluidSynth", why);
    if (!handle)
        return false;
#define SONAREL_FLUID_FIND(name) \
    if (!sharedlibrary::Find(handle, #name, api.name, "FluidSynth", why)) \
        return false;
    SONAREL_FLUID_FUNCTIONS(SONAREL_FLUID_FIND)
#undef SONAREL_FLUID_FIND
    return true;
}

}  // namespace

bool Load(std::string& why) { return library.load(open, why); }

const Api& Fluid() { return api; }

}  // namespace fluidlib
