#!/usr/bin/env bash
# PostgreSQL server benchmark: starts a throwaway server (scripts/pg-throwaway, stopped
# again at exit), writes a log of real session density with bench/repeat_log (one million
# lines by default; the log of bench/reports/run.sh is reused when present), imports it
# into the server and prints lines per second and peak memory; imports the same log a
# second time (which must store nothing); then times every `weavil --db URI report VIEW`,
# filter off and with a typical filter, beside the same views on a database file of the
# same log.
#   [WEAVIL_LOG_SOURCE=real.log] [WHOLE_RUNS=3] bench/postgres/run.sh [BUILD_DIR] [LINES]
# Peak memory is the weavil process's own (/usr/bin/time -f %M), not the server's.
set -euo pipefail
case ${1:-} in -h | --help) sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;; esac
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(realpath -- "${1:-$root/build}")
lines=${2:-1000000}
runs=${WHOLE_RUNS:-3}
work=${WEAVIL_BENCH_DIR:-${TMPDIR:-/tmp}/weavil-report-bench}
mkdir -p "$work"
work=$(realpath "$work")
cmake --build "$build" --target weavil >/dev/null
weavil=$build/bin/weavil
log="$work/access-$lines.log"
db="$work/reports-$lines.db"
export XDG_CONFIG_HOME="$work/config"
cd "$work" # the program writes its trace into the current folder

server=$(mktemp -d "${TMPDIR:-/tmp}/weavil-pg-bench.XXXXXX")
trap '"$root/scripts/pg-throwaway" stop "$server"' EXIT
uri=$("$root/scripts/pg-throwaway" start "$server")
pg() { psql "$uri" -X -qtA -v ON_ERROR_STOP=1 -c "$1"; }
echo "server: $(pg 'SHOW server_version'), wal_level $(pg 'SHOW wal_level'), $uri"

if [ ! -f "$log" ]; then
  echo "generating $lines log lines..."
  "$root/bench/repeat_log" "$log" "$lines" ${WEAVIL_LOG_SOURCE:+"$WEAVIL_LOG_SOURCE"}
fi

faults=0
# timed_import NAME: imports $log into $uri; prints the command's wall seconds, lines per
# second and peak memory with the import's own report; leaves the wall seconds in $wall.
timed_import() {
  local out="$server/import.out" t="$server/import.time"
  /usr/bin/time -o "$t" -f '%e %M' "$weavil" --db "$uri" import "$log" >"$out"
  local kb
  read -r wall kb <"$t"
  echo "$1: $(cat "$out")"
  local own
  own=$(grep -o '[0-9.]* seconds' "$out" | cut -d' ' -f1)
  awk -v n="$lines" -v s="$wall" -v kb="$kb" -v own="$own" 'BEGIN {
    printf "  %.2f s whole command, %.0f lines/s; the import itself %.2f s, %.0f lines/s; peak %d MB\n", s, (s > 0 ? n / s : 0), own, (own > 0 ? n / own : 0), kb / 1024
  }'
}

timed_import "first import"
first=$wall
counts() { echo "$(pg 'SELECT count(*) FROM Session') sessions, $(pg 'SELECT count(*) FROM Resource') stored requests"; }
before=$(counts)
echo "server database: $before, $(pg "SELECT pg_size_pretty(pg_database_size(current_database()))")"

timed_import "second import"
after=$(counts)
awk -v a="$wall" -v b="$first" 'BEGIN { printf "  second / first: %.2f\n", (b > 0 ? a / b : 0) }'
if ! grep -q ' 0 sessions stored' "$server/import.out" || [ "$after" != "$before" ]; then
  echo "  FAULT: the second import stored something (now $after)"
  faults=1
fi

if [ ! -f "$db" ]; then
  echo "importing into $db..."
  "$weavil" --db "$db" import "$log"
fi
echo "database file: $(sqlite3 "$db" "select count(*) from Session") sessions," \
  "$(sqlite3 "$db" "select count(*) from Resource") stored requests, $(($(stat -c %s "$db") / 1048576)) MB"

# The whole `weavil report VIEW` command as a user runs it (connect, query, tree, output),
# filter off and with a typical filter (robots left out, the three most asked-for pages;
# the period is left out because the command measures it from today's date). The two
# databases take turns so that a host whose speed drifts slows both alike. "same" tells
# whether the two printed the same report.
pages=$(pg "SELECT UriStem FROM Resource GROUP BY UriStem ORDER BY count(*) DESC, UriStem LIMIT 3" | tr '\n' ' ')
echo "typical filter: --no-robots --pages \"$pages\""
echo
echo "whole command: weavil --db DB report VIEW > /dev/null (best of $runs)"
printf '%-12s %-8s %10s %10s %9s %9s %5s\n' view filter "server s" "file s" "server MB" "file MB" same
for filter in off typical; do
  for view in sessions visitors keywords referers pages statistics; do
    args=(--no-filter)
    [ "$filter" = typical ] && args=(--no-filter --no-robots --pages "$pages")
    best=()
    peak=()
    sources=("$uri" "$db")
    for run in $(seq "$runs"); do
      for i in 0 1; do
        printed=/dev/null
        [ "$run" = 1 ] && printed="$server/report-$i.out"
        /usr/bin/time -o "$server/report.time" -f '%e %M' "$weavil" --db "${sources[$i]}" report "$view" \
          "${args[@]}" >"$printed"
        read -r s kb <"$server/report.time"
        if [ -z "${best[$i]:-}" ] || awk "BEGIN { exit !($s < ${best[$i]}) }"; then best[$i]=$s; fi
        [ "$kb" -gt "${peak[$i]:-0}" ] && peak[$i]=$kb
      done
    done
    same=yes
    cmp -s "$server/report-0.out" "$server/report-1.out" || { same=NO; faults=1; }
    printf '%-12s %-8s %10s %10s %9d %9d %5s\n' "$view" "$filter" "${best[0]}" "${best[1]}" \
      $((peak[0] / 1024)) $((peak[1] / 1024)) "$same"
  done
done
exit "$faults"
