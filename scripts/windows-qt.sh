#!/usr/bin/env bash
# Builds a static Qt for 64-bit Windows from Debian's own qtbase source with MinGW-w64, once,
# into a cache keyed by everything that shapes it; prints the cached Qt's prefix.
# Environment: QUORVANE_CACHE (default /var/cache/quorvane), JOBS (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${QUORVANE_CACHE:-/var/cache/quorvane}
jobs=${JOBS:-2}
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

features=(sql network opengl opengl_dynamic dbus printsupport concurrent xml vulkan icu zstd
          tabletevent system_zlib system_png system_jpeg system_pcre2 system_harfbuzz
          system_freetype system_doubleconversion)
flags=(-DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF
       -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF -DQT_HOST_PATH=/usr
       -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DINPUT_opengl=no)
for f in "${features[@]}"; do flags+=("-DFEATURE_$f=OFF"); done

# Qt's qt.toolchain.cmake records the toolchain file's path, so it lives at a fixed place.
"${sudo_cmd[@]}" mkdir -p "$cache"
toolchain="$cache/mingw-w64.cmake"
cmp -s "$root/cmake/mingw-w64.cmake" "$toolchain" 2>/dev/null ||
  "${sudo_cmd[@]}" cp "$root/cmake/mingw-w64.cmake" "$toolchain"

version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || apt-cache policy qt6-base-dev | awk '/Candidate/ {print $2}')
compiler=$(x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null || x86_64-w64-mingw32-g++-posix -dumpversion)
key=$( { echo "$version"; echo "$compiler"; printf '%s\n' "${flags[@]}"; cat "$toolchain"; } | sha256sum | cut -c1-16)
prefix="$cache/qt6-mingw-$key"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-qt.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The source package: a deb-src entry for the suites the machine already installs from.
if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
  suites=$(grep -h '^Suites:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1 | cut -d: -f2 | xargs || true)
  [ -n "$suites" ] || suites="$(. /etc/os-release && echo "$VERSION_CODENAME")"
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' "$suites" |
    "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/quorvane-src.sources >/dev/null
  "${sudo_cmd[@]}" apt-get update -q >&2
fi
(cd "$work" && apt-get source -q --download-only "qt6-base=${version}" >&2 || apt-get source -q --download-only qt6-base >&2)
(cd "$work" && dpkg-source -x ./qt6-base_*.dsc src >&2)
start=$(date +%s)
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_INSTALL_PREFIX="$prefix" "${flags[@]}" >&2
nice cmake --build "$work/build" -j"$jobs" >&2
"${sudo_cmd[@]}" rm -rf "$prefix"
"${sudo_cmd[@]}" cmake --install "$work/build" >&2
"${sudo_cmd[@]}" touch "$prefix/.complete"
echo "Qt for Windows built in $(( $(date +%s) - start )) s" >&2
echo "$prefix"
