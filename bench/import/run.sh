#!/usr/bin/env bash
# End-to-end import benchmark on logs of real session density: bench/repeat_log
# repeats a real log (../shared/data/hackers-access.log by default) with shifted dates
# and addresses to each size asked for (1,000,000 and 3,000,000 lines by default),
# then, for each size, imports it into a fresh database with `weavil import` (parse,
# sessions, classification, every row stored) and imports the same file a second time
# (nothing new), then a copy of it grown by a thousandth (read on from where the import
# of the copy ended, as a log that grows is imported again). Prints lines/s, peak
# memory, the database size against the log's, the second import against the first and
# the cost of the larger sizes against the first size. GoAccess and Webalizer run on
# the same files when installed (bench/import/setup installs them), and so does a
# second weavil given as BASELINE.
#
#   bench/import/run.sh [LINES...]
#   BUILD_DIR=build-foo bench/import/run.sh            # another build folder (default: build)
#   BASELINE=/path/to/weavil bench/import/run.sh        # the same runs with an older build
#   SOURCE=/path/to/access.log bench/import/run.sh      # another real log to repeat
#   REPEAT=5 bench/import/run.sh                        # each first import five times: the median counts
#   KEEP=1 bench/import/run.sh                          # keep the temporary folder
#   MONITOR=15 bench/import/run.sh                      # add an uptime monitor polling every 15 minutes
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(1000000 3000000)
build=${BUILD_DIR:-build}
repeat=${REPEAT:-1}
[[ $repeat =~ ^[1-9][0-9]*$ ]] || { echo "REPEAT must be a whole number of runs, not '$repeat'" >&2; exit 2; }
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

# Runs a command under /usr/bin/time; sets seconds, peak_kb, user and sys.
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

# weavil_run NAME BINARY LOG LINES BYTES: first and second import into a fresh database.
weavil_run() {
  local name=$1 binary=$2 log=$3 lines=$4 bytes=$5 dir=$work/$1-$4
  mkdir -p "$dir/config" "$dir/data"
  (
    export XDG_CONFIG_HOME=$dir/config XDG_DATA_HOME=$dir/data
    cd "$dir"  # the trace file lands here
    local first db_bytes run runs=() label=$name
    for ((run = 1; run <= repeat; run++)); do
      rm -f "$dir/log.db" "$dir/log.db-wal" "$dir/log.db-shm" "$dir/log.db-journal"
      measure "$binary" --db "$dir/log.db" import "$log"
      runs+=("$seconds")
      db_bytes=$(( $(stat -c %s "$dir/log.db") + $(stat -c %s "$dir/log.db-wal" 2>/dev/null || echo 0) ))
      if ((repeat > 1)); then label="$name $run/$repeat"; fi
      printf '%-16s %7.2f s  %9.0f lines/s  peak %4d MB  db %4d MB (%.2fx the log)  cpu %s user + %s sys\n' \
        "$label" "$seconds" "$(calc "$count / $seconds")" $((peak_kb / 1024)) $((db_bytes / 1048576)) \
        "$(calc "$db_bytes / $bytes")" "$user" "$sys"
    done
    echo "                 $(cat "$work/out.txt")"
    # The median stands for the first import in the ratios; the fastest run beside it.
    first=$(printf '%s\n' "${runs[@]}" | sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
    if ((repeat > 1)); then
      local fastest
      fastest=$(printf '%s\n' "${runs[@]}" | sort -g | head -n 1)
      printf '%-16s %7.2f s  %9.0f lines/s  (median of %d; fastest %.2f s, %.0f lines/s)\n' "  median" "$first" \
        "$(calc "$count / $first")" "$repeat" "$fastest" "$(calc "$count / $fastest")"
    fi
    measure "$binary" --db "$dir/log.db" import "$log"
    printf '%-16s %7.2f s  (%.2fx the first import)  peak %4d MB\n' "  again" "$seconds" \
      "$(calc "$seconds / $first")" $((peak_kb / 1024))
    # A build that reads on from where the last import ended: the same, read from the start.
    if "$binary" settings IsResumingImports 0 >/dev/null 2>&1; then
      measure "$binary" --db "$dir/log.db" import "$log"
      printf '%-16s %7.2f s  (%.2fx the first import)  peak %4d MB\n' "  again, whole" "$seconds" \
        "$(calc "$seconds / $first")" $((peak_kb / 1024))
      "$binary" settings IsResumingImports 1 >/dev/null
    fi
    # The same log grown by a thousandth: only the new lines are read (and the visits
    # still open at the old end taken back from the database).
    if [[ -s $grown ]]; then
      cp "$log" "$dir/grown.log"
      "$binary" --db "$dir/log.db" import "$dir/grown.log" >/dev/null 2>&1
      cat "$grown" >>"$dir/grown.log"
      measure "$binary" --db "$dir/log.db" import "$dir/grown.log"
      printf '%-16s %7.2f s  (%.3fx the first import)  peak %4d MB\n' "  grown $(wc -l <"$grown")" "$seconds" \
        "$(calc "$seconds / $first")" $((peak_kb / 1024))
      rm -f "$dir/grown.log"
    fi
    echo "$first" >"$dir/first-seconds"
  )
}

declare -A first_seconds
for lines in "${sizes[@]}"; do
  log=$work/access-$lines.log
  echo "Writing $lines lines of real density"
  monitor=()
  if [[ -n ${MONITOR:-} ]]; then monitor=(--monitor "$MONITOR"); fi
  # The lines after the first LINES are those a grown log gains (the same arguments
  # give the same lines, so the log is the first part of the longer one).
  extra=$((lines / 1000))
  grown=$work/grown-$lines.txt
  source_log=()
  if [[ -n ${SOURCE:-} ]]; then source_log=("$SOURCE"); fi
  if [[ -n ${MONITOR:-} ]]; then
    : >"$grown"  # the monitor's lines come on top: no first part to cut
    bench/repeat_log "${monitor[@]}" "$log" "$lines" "${source_log[@]}"
  else
    bench/repeat_log "$work/longer.log" "$((lines + extra))" "${source_log[@]}"
    head -n "$lines" "$work/longer.log" >"$log"
    tail -n +"$((lines + 1))" "$work/longer.log" >"$grown"
    rm -f "$work/longer.log"
  fi
  bytes=$(stat -c %s "$log")
  count=$(wc -l <"$log")  # the monitor's lines come on top
  printf '\nLog: %s lines, %.1f MB\n' "$count" "$(calc "$bytes / 1048576")"
  cat "$log" >/dev/null  # every program starts with the file in the page cache

  weavil_run weavil "$weavil" "$log" "$lines" "$bytes"
  weavil_seconds=$(cat "$work/weavil-$lines/first-seconds")
  first_seconds[$lines]=$weavil_seconds
  if [[ -n ${BASELINE:-} ]]; then weavil_run baseline "$BASELINE" "$log" "$lines" "$bytes"; fi

  if command -v goaccess >/dev/null; then
    if measure goaccess "$log" --log-format=COMBINED -o "$work/goaccess.json"; then
      printf '%-16s %7.2f s  %9.0f lines/s  peak %4d MB  (weavil takes %.2fx its time)\n' goaccess \
        "$seconds" "$(calc "$count / $seconds")" $((peak_kb / 1024)) "$(calc "$weavil_seconds / $seconds")"
    fi
  else
    echo "goaccess         not installed (bench/import/setup)"
  fi
  if command -v webalizer >/dev/null; then
    mkdir -p "$work/webalizer-$lines"
    if measure webalizer -Q -p -N 0 -F clf -o "$work/webalizer-$lines" "$log"; then
      printf '%-16s %7.2f s  %9.0f lines/s  peak %4d MB  (weavil takes %.2fx its time)\n' webalizer \
        "$seconds" "$(calc "$count / $seconds")" $((peak_kb / 1024)) "$(calc "$weavil_seconds / $seconds")"
    fi
  else
    echo "webalizer        not installed (bench/import/setup)"
  fi
  rm -f "$log" "$grown"
done

base=${sizes[0]}
for lines in "${sizes[@]:1}"; do
  printf '\n%s lines took %.2fx the time of %s (linear: %.2fx)\n' "$lines" \
    "$(calc "${first_seconds[$lines]} / ${first_seconds[$base]}")" "$base" "$(calc "$lines / $base")"
done
echo "goals: >= 700000 lines/s, peak <= 150 MB, db <= 0.6x the log, again <= 0.25x, 3M <= 3.3x 1M"
