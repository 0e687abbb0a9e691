#!/usr/bin/env bash
# End-to-end checks of weldrix.exe under Wine, against the Linux build of the same tree: the same
# input must give the same output file byte for byte, the same exit code and the same console text
# (after CR LF -> LF, and where a path appears, after mapping the Windows form of the path to the
# Linux one). Needs the Wine environment of wine-env.sh (run.sh sets it up).
#
#   tests/windows/e2e.sh WELDRIX.EXE INTERRUPT_PROBE.EXE LINUX_WELDRIX
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
exe="$(absolute "$1")"
probe="$(absolute "$2")"
linux="$(absolute "$3")"

work="$(mktemp -d "${TMPDIR:-/tmp}/weldrix-e2e.XXXXXX")"
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"
# The work folder as Windows names it: Wine shows the Unix root as drive Z:.
work_windows="Z:$(echo "$work" | tr / '\\')"

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  echo "FAIL  $*" >&2
}

# Runs both builds with the same arguments in the current folder, standard input at its end.
# The Windows run may be given other arguments after "--" (paths in Windows form).
# Sets linux_code, windows_code and leaves linux.txt and windows.txt (CRs removed; windows.raw
# keeps them).
run_both() {
  local linux_args=() windows_args=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do linux_args+=("$1"); shift; done
  if [ $# -gt 0 ]; then shift; windows_args=("$@"); else windows_args=("${linux_args[@]}"); fi
  "$linux" "${linux_args[@]}" </dev/null >linux.txt 2>&1
  linux_code=$?
  # weldrix.exe always prints something: a run that failed with no output at all is Wine failing
  # to start the program (seen once in CI on a loaded machine), so it is tried again, twice at most.
  local tries=0
  while :; do
    timeout 60 wine "$exe" "${windows_args[@]}" </dev/null >windows.raw 2>&1
    windows_code=$?
    tries=$((tries + 1))
    { [ "$windows_code" = 0 ] || [ -s windows.raw ] || [ $tries -ge 3 ]; } && break
    echo "note: Wine gave exit code $windows_code and no output; trying again" >&2
  done
  sed 's/\r$//' windows.raw >windows.txt
}

# Compares the last run_both: exit codes, console text, and the two named output files.
same_results() {  # same_results WHAT [LINUX_OUTPUT WINDOWS_OUTPUT]
  local what=$1 ok=yes
  if [ "$linux_code" != "$windows_code" ]; then
    fail "$what: exit code $windows_code on Windows, $linux_code on Linux"
    head -5 windows.raw >&2
    return
  fi
  if ! cmp -s linux.txt windows.txt; then
    fail "$what: console text differs"
    diff linux.txt windows.txt | head -10 >&2
    ok=no
  fi
  if [ $# -ge 3 ]; then
    if [ ! -f "$2" ] || [ ! -f "$3" ]; then
      fail "$what: output missing"
      ok=no
    elif ! cmp -s "$2" "$3"; then
      fail "$what: output files differ"
      ok=no
    fi
  fi
  [ $ok = yes ] && pass
}

# Every line of the raw Windows console text ends in CR LF.
crlf_only() { ! grep -q $'[^\r]$\|^$' windows.raw && [ -s windows.raw ]; }

no_temporary_files() { [ -z "$(find "$1" -maxdepth 1 -name '.weldrix-*' | head -n 1)" ]; }

# --- Every bundled file (parts, subparts, primitives), without and with -s, byte for byte ----------
cp -r "$root/tests/data/ldraw" lib
mkdir -p out/linux out/windows
parts=0
for part in $(cd lib && find . -name '*.dat' | sort); do
  part="lib/${part#./}"
  flat="$(echo "${part#lib/}" | tr / -)"
  for mode in plain snap; do
    options=()
    [ $mode = snap ] && options=(-s -l lib)
    linux_out="out/linux/$mode-$flat"
    windows_out="out/windows/$mode-$flat"
    run_both "${options[@]}" "$part" "$linux_out" -- "${options[@]}" "$part" "$windows_out"
    # The console names the output file; the two runs name different ones.
    sed -i "s|out/windows/|out/linux/|" windows.txt
    same_results "$part ($mode)" "$linux_out" "$windows_out"
    parts=$((parts + 1))
  done
done
echo "bundled files: $parts runs compared"

# --- The console of a usage error: CR LF line ends, the same text -------------------------------
run_both dropped.dat
same_results "usage error (a file dropped on the program)"
if crlf_only; then pass; else fail "usage error: a console line does not end in CR LF"; fi

# --- Unicode and spaces in every name, on both sides ------------------------------------------------
uni="dé jà 漢字 😀"
mkdir -p "$uni/p"
cp lib/parts/3001.dat "$uni/pärt ж.dat"
cp lib/p/stud.dat "$uni/p/stüd ü.dat"
printf '1 16 0 0 0 1 0 0 0 1 0 0 0 1 stüd ü.dat\n2 24 0.003 0 0 1 1 1\n' >"$uni/ünï.dat"
printf '2 24 0 0 0 1 1 1\n' >"$uni/p/stud.dat"
run_both -s -l lib "$uni/pärt ж.dat" "$uni/linux ø.dat" -- -s -l lib "$uni/pärt ж.dat" "$uni/windows ø.dat"
sed -i "s|$uni/windows ø.dat|$uni/linux ø.dat|" windows.txt
same_results "Unicode names with -s" "$uni/linux ø.dat" "$uni/windows ø.dat"
run_both -s "$uni/ünï.dat" "$uni/linux 2.dat" -- -s "$uni/ünï.dat" "$uni/windows 2.dat"
sed -i "s|$uni/windows 2.dat|$uni/linux 2.dat|" windows.txt
same_results "Unicode subfile name" "$uni/linux 2.dat" "$uni/windows 2.dat"
grep -q "^Reading input file $uni/ünï.dat$" windows.txt && pass || fail "Unicode name not printed as UTF-8"

# --- Drive letters: absolute Z:\ paths on Windows, the same files by Unix paths on Linux -----------
# The console texts are compared with "\" as "/" and Z:/tmp/... as /tmp/...
for mode in plain snap; do
  options=() windows_options=()
  [ $mode = snap ] && options=(-s -l "$work/lib") && windows_options=(-s -l "$work_windows\\lib")
  run_both "${options[@]}" "$work/lib/parts/3001.dat" "$work/out/linux/z-$mode.dat" -- \
    "${windows_options[@]}" "$work_windows\\lib\\parts\\3001.dat" "$work_windows\\out\\windows\\z-$mode.dat"
  sed -i 's|\\|/|g' linux.txt windows.txt
  sed -i "s|Z:$work|$work|g; s|out/windows/|out/linux/|" windows.txt
  same_results "drive letter paths ($mode)" "out/linux/z-$mode.dat" "out/windows/z-$mode.dat"
done
# "Z:name": the current folder of drive Z:, here the work folder.
cp lib/parts/3001.dat drive.dat
run_both drive.dat out/linux/drive.dat -- Z:drive.dat Z:out\\windows\\drive.dat
sed -i 's|Z:drive.dat|drive.dat|; s|Z:out\\windows\\drive.dat|out/linux/drive.dat|' windows.txt
same_results "drive-relative names" out/linux/drive.dat out/windows/drive.dat

# --- Cycles through differently spelled names, and device names as subfiles ------------------------
mkdir -p cycle
printf '1 16 0 0 0 1 0 0 0 1 0 0 0 1 B.DAT\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 MAIN.dat\n2 24 0.001 0 0 1 1 1\n' >cycle/main.dat
printf '2 24 0 0 0 1 1 1\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 .\\C.dat\n' >cycle/b.dat
printf '1 16 0 0 0 1 0 0 0 1 0 0 0 1 b.dat\n' >cycle/c.dat
run_both -s cycle/main.dat cycle/linux.dat -- -s cycle/main.dat cycle/windows.dat
sed -i 's|cycle/windows.dat|cycle/linux.dat|' windows.txt
same_results "cycles by any spelling" cycle/linux.dat cycle/windows.dat
# Reserved device names: a missing file on Linux; on Windows passed over without being opened
# (reading the console would wait for the user).
printf '1 16 0 0 0 1 0 0 0 1 0 0 0 1 con.dat\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 NUL\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 aux.dat\n1 16 0 0 0 1 0 0 0 1 0 0 0 1 com1.dat\n2 24 0 0 0 1 1 1\n' >devices.dat
run_both -s devices.dat out/linux/devices.dat -- -s devices.dat out/windows/devices.dat
sed -i 's|out/windows/|out/linux/|' windows.txt
same_results "device names as subfiles" out/linux/devices.dat out/windows/devices.dat

# Names no Windows file can have (a Latin-1 byte, forbidden characters), and names of devices and of
# the system's own namespaces: missing files, as on Linux, never a failure that ends the run.
long_name="$(printf 'x%.0s' $(seq 300)).dat"
for name in 'a:b.dat' 'a*b.dat' 'a?b.dat' 'a<b>.dat' 'a|b.dat' 'a"b.dat' 'x.dat.' 'x.dat ' '\\?\C:\nope.dat' \
  '\\.\pipe\nope' '\\.\CON' 'CONIN$' 'COM1' 'LPT1.dat' $'\xdc.dat' "$long_name" 'C:' 'C:\' '\\' '\\?\' ':' '.' '..' 'p\'; do
  printf '1 16 0 0 0 1 0 0 0 1 0 0 0 1 %s\n' "$name"
done >odd-names.dat
printf '2 24 0.001 0 0 1 1 1\n' >>odd-names.dat
run_both -s odd-names.dat out/linux/odd-names.dat -- -s odd-names.dat out/windows/odd-names.dat
sed -i 's|out/windows/|out/linux/|' windows.txt
same_results "odd names as subfiles" out/linux/odd-names.dat out/windows/odd-names.dat

# --- Change reports (-r) in their three forms: the same bytes -------------------------------------
cp -r "$root/examples" examples
for form in txt json html; do
  mkdir -p "report-linux-$form" "report-windows-$form"
  (cd "report-linux-$form" && "$linux" --no-wait -s -l ../examples/ldraw -r "report.$form" ../examples/demo.dat out.dat \
    </dev/null >/dev/null 2>&1)
  (cd "report-windows-$form" && timeout 60 wine "$exe" --no-wait -s -l ../examples/ldraw -r "report.$form" \
    ../examples/demo.dat out.dat </dev/null >/dev/null 2>&1)
  if [ -s "report-linux-$form/report.$form" ] && cmp -s "report-linux-$form/report.$form" "report-windows-$form/report.$form" &&
    cmp -s "report-linux-$form/out.dat" "report-windows-$form/out.dat"; then
    pass
  else
    fail "change report ($form) differs"
  fi
done

# --- Outputs that are refused or fail --------------------------------------------------------------
printf '2 24 0 0 0 1 1 1\n' >small.dat
run_both small.dat missing/out.dat
same_results "output in a missing folder"
run_both missing.dat out.dat
same_results "missing input"
# A read-only output (read-only under Wine means no write bit) is refused on Windows, as opening it
# for writing would be, even for root, who on Linux may replace it.
printf 'old\n' >locked.dat
chmod 444 locked.dat
timeout 60 wine "$exe" small.dat locked.dat </dev/null >windows.raw 2>&1
code=$?
if [ $code = 2 ] && grep -q $'^locked.dat Can\'t create\r$' windows.raw && [ "$(cat locked.dat)" = old ] &&
  no_temporary_files .; then pass; else fail "read-only output: exit $code, $(cat locked.dat)"; fi
# A write that fails half-way (the file size limit) keeps the old output and leaves no temporary file.
head -c 300000 /dev/urandom | od -An -tu2 -w12 | awk '{print "2 24", $1, $2, $3, $4, $5, $6}' >big.dat
printf 'old\n' >kept.dat
(trap '' XFSZ && ulimit -f 100 && timeout 60 wine "$exe" big.dat kept.dat </dev/null >windows.raw 2>&1)
code=$?
if [ $code = 2 ] && grep -q $'^kept.dat Can\'t create\r$' windows.raw && [ "$(cat kept.dat)" = old ] &&
  no_temporary_files .; then pass; else fail "failed write: exit $code, $(head -c 20 kept.dat)"; fi
# The NUL device takes the output like /dev/null on Linux.
timeout 60 wine "$exe" small.dat NUL </dev/null >windows.raw 2>&1
code=$?
if [ $code = 0 ] && no_temporary_files .; then pass; else fail "NUL as output: exit $code"; fi

# --- Batch runs: a folder in, a folder out ---------------------------------------------------------
# Into a missing folder two levels deep, named with "\" on Windows; then in place, with -s, where
# every output waits for the end of the run. Output trees and console text must match.
cp -r lib batch-linux
cp -r lib batch-windows
# The time taken differs.
without_time() { sed -i '/^Elapsed time: /d' linux.txt windows.txt; }
run_both --no-wait -s -l lib lib/parts new-linux/deep -- --no-wait -s -l lib lib/parts 'new-windows\deep'
sed -i 's|new-windows\\deep|new-linux/deep|' windows.txt
without_time
same_results "batch into a new nested folder"
if diff -r new-linux/deep new-windows/deep >/dev/null; then pass; else fail "batch: output trees differ"; fi
run_both --no-wait -s -l batch-linux batch-linux/parts batch-linux/parts -- --no-wait -s -l batch-windows batch-windows/parts 'batch-windows\parts'
sed -i 's|batch-windows|batch-linux|g' windows.txt
without_time
same_results "batch in place with -s"
if diff -r batch-linux batch-windows >/dev/null; then pass; else fail "batch in place: trees differ"; fi

# --- Ctrl-C: the run stops, the output stays as it was, no temporary file is left -----------------
awk 'BEGIN { srand(1); for (i = 0; i < 400000; i++) { printf "4 16"; for (k = 0; k < 12; k++) printf " %.3f", rand() * 200; printf "\r\n" } }' >huge.dat
interrupt_at() {  # interrupt_at PHRASE COMMAND...: SIGINT once the console shows PHRASE
  local phrase=$1
  shift
  printf 'old\n' >kept.dat
  rm -f console.txt
  "$@" huge.dat kept.dat </dev/null >console.txt 2>&1 &
  local pid=$!
  for _ in $(seq 3000); do grep -q "$phrase" console.txt 2>/dev/null && break; sleep 0.01; done
  kill -INT $pid
  wait $pid
}
interrupt_at "Unifying" "$linux"
linux_code=$?
cp console.txt linux.txt
interrupt_at "Unifying" timeout 60 wine "$exe"
windows_code=$?
sed 's/\r$//' console.txt >windows.txt
same_results "Ctrl-C while unifying"
if [ "$(cat kept.dat)" = old ] && no_temporary_files .; then pass; else fail "Ctrl-C while unifying: output or temporary file"; fi
# While writing: stopped before the rename (130, the old output) or just after it (0, the new one);
# never a temporary file left, never a damaged output.
interrupt_at "Writing" timeout 60 wine "$exe"
code=$?
if { [ $code = 130 ] && [ "$(cat kept.dat)" = old ]; } || { [ $code = 0 ] && [ "$(wc -l <kept.dat)" = 400000 ]; }; then
  pass
else
  fail "Ctrl-C while writing: exit $code, $(head -c 20 kept.dat)"
fi
no_temporary_files . && pass || fail "Ctrl-C while writing: a temporary file is left"

# --- Ctrl-C reaches the handler given to on_interrupt ----------------------------------------------
timeout 60 wine "$probe" </dev/null >probe.txt 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q ready probe.txt 2>/dev/null && break; sleep 0.1; done
kill -INT $pid 2>/dev/null
wait $pid
code=$?
if [ $code = 0 ] && grep -q $'^interrupted 2\r$' probe.txt; then pass; else fail "interrupt: exit $code, $(cat probe.txt)"; fi

echo "end-to-end: $passed passed, $failed failed"
[ $failed -eq 0 ]
