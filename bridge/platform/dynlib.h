// Loading a shared library by file name and its functions by name.
#ifndef VESKBRIDGE_PLATFORM_DYNLIB_H
#define VESKBRIDGE_PLATFORM_DYNLIB_H

#include <string>

namespace platform {

// File name of the display library on this platform.
const char *displayLibraryFileName();

// Loads fileName from the folder of the running executable when it is there,
// otherwise through the loader's usual search. Returns null on failure and
// then sets error to the loader's reason.
void *loadLibrary(const std::string &fileName, std::string &error);

// Address of the export name in lib, or null.
void *findSymbol(void *lib, const char *name);

} // namespace platform

#endif
