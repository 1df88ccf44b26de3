#!/usr/bin/env bash
# The Windows program, built here: installs what is missing, builds (or reuses) a static Qt
# for Windows from Debian's qtbase source, cross-builds Quorvane.exe and quorvane-cli.exe with
# MinGW-w64 into build-windows/, runs every test under Wine (offscreen), and packages a zip and
# an NSIS installer there. Extra arguments go to ctest (for example -R cli).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-windows"
"$root/scripts/ensure-deps.sh" mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
  wine64 nsis xvfb xauth xdotool dpkg-dev p7zip-full
start=$(date +%s)
qt=$("$root/scripts/windows-qt.sh")
echo "Qt for Windows: $qt ($(( $(date +%s) - start )) s)"

# Wine: a prefix of our own, its first start done once, 1252 as the code page (an English
# locale), no dialog asking for Mono or Gecko.
export WINEPREFIX="${WINEPREFIX:-$root/build-windows/wine}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=en_US.UTF-8 LC_ALL=
wine=/usr/lib/wine/wine64
# A prefix counts as made once its folders are all there; a half-made one is made again.
# Its font folder gets Wine's own fonts (Tahoma among them), as Windows has its own there.
prefixReady() {
  [ -f "$WINEPREFIX/.quorvane-ready" ] && [ -d "$WINEPREFIX/drive_c/windows/system32" ] &&
    ls -d "$WINEPREFIX"/drive_c/users/*/Temp >/dev/null 2>&1
}
for attempt in 1 2 3; do
  prefixReady && break
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot --init </dev/null >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
  if [ -d "$WINEPREFIX/drive_c/windows/system32" ] &&
     ls -d "$WINEPREFIX"/drive_c/users/*/Temp >/dev/null 2>&1; then
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    touch "$WINEPREFIX/.quorvane-ready"
  fi
done
prefixReady || { echo "windows.sh: the Wine prefix could not be made" >&2; exit 1; }

start=$(date +%s)
(cd "$root" && QUORVANE_WINDOWS_QT="$qt" QUORVANE_WINE="$wine" cmake --preset windows >/dev/null)
cmake --build "$build" -j2
echo "Windows programs built in $(( $(date +%s) - start )) s"

# One wine server for the whole run, and Wine's services started here with no pipe of
# CTest's: services started by a test would keep its output pipe open after it ends.
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -p || true
"$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k || true' EXIT
start=$(date +%s)
# One at a time: Wine programs started together now and then wait on each other for good.
(cd "$build" && ctest --output-on-failure -j1 "$@")
echo "Tests under Wine: $(( $(date +%s) - start )) s"

# The Windows command line writes what the Linux one writes (built by ./test, when there).
if [ -x "$root/build/quorvane-cli" ]; then
  WINE="$wine" "$root/tests/windows_cli_check.sh" "$root/build/quorvane-cli" "$build/quorvane-cli.exe"
else
  echo "windows cli check skipped: no build/quorvane-cli to compare with (run ./test first)"
fi

# The program itself on a virtual display, with Windows' own platform plugin: its launcher
# window must appear. Wine's services are started anew there, with the display.
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w 2>/dev/null || true
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  # --version and --help print to a pipe, with a display there too: no message box waits.
  for program in "$1" "$2"; do
    version=$(timeout 120 "$0" "$program" --version </dev/null 2>/dev/null | tr -d "\r")
    case "$version" in
      "Quorvane 1.0.0.0"|"quorvane-cli 1.0.0.0") ;;
      *) echo "$program --version printed \"$version\"" >&2; exit 1 ;;
    esac
    timeout 120 "$0" "$program" --help </dev/null 2>/dev/null | grep -q -- "--version" ||
      { echo "$program --help printed no help" >&2; exit 1; }
  done
  echo "Quorvane.exe and quorvane-cli.exe under Wine print --version and --help to a pipe"
  # Labels, check boxes, memos and lists fit the fonts that the windows platform plugin gives them.
  if ! result=$(timeout 300 "$0" "$3" -platform windows textFitsTheFontInUse 2>&1 </dev/null); then
    echo "$result" >&2
    exit 1
  fi
  echo "With the windows platform plugin, labels, check boxes, memos and lists fit their fonts"
  "$0" "$1" >/dev/null 2>&1 &
  for second in $(seq 90); do
    if xdotool search --name "^Quorvane\$" >/dev/null 2>&1; then
      echo "Quorvane.exe under Wine shows its launcher after ${second} s"
      kill $! 2>/dev/null
      exit 0
    fi
    sleep 1
  done
  echo "Quorvane.exe under Wine shows no launcher" >&2
  exit 1' "$wine" "$build/Quorvane.exe" "$build/quorvane-cli.exe" "$build/tests/tst_launcher.exe"

(cd "$build" && cpack -G ZIP >/dev/null && cpack -G NSIS >/dev/null)
"$root/tests/windows_package_check.sh" "$build"
ls -l "$build"/quorvane-*-win64.zip "$build"/quorvane-*-win64.exe
