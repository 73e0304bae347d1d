#pragma once
// Opening a library when it is first needed, and finding its functions.
#include <dlfcn.h>

#include <initializer_list>
#include <mutex>
#include <string>

namespace sharedlibrary {

// The first of `names` that loads; nullptr, with the reason, when none does.
inline void* Open(std::initializer_list<const char*> names, const char* what, std::string& why)
{
    for (const char* name : names)
        if (void* library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL))
            return library;
    const char* error = ::dlerror();
    why = std::string(what) + " cannot be loaded: " + (error ? error : *names.begin());
    return nullptr;
}

// Sets `function` to the library's `name`; false, with the reason, when the
// library has no such function.
template <class Function>
bool Find(void* library, const char* name, Function& function, const char* what, std::string& why)
{
    function = reinterpret_cast<Function>(::dlsym(library, name));
    if (!function)
        why = std::string(what) + " has no " + name + ": the installed library is too old";
    return function != nullptr;
}

// A library opened once, by whichever thread first needs it; it stays open
// for the program's life.
class Once {
public:
    // Runs `open` (which opens the library and finds its functions) the first
    // time; false, with the reason it gave, when it failed.
    bool load(bool (*open)(std::string& why), std::string& why)
    {
        std::call_once(once_, [&] { loaded_ = open(failure_); });
        if (!loaded_)
            why = failure_;
        return loaded_;
    }

private:
    std::once_flag once_;
    bool loaded_ = false;
    std::string failure_;
};

}  // namespace sharedlibrary
