# Helpers for building libraries from Debian's source packages (cmake/win32_libraries.sh,
# cmake/web_libraries.sh): sourced, not run.

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# Source lines for Debian's archive: deb822 files get deb-src beside deb, one-line lists a
# deb-src twin of each deb line. WHO names the caller in what it prints.
enable_source_lines() {  # WHO
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/ &&
    return 0
  echo "$1: enabling Debian's source package lines"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && $sudo sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
  done
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $sudo tee -a /etc/apt/sources.list >/dev/null
  fi
  $sudo apt-get update -qq
}

# The source version apt-get would fetch, e.g. libsoxr_0.1.3-4.
source_version() {
  apt-get source --print-uris -qq "$1" | grep -oE "${1}_[^ ']+\.dsc" | head -n 1 | sed 's/\.dsc$//; s/%2b/+/g'
}

# Configures, builds and installs one library with CMake, as a Release build with Ninja; the
# logs are shown only when a step fails. LAUNCHER runs cmake's configure step ("" or emcmake).
build_library() {  # WHO LAUNCHER NAME SOURCE_DIR OPTIONS...
  local who=$1 launcher=$2 name=$3 source=$4
  shift 4
  echo "$who: building $name"
  $launcher cmake -S "$source" -B "build-$name" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Release "$@" \
    >"$name-configure.log" 2>&1 || { tail -n 40 "$name-configure.log"; exit 1; }
  cmake --build "build-$name" -j2 >"$name-build.log" 2>&1 || { tail -n 40 "$name-build.log"; exit 1; }
  cmake --install "build-$name" >/dev/null
}

# Unpacks NAME's source package in the current folder: the version the package lines pick, or,
# when a mirror no longer holds that one (a security update's sources gone), the next version
# they list that it still holds.
fetch_source() {  # WHO NAME
  local who=$1 name=$2 version
  apt-get source -qq "$name" >/dev/null 2>&1 && return 0
  for version in $(apt-cache showsrc "$name" | sed -n 's/^Version: //p' | sort -urV); do
    rm -rf "$name"[-_]*
    if apt-get source -qq "$name=$version" >/dev/null 2>&1; then
      echo "$who: $name $version (the newer sources are not to be had)"
      return 0
    fi
  done
  echo "$who: apt-get source $name failed" >&2
  apt-get source "$name" >&2
  exit 1
}

# Makes a work folder (the current folder from then on, removed at exit) with the source
# packages unpacked in it, unless PREFIX holds them already, built by SCRIPT as it stands: then
# the caller ends here. Sets fetched_versions (e.g. "libsoxr_0.1.3-4 flac_1.4.2+ds-2") and
# stamp, which the caller writes to PREFIX/versions once the libraries are installed.
fetch_sources() {  # WHO PREFIX SCRIPT PACKAGE...
  local who=$1 prefix=$2 script=$3 package version
  shift 3
  fetched_versions=""
  for package in "$@"; do
    version=$(source_version "$package")
    [ -n "$version" ] ||
      { echo "$who: Debian's source package $package is not to be had" >&2; exit 1; }
    fetched_versions+="${fetched_versions:+ }$version"
  done
  # Any change of the script (its options) builds them anew.
  stamp="$fetched_versions $(sha1sum <"$script" | cut -c1-12)"
  if [ -f "$prefix/versions" ] && [ "$(cat "$prefix/versions")" = "$stamp" ]; then
    echo "$who: $prefix holds $fetched_versions"
    exit 0
  fi
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cd "$work"
  echo "$who: fetching $fetched_versions"
  for package in "$@"; do
    fetch_source "$who" "$package"
  done
  rm -rf "$prefix"
}

# libsoxr and libFLAC as both library sets have them, through the caller's configure_and_install
# NAME SOURCE_DIR OPTIONS...: libsoxr without tests, examples, OpenMP or the libsamplerate
# bindings; libFLAC alone: no Ogg, no C++ library, no programs, no stack protector (mingw would
# need libssp beside the program).
build_soxr_and_flac() {
  configure_and_install libsoxr "$(ls -d libsoxr-*/ | head -n 1)" \
    -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DWITH_OPENMP=OFF -DWITH_LSR_BINDINGS=OFF
  configure_and_install flac "$(ls -d flac-*/ | head -n 1)" \
    -DWITH_OGG=OFF -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
    -DBUILD_TESTING=OFF -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_STACK_PROTECTOR=OFF \
    -DWITH_FORTIFY_SOURCE=OFF
}

# Marks PREFIX as holding what fetch_sources fetched, built as the script stands.
finish_prefix() {  # WHO PREFIX
  rm -rf "$2/doc" "$2/share"
  echo "$stamp" >"$2/versions"
  echo "$1: $fetched_versions in $2"
}
