#!/bin/sh
# Checks the Debian package of weldrix: its control data, its contents, and that the tool and the
# manual page it installs work. By default nothing is installed: the package is unpacked with
# dpkg-deb -x into a temporary folder and the tool is run from there. With --install (as root) the
# package is also installed with dpkg -i, tried, and removed again; that step is skipped where a
# weldrix package is installed already, so that one is never touched.
#
#     packaging/test-deb.sh [--install] [PACKAGE.deb]
#
# Without PACKAGE.deb it runs `make package` and takes build-package/weldrix_*.deb.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

install=no
if [ "${1:-}" = --install ]; then install=yes; shift; fi
deb=${1:-}
if [ -z "$deb" ]; then
    make -C "$root" package
    # shellcheck disable=SC2012  # the file names are ours: weldrix_<version>_<arch>.deb
    deb=$(ls -t "$root"/build-package/weldrix_*.deb | head -n 1)
fi
[ -f "$deb" ] || { echo "no package: $deb" >&2; exit 1; }
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")

work=$(mktemp -d)
installed=no
cleanup() {
    if [ "$installed" = yes ]; then dpkg -r weldrix >/dev/null || echo "could not remove weldrix" >&2; fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
pass() { echo "ok    $1"; }
fail() { echo "FAIL  $1" >&2; failures=$((failures + 1)); }
check() {  # check DESCRIPTION COMMAND...
    what=$1; shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

echo "Checking $deb"

# Control data.
field() { dpkg-deb -f "$deb" "$1"; }
check "package name is weldrix" [ "$(field Package)" = weldrix ]
check "architecture is $(dpkg --print-architecture)" [ "$(field Architecture)" = "$(dpkg --print-architecture)" ]
depends=$(field Depends)
echo "      Depends: $depends"
# Each dependency is "name" or "name (op version)"; only the C and C++ runtime may be needed, and
# this system must satisfy each of them.
deps_ok=yes
old_ifs=$IFS
IFS=,
for dep in $depends; do
    IFS=$old_ifs
    # shellcheck disable=SC2046  # split into name, operator and version on purpose
    set -- $(echo "$dep" | tr -d '()')
    name=${1:-}
    case $name in
        libc6 | libgcc-s1 | libstdc++6) ;;
        *) echo "      unexpected dependency: $dep" >&2; deps_ok=no ;;
    esac
    have=$(dpkg-query -W -f '${Version}\n' "$name" 2>/dev/null | head -n 1 || true)
    if [ -z "$have" ]; then
        echo "      not installed here: $name" >&2; deps_ok=no
    elif [ $# -ge 3 ] && ! dpkg --compare-versions "$have" "$2" "$3"; then
        echo "      $name $have does not satisfy $dep" >&2; deps_ok=no
    fi
    IFS=,
done
IFS=$old_ifs
check "depends only on the C/C++ runtime, satisfied here" [ "$deps_ok" = yes ]

# Contents.
dpkg-deb -c "$deb" | awk '{ print $NF }' > "$work/contents"
check "contains usr/bin/weldrix" grep -qx './usr/bin/weldrix' "$work/contents"
check "contains the manual page" grep -qx './usr/share/man/man1/weldrix.1' "$work/contents"
check "installs nothing outside /usr" sh -c "! grep -v '^\./usr/' '$work/contents' | grep -qvx './'"
for file in copyright CAreadme.txt CAlicense.txt CAlicense4.txt; do
    check "contains /usr/share/doc/weldrix/$file" grep -qx "./usr/share/doc/weldrix/$file" "$work/contents"
done

# The unpacked tool.
dpkg-deb -x "$deb" "$work/root"
tool=$work/root/usr/bin/weldrix
page=$work/root/usr/share/man/man1/weldrix.1
check "weldrix is executable" [ -x "$tool" ]
# The licence and, beside it, the LDraw library's notes, as they are in the tree.
doc=$work/root/usr/share/doc/weldrix
check "the copyright file is the licence (LICENSE)" cmp -s "$doc/copyright" "$root/LICENSE"
for note in CAreadme.txt CAlicense.txt CAlicense4.txt; do
    check "$note is the LDraw library's note" cmp -s "$doc/$note" "$root/tests/data/ldraw/$note"
done

# tool_runs WELDRIX LABEL: the usage error and the demo, whose cleaned part must be exactly the
# expected one.
tool_runs() {
    status=0
    "$1" < /dev/null > "$work/usage.txt" || status=$?
    check "$2: no arguments gives the usage text and exit status 1" \
        sh -c "[ $status -eq 1 ] && grep -q '^Weldrix \[options\] InFile, Outfile$' '$work/usage.txt'"
    rm -rf "$work/demo"
    status=0
    "$root/examples/demo.sh" "$1" "$work/demo" > "$work/demo.txt" 2>&1 || status=$?
    check "$2: the demo runs" [ "$status" -eq 0 ]
    check "$2: the demo's cleaned part is the expected one" \
        cmp -s "$work/demo/demo-clean.dat" "$root/examples/demo.expected.dat"
    check "$2: the demo reports the changes" grep -q \
        '^  2 lines removed, 1 quad made a triangle, ' "$work/demo.txt"
    check "$2: the demo writes the report's page" grep -q '^<!DOCTYPE html>' "$work/demo/demo-report.html"
}
tool_runs "$tool" "unpacked tool"

# The manual page: no groff warnings, and man renders its sections.
if command -v man > /dev/null && command -v groff > /dev/null; then
    check "groff reports no warnings on the manual page" \
        sh -c "[ -z \"\$(groff -man -Tutf8 -ww -z '$page' 2>&1)\" ]"
    MANWIDTH=80 man -l "$page" > "$work/man.txt" 2> "$work/man-errors.txt" || true
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'SUBFILE SEARCH' 'CONSOLE OUTPUT' 'EXIT STATUS' \
        'RUNNING UNATTENDED' 'SAFETY AND ROBUSTNESS CHOICES'; do
        check "man -l renders section $section" grep -qx "$section" "$work/man.txt"
    done
    check "man -l renders the name line" grep -q 'weldrix - weld the vertices of an LDraw part' "$work/man.txt"
    check "man -l prints no errors" [ ! -s "$work/man-errors.txt" ]
else
    fail "man and groff are needed to check the manual page (apt-get install man-db groff-base)"
fi

# Installed for real.
if [ "$install" = yes ]; then
    if [ "$(id -u)" -ne 0 ]; then
        fail "--install needs root"
    elif dpkg-query -W -f '${Status}' weldrix 2>/dev/null | grep -q ' installed$'; then
        echo "      (--install skipped: weldrix is already installed here, and is left alone)"
    else
        if dpkg -i "$deb" > "$work/dpkg.txt" 2>&1; then
            installed=yes
            pass "dpkg -i installs the package"
            check "weldrix is on the PATH at /usr/bin/weldrix" [ "$(command -v weldrix)" = /usr/bin/weldrix ]
            tool_runs /usr/bin/weldrix "installed tool"
            if [ -f /usr/share/man/man1/weldrix.1 ]; then
                check "man finds the installed page" sh -c 'MANWIDTH=80 man weldrix 2>/dev/null | grep -qx "EXIT STATUS"'
            else
                echo "      (the manual page was not installed: dpkg excludes /usr/share/man on this system)"
            fi
        else
            cat "$work/dpkg.txt" >&2
            fail "dpkg -i installs the package"
        fi
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "All package checks passed"
