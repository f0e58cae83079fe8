#!/usr/bin/env bash
# End-to-end import benchmark: generates a realistic combined log (1,000,000 lines by
# default, about 200 MB, in a temporary folder), imports it into a fresh database with
# `weavil import` (parse, sessions, classification, every row stored), and on the same
# file times GoAccess and Webalizer when they are installed. Prints lines per second,
# the ratios, and peak memory.
#
#   bench/import/run.sh [LINES] [SEED]
#   BUILD_DIR=build-foo bench/import/run.sh      # another build folder (default: build)
#   KEEP=1 bench/import/run.sh                    # keep the temporary folder
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
lines=${1:-1000000}
seed=${2:-1}
build=${BUILD_DIR:-build}
weavil=$root/$build/bin/weavil

if [[ ! -x $weavil ]]; then
  echo "Building weavil in $build"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target weavil -j "$(nproc)"
fi
if [[ ! -x /usr/bin/time ]]; then
  echo "/usr/bin/time is needed (Debian package time)" >&2
  exit 1
fi

calc() { awk "BEGIN { print $1 }"; }

work=$(mktemp -d /tmp/weavil-bench-XXXXXX)
if [[ -z ${KEEP:-} ]]; then trap 'rm -rf "$work"' EXIT; else echo "Keeping $work"; fi
log=$work/access.log

echo "Generating $lines lines (seed $seed)"
bench/import/generate_log "$log" "$lines" "$seed"
bytes=$(stat -c %s "$log")
printf 'Log: %s lines, %.1f MB\n' "$lines" "$(calc "$bytes / 1048576")"
# Read it once so every program starts with the file in the page cache.
cat "$log" >/dev/null

# Runs a command under /usr/bin/time; sets seconds and peak_kb.
measure() {
  local report=$work/time.txt
  /usr/bin/time -v -o "$report" "$@" >"$work/out.txt" 2>"$work/err.txt" || {
    echo "  failed: $*" >&2
    tail -5 "$work/err.txt" >&2
    return 1
  }
  local wall
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$report")
  seconds=$(echo "$wall" | awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')
  peak_kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$report")
  user=$(sed -n 's/.*User time (seconds): //p' "$report")
  sys=$(sed -n 's/.*System time (seconds): //p' "$report")
}

rate() { calc "$lines / $1"; }

# Weavil: fresh settings (DefaultHost of the generated site) and a fresh database.
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
"$weavil" settings DefaultHost www.example.com >/dev/null
cd "$work"  # the trace file lands here
measure "$weavil" --db "$work/log.db" import "$log"
cd "$root"
weavil_seconds=$seconds
weavil_rate=$(rate "$seconds")
printf '\nweavil import    %7.2f s  %9.0f lines/s  peak %4d MB  (cpu %s user + %s sys)\n' \
  "$seconds" "$weavil_rate" $((peak_kb / 1024)) "$user" "$sys"
echo "  $(cat "$work/out.txt")"
echo "  target: >= 400000 lines/s, peak < 250 MB"

if command -v goaccess >/dev/null; then
  if measure goaccess "$log" --log-format=COMBINED -o "$work/goaccess.json"; then
    printf 'goaccess         %7.2f s  %9.0f lines/s  peak %4d MB  (weavil is %.2fx its speed)\n' \
      "$seconds" "$(rate "$seconds")" $((peak_kb / 1024)) "$(calc "$seconds / $weavil_seconds")"
  fi
else
  echo "goaccess         not installed"
fi

if command -v webalizer >/dev/null; then
  mkdir -p "$work/webalizer"
  if measure webalizer -Q -p -N 0 -F clf -o "$work/webalizer" "$log"; then
    printf 'webalizer        %7.2f s  %9.0f lines/s  peak %4d MB  (weavil is %.2fx its speed)\n' \
      "$seconds" "$(rate "$seconds")" $((peak_kb / 1024)) "$(calc "$seconds / $weavil_seconds")"
  fi
else
  echo "webalizer        not installed"
fi
