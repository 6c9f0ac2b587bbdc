#!/usr/bin/env bash
# Builds the libraries the Windows player needs and Debian ships no mingw build of (libsoxr for
# chips mode's rate conversion, SDL2 for live audio, libFLAC for FLAC output) from Debian's own source packages, with the
# i686 mingw-w64 toolchain, as static libraries in a prefix that the win32 preset searches.
#
#   bash cmake/win32_libraries.sh        (setup.sh win32 calls it)
#
# The prefix is $VORLA_WIN32_PREFIX, default ~/.cache/vorla-win32 (the toolchain file uses the
# same). It is built once per machine: a prefix that already holds these source versions, built
# by this script as it stands, is left as it is. Only the libraries are built: no tests, no examples, no
# documentation; of SDL2 only what audio needs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=${VORLA_WIN32_PREFIX:-$HOME/.cache/vorla-win32}
toolchain=$here/i686-w64-mingw32.cmake

# shellcheck source=cmake/debian_sources.sh
source "$here/debian_sources.sh"
enable_source_lines "win32 libraries"
# Scalar floating point in SSE registers, as on x86-64, so that the converter computes what the
# native build computes.
cflags="-O2 -msse2 -mfpmath=sse"
fetch_sources "win32 libraries" "$prefix" "$here/win32_libraries.sh" libsoxr libsdl2 flac

configure_and_install() {  # NAME SOURCE_DIR OPTIONS...
  local name=$1 source=$2
  shift 2
  build_library "win32 libraries" "" "$name" "$source" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_C_FLAGS_RELEASE="$cflags" -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
}

build_soxr_and_flac

# SDL2: audio, its threads and timers, and the Windows video core that its entry table needs;
# no renderers, input devices, sensors or tests.
configure_and_install libsdl2 "$(ls -d libsdl2-*/ | head -n 1)" \
  -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_TESTS=OFF -DSDL2_DISABLE_SDL2MAIN=ON \
  -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF \
  -DSDL_SENSOR=OFF -DSDL_POWER=OFF -DSDL_LOCALE=OFF -DSDL_OPENGL=OFF -DSDL_OPENGLES=OFF \
  -DSDL_VULKAN=OFF -DSDL_RENDER_D3D=OFF -DSDL_XINPUT=OFF -DSDL_CCACHE=OFF

finish_prefix "win32 libraries" "$prefix"
