#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need. Safe to run again:
# it only calls apt-get when something is missing.
#
#   bash setup.sh          the native build (GCC, GoogleTest, Google Benchmark, CLI11, zlib, SDL2,
#                          libsoxr, libFLAC, nlohmann/json)
#   bash setup.sh win32    also the i686 Windows cross build and Wine to run it (with a virtual
#                          X display and a Japanese font for the configuration page), and
#                          libsoxr, SDL2 and libFLAC built for it from Debian's source packages (once
#                          per machine: cmake/win32_libraries.sh)
#   bash setup.sh fuzz     also clang and its libFuzzer and sanitizer runtimes for the fuzz targets
#   bash setup.sh web      also emscripten, Chromium and the Python WebSocket client that drives
#                          it in the page's tests, and zlib, libsoxr and libFLAC built for
#                          WebAssembly from Debian's source packages (once per machine:
#                          cmake/web_libraries.sh)
set -euo pipefail

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

packages=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
          zlib1g-dev libsdl2-dev libsoxr-dev libflac-dev nlohmann-json3-dev python3)
case "${1:-}" in
  "") ;;
  win32)
    packages+=(g++-mingw-w64-i686 wine wine32:i386 xvfb xauth fonts-ipafont-gothic googletest
               libz-mingw-w64-dev dpkg-dev)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $sudo dpkg --add-architecture i386
    fi
    ;;
  fuzz)
    packages+=(clang libclang-rt-dev)
    ;;
  web)
    packages+=(emscripten chromium python3-websocket dpkg-dev)
    ;;
  *)
    echo "setup: unknown set '$1' (known: win32, fuzz, web)" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if [ "${1:-}" = win32 ]; then
  bash "$(dirname "$0")/cmake/win32_libraries.sh"
fi
if [ "${1:-}" = web ]; then
  bash "$(dirname "$0")/cmake/web_libraries.sh"
fi
