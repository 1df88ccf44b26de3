#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the installed tree: the program, which
# answers --version and --help without a display, its desktop entry, icons and AppStream
# metadata, each checked by its validator where the validator is installed.
set -euo pipefail
build=${1:?usage: install_check.sh BUILD_DIR}
id=org.quorvane.Quorvane
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "FAIL: $*"; exit 1; }
[ -x "$prefix/bin/quorvane" ] || fail "no bin/quorvane"
desktop="$prefix/share/applications/$id.desktop"
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
[ -f "$desktop" ] || fail "no desktop entry"
[ -f "$metainfo" ] || fail "no AppStream metadata"
for size in 16 22 24 32 48 64 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  [ -f "$icon" ] || fail "no ${size}x${size} icon"
  # A PNG of that size: the width and height stand in its header.
  read -r w h < <(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4, $7*256+$8}')
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "${size}x${size} icon is ${w}x${h}"
done
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry names another icon"
grep -q "<id>$id</id>" "$metainfo" || fail "the metadata names another id"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
else
  echo "SKIP desktop-file-validate: not installed"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$metainfo" >/dev/null || fail "appstreamcli validate"
else
  echo "SKIP appstreamcli: not installed"
fi
version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/quorvane" --version)
[ "$version" = "Quorvane 1.0.0.0" ] || fail "--version printed '$version'"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/quorvane" --help |
  grep -q -- "--version" || fail "--help"
for page in quorvane quorvane-cli; do
  [ -f "$prefix/share/man/man1/$page.1.gz" ] || fail "no manual page for $page"
  zcat "$prefix/share/man/man1/$page.1.gz" | grep -q '^\.TH ' || fail "$page.1.gz is no manual page"
done
[ -f "$prefix/share/doc/quorvane/copyright" ] || fail "no copyright file"
[ -f "$prefix/share/doc/quorvane/changelog.gz" ] || fail "no changelog"
# The Debian package, through Debian's own checker: no error and no warning.
if command -v lintian >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
  packages=$(mktemp -d)
  trap 'rm -rf "$prefix" "$packages"' EXIT
  (cd "$build" && cpack -G DEB -B "$packages" >/dev/null) || fail "cpack -G DEB"
  report=$(lintian --fail-on error,warning "$packages"/quorvane_*.deb) ||
    fail "lintian: $report"
else
  echo "SKIP lintian: not installed"
fi
echo "installed tree checked"
