#!/bin/sh
# Installs the Debian packages of the given jobs (tools/debian-packages.txt) that are missing:
# with apt-get as root, or through sudo where sudo works without asking for a password. Where it
# can do neither it names the one command to run and fails, so that `make test` stops before a
# build that cannot work rather than skipping tests.
#
#     tools/install-packages.sh [--print] [--no-install-recommends] JOB...
#
# --print prints the apt-get command for every package of the jobs, installed or not, and ends.
# On a system without dpkg and apt-get nothing is installed: the build names what it misses.
set -eu
list=$(cd "$(dirname "$0")" && pwd)/debian-packages.txt

print=no
options=
while [ $# -gt 0 ]; do
    case $1 in
        --print) print=yes ;;
        --no-install-recommends) options=" --no-install-recommends" ;;
        -*) echo "$0: unknown option $1" >&2; exit 64 ;;
        *) break ;;
    esac
    shift
done
[ $# -gt 0 ] || { echo "usage: $0 [--print] [--no-install-recommends] JOB..." >&2; exit 64; }

packages=
for job in "$@"; do
    found=$(awk -v job="$job" '!/^#/ { for (i = 2; i <= NF; i++) if ($i == job) print $1 }' "$list")
    [ -n "$found" ] || { echo "$0: no job \"$job\" in $list" >&2; exit 64; }
    for package in $found; do
        case " $packages " in *" $package "*) ;; *) packages="$packages $package" ;; esac
    done
done

if [ $print = yes ]; then
    echo "apt-get install$options$packages"
    exit 0
fi
command -v dpkg-query > /dev/null 2>&1 && command -v apt-get > /dev/null 2>&1 || exit 0

missing=
for package in $packages; do
    # A package whose line names a command that is already on the PATH is not needed.
    command=$(awk -v package="$package" '$1 == package { for (i = 2; i <= NF; i++) if ($i ~ /^command:/) print substr($i, 9) }' "$list")
    if [ -n "$command" ] && command -v "$command" > /dev/null 2>&1; then continue; fi
    dpkg-query -W -f '${Status}\n' "$package" 2> /dev/null | grep -q ' installed$' || missing="$missing $package"
done
[ -n "$missing" ] || exit 0

install="apt-get install -y -q$options$missing"
if [ "$(id -u)" -eq 0 ]; then
    sudo=
elif command -v sudo > /dev/null 2>&1 && sudo -n true 2> /dev/null; then
    sudo=sudo
else
    if command -v sudo > /dev/null 2>&1; then command="sudo $install"; else command="su -c '$install'"; fi
    echo "Missing Debian packages:$missing" >&2
    echo "Install them with this command (it asks for a password), then run this again:" >&2
    echo "    $command" >&2
    exit 1
fi
echo "Installing the missing Debian packages:$missing"
$sudo apt-get update -q
# shellcheck disable=SC2086  # the package names are words of their own
$sudo env DEBIAN_FRONTEND=noninteractive $install
