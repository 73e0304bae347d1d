#include "midi/services/fluidlib.h"

#include <dlfcn.h>

#include <mutex>

namespace fluidlib {
namespace {

Api api;
bool loaded = false;
std::string failure;

void open()
{
    void* library = nullptr;
    for (const char* name : {"libfluidsynth.so.3", "libfluidsynth.so"})
        if ((library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL)))
            break;
    if (!library) {
        const char* why = ::dlerror();
        failure = std::string("FluidSynth cannot be loaded: ") + (why ? why : "libfluidsynth.so.3 not found");
        return;
    }
#define SONAREL_FLUID_FIND(name)                                                            \
    api.name = reinterpret_cast<decltype(api.name)>(::dlsym(library, #name));              \
    if (!api.name) {                                                                        \
        failure = "FluidSynth has no " #name ": the installed library is too old";          \
        return;                                                                             \
    }
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
