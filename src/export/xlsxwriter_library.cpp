#include "xlsxwriter_library.h"

#include <dlfcn.h>

#include <initializer_list>

namespace ostrel {

namespace {

const XlsxWriterLibrary* load()
{
    void* handle = nullptr;
    for (const char* name : {"libxlsxwriter.so.4", "libxlsxwriter.so"})
        if ((handle = dlopen(name, RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND)))
            break;
    if (!handle)
        return nullptr;
    static XlsxWriterLibrary library;
#define OSTREL_XLSXWRITER_RESOLVE(name)                                                                                \
    library.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                                          \
    if (!library.name)                                                                                                 \
        return nullptr;
    OSTREL_XLSXWRITER_FUNCTIONS(OSTREL_XLSXWRITER_RESOLVE)
#undef OSTREL_XLSXWRITER_RESOLVE
    return &library;
}

} // namespace

const XlsxWriterLibrary* xlsxWriterLibrary()
{
    static const XlsxWriterLibrary* library = load();
    return library;
}

} // namespace ostrel
