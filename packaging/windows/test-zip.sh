#!/usr/bin/env bash
# Checks the zip for Windows: the files it holds (one folder, nothing else), CR LF line ends in its
# text files, the manual as plain text, and weldrix.exe: a 64-bit program that imports no DLL
# beyond Windows' own (the C and C++ runtime are linked in).
#   packaging/windows/test-zip.sh weldrix-<version>-win64.zip
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
zip="$1"
[ -f "$zip" ] || { echo "no zip: $zip" >&2; exit 1; }
top="$(basename "$zip" .zip)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok    $what"; else echo "FAIL  $what" >&2; failures=$((failures + 1)); fi
}

echo "Checking $zip"
expected="README.txt weldrix.exe weldrix.txt LICENSE.txt CAreadme.txt CAlicense.txt CAlicense4.txt"
listed="$(unzip -Z1 "$zip" | grep -v '/$' | sort)"
wanted="$(for f in $expected; do echo "$top/$f"; done | sort)"
check "the zip holds exactly: $expected (in $top/)" [ "$listed" = "$wanted" ]
unzip -q "$zip" -d "$work"
dir="$work/$top"

exe="$dir/weldrix.exe"
check "weldrix.exe is a 64-bit Windows program" sh -c "x86_64-w64-mingw32-objdump -f '$exe' | grep -q 'file format pei-x86-64'"
imports="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u | tr '\n' ' ')"
echo "      imports: $imports"
windows_own() {  # only DLLs every Windows has
  local dll
  for dll in $imports; do
    case "$(echo "$dll" | tr '[:upper:]' '[:lower:]')" in
      kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | advapi32.dll | ntdll.dll) ;;
      *) echo "      not a Windows DLL: $dll" >&2; return 1 ;;
    esac
  done
}
check "weldrix.exe needs no DLL beyond Windows' own" windows_own
check "weldrix.exe is stripped" sh -c "! x86_64-w64-mingw32-objdump -h '$exe' | grep -q '\.debug_'"
echo "      size: $(stat -c %s "$exe") bytes"

# Every LF is preceded by a CR (a last line without a line end is left as it is).
crlf() { [ -s "$1" ] && perl -0777 -ne 'exit(/(?<!\r)\n/ ? 1 : 0)' "$1"; }
for text in README.txt weldrix.txt LICENSE.txt CAreadme.txt CAlicense.txt CAlicense4.txt; do
  check "$text has CR LF line ends" crlf "$dir/$text"
done
check "README.txt is the Windows users' guide" cmp -s <(tr -d '\r' <"$dir/README.txt") "$root/packaging/windows/README.txt"
check "LICENSE.txt is the licence" cmp -s <(tr -d '\r' <"$dir/LICENSE.txt") "$root/LICENSE"
for note in CAreadme.txt CAlicense.txt CAlicense4.txt; do
  check "$note is the LDraw library's note" cmp -s <(tr -d '\r' <"$dir/$note") <(tr -d '\r' <"$root/tests/data/ldraw/$note")
done
check "weldrix.txt is the manual page as plain ASCII text" \
  sh -c "grep -q '^WELDRIX(1)' '$dir/weldrix.txt' && grep -q '^EXIT STATUS' '$dir/weldrix.txt' && ! LC_ALL=C grep -q '[^[:print:][:space:]]' '$dir/weldrix.txt'"

[ $failures -eq 0 ] && echo "zip check passed" || { echo "$failures zip checks failed" >&2; exit 1; }
