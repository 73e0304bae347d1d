#pragma once
// Opening a library when it is first needed, and finding its functions.
#include <dlfcn.h>

#include <initializer_list>
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

}  // namespace sharedlibrary
