#include "MediaModule.h"

#include "FileIo.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tamsel {

std::string MediaModuleFileName() {
#if defined(_WIN32)
  return "tamsel_media_module.dll";
#elif defined(__APPLE__)
  return "libtamsel_media_module.so";
#else
  return "libtamsel_media_module.so";
#endif
}

std::unique_ptr<MediaFactory> LoadMediaFactory(const std::string& folder, QWidget* videoParent,
                                               MediaNotices notices, VideoRenderer renderer,
                                               std::string& error) {
  using Create = MediaFactory* (*)(QWidget*, const MediaNotices*, int);
  static Create create = nullptr;
  if (!create) {
    // Beside the program (as built), else in lib/tamsel/ beside its bin/ (as installed).
    std::string path = folder + "/" + MediaModuleFileName();
    if (!FileExists(path)) {
      const std::string installed = folder + "/../lib/tamsel/" + MediaModuleFileName();
      if (FileExists(installed)) path = installed;
    }
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
      error = path + "：无法载入（" + std::to_string(GetLastError()) + "）";
      return nullptr;
    }
    create = reinterpret_cast<Create>(GetProcAddress(module, "TamselCreateMediaFactory"));
#else
    // Kept loaded for the rest of the run: its libraries are costly to load twice.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      const char* why = dlerror();
      error = path + "：无法载入（" + (why ? why : "原因不明") + "）";
      return nullptr;
    }
    create = reinterpret_cast<Create>(dlsym(module, "TamselCreateMediaFactory"));
#endif
    if (!create) {
      error = path + "：不是本程序的播放模块";
      return nullptr;
    }
  }
  return std::unique_ptr<MediaFactory>(create(videoParent, &notices, static_cast<int>(renderer)));
}

}  // namespace tamsel
