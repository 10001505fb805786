#include "platform/dynlib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace platform {

const char *displayLibraryFileName() { return "libvesklink.so"; }

namespace {
std::filesystem::path executableFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

std::string lastLoaderError() {
  const char *e = dlerror();
  return e ? e : "unknown reason";
}
} // namespace

void *loadLibrary(const std::string &fileName, std::string &error) {
  error.clear();
  const auto folder = executableFolder();
  if (!folder.empty()) {
    const auto beside = folder / fileName;
    std::error_code ec;
    if (std::filesystem::exists(beside, ec)) {
      if (void *lib = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL))
        return lib;
      // A file that is there but does not load: say so, then let the loader's
      // own search have its turn.
      error = lastLoaderError() + "; ";
    }
  }
  if (void *lib = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL))
    return lib;
  error += lastLoaderError();
  return nullptr;
}

void *findSymbol(void *lib, const char *name) { return lib ? dlsym(lib, name) : nullptr; }

} // namespace platform
