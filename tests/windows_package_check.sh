#!/usr/bin/env bash
# Checks the Windows packages in a build folder: the zip and the NSIS installer each hold both
# programs, the programs need no DLL beside them (only Windows' own libraries), and each
# carries its manifest (aware of long paths) and its version information.
set -euo pipefail
build=$1
zip=$(ls "$build"/quorvane-*-win64.zip)
installer=$(ls "$build"/quorvane-*-win64.exe)
fail() { echo "windows package check: $*" >&2; exit 1; }
for program in Quorvane.exe quorvane-cli.exe; do
  7z l "$zip" | grep -q "bin[/\\]$program\$" || fail "$program missing from $zip"
  7z l "$installer" | grep -q "$program\$" || fail "$program missing from $installer"
  grep -q longPathAware "$build/$program" || fail "$program carries no manifest aware of long paths"
  strings -el "$build/$program" | grep -qx "$program" || fail "$program has no version information"
  # Every DLL it imports is one of the system's.
  for dll in $(x86_64-w64-mingw32-objdump -p "$build/$program" | awk '/DLL Name:/ {print tolower($3)}'); do
    case "$dll" in
      kernel32.dll|user32.dll|gdi32.dll|shell32.dll|ole32.dll|oleaut32.dll|advapi32.dll|\
      comdlg32.dll|imm32.dll|winmm.dll|ws2_32.dll|uxtheme.dll|dwmapi.dll|version.dll|\
      shlwapi.dll|netapi32.dll|userenv.dll|mpr.dll|d3d9.dll|d3d11.dll|dxgi.dll|dwrite.dll|\
      d2d1.dll|setupapi.dll|authz.dll|uuid.dll|msvcrt.dll|wtsapi32.dll|rpcrt4.dll|\
      api-ms-win-*|comctl32.dll|shcore.dll|bcrypt.dll|crypt32.dll|secur32.dll) ;;
      *) fail "$program imports $dll, which Windows does not ship" ;;
    esac
  done
done
# The licence and read-me beside the programs, the licence on the installer's page, the
# uninstall entry's icon a Windows path.
for document in LICENSE.txt README.txt; do
  7z l "$zip" | grep -q "[/\\]$document\$" || fail "$document missing from $zip"
  7z l "$installer" | grep -q "$document\$" || fail "$document missing from $installer"
done
script=$(ls "$build"/_CPack_Packages/*/NSIS/project.nsi)
grep -q 'MUI_PAGE_LICENSE ".*LICENSE.txt"' "$script" || fail "the installer shows no licence"
grep -A1 'Push "DisplayIcon"' "$script" | grep -qF 'Push "$INSTDIR\bin\Quorvane.exe"' ||
  fail "the uninstall entry's icon is no Windows path"
echo "windows package check: $(basename "$zip") and $(basename "$installer") hold both programs"
