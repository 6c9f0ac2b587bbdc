#!/usr/bin/env bash
# Builds the libraries the web build needs (zlib for VGZ files, libsoxr for chips mode's rate
# conversion, libFLAC for "Save as FLAC") as WebAssembly static libraries with Debian's
# emscripten, from Debian's own source packages, into a prefix that the web preset searches.
#
#   bash cmake/web_libraries.sh        (setup.sh web calls it)
#
# The prefix is $VORLA_WEB_PREFIX, default ~/.cache/vorla-web (cmake/web.cmake uses the same).
# It is built once per machine: a prefix that already holds these source versions, built by
# this script as it stands, is left as it is. Only the libraries are built.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=${VORLA_WEB_PREFIX:-$HOME/.cache/vorla-web}
# Debian's emscripten runs its JavaScript optimizer with the machine's node, which finds
# Debian's acorn only here.
export NODE_PATH=/usr/share/nodejs

# shellcheck source=cmake/debian_sources.sh
source "$here/debian_sources.sh"
enable_source_lines "web libraries"
fetch_sources "web libraries" "$prefix" "$here/web_libraries.sh" zlib libsoxr flac

configure_and_install() {  # NAME SOURCE_DIR OPTIONS...
  local name=$1 source=$2
  shift 2
  build_library "web libraries" emcmake "$name" "$source" -DCMAKE_C_FLAGS_RELEASE="-O2" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
}

# zlib by its own configure script (Debian's sources lack the Windows files its CMake build
# names): the static library and its two headers.
echo "web libraries: building zlib"
(cd "$(ls -d zlib-*/ | head -n 1)" && CFLAGS=-O2 emconfigure ./configure --static >../zlib.log 2>&1 &&
  emmake make -j2 libz.a >>../zlib.log 2>&1 &&
  install -D -m 644 libz.a "$prefix/lib/libz.a" &&
  install -D -m 644 -t "$prefix/include" zlib.h zconf.h) || { tail -n 40 zlib.log; exit 1; }

build_soxr_and_flac
finish_prefix "web libraries" "$prefix"
