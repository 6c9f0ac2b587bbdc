# The web build: Debian's emscripten, and the prefix where setup.sh builds zlib, libsoxr and
# libFLAC for WebAssembly from Debian's source packages (cmake/web_libraries.sh; the same
# default there).
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
if(DEFINED ENV{VORLA_WEB_PREFIX})
  set(VORLA_WEB_PREFIX $ENV{VORLA_WEB_PREFIX})
else()
  set(VORLA_WEB_PREFIX $ENV{HOME}/.cache/vorla-web)
endif()
list(APPEND CMAKE_FIND_ROOT_PATH ${VORLA_WEB_PREFIX})
