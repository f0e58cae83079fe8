#!/usr/bin/env bash
# Report refresh benchmark: writes a log of real session density with bench/repeat_log
# (one million lines by default; 3000000 for the growth check), imports it into a fresh
# database, then times every session view (query and tree) and the statistics, filter
# off and on, with each view's peak memory, both from rows read into memory (as they
# run) and from each view's own statement (as they ran before); then the whole
# `weavil report VIEW` command.
#   [WEAVIL_LOG_SOURCE=real.log] [RUNS=3] bench/reports/run.sh [BUILD_DIR] [LINES]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
lines=${2:-1000000}
work=${WEAVIL_BENCH_DIR:-${TMPDIR:-/tmp}/weavil-report-bench}
mkdir -p "$work"
cmake --build "$build" --target weavil report_views_bench >/dev/null
log="$work/access-$lines.log"
db="$work/reports-$lines.db"
if [ ! -f "$log" ]; then
  echo "generating $lines log lines..."
  "$root/bench/repeat_log" "$log" "$lines" ${WEAVIL_LOG_SOURCE:+"$WEAVIL_LOG_SOURCE"}
fi
if [ ! -f "$db" ]; then
  echo "importing..."
  XDG_CONFIG_HOME="$work/config" "$build/bin/weavil" --db "$db" import "$log"
fi
sessions=$(sqlite3 "$db" "select count(*) from Session" 2>/dev/null || echo "?")
requests=$(sqlite3 "$db" "select count(*) from Resource" 2>/dev/null || echo "?")
echo "database: $sessions sessions, $requests stored requests"
"$build/bench/report_views_bench" "$db" "${RUNS:-3}"

# The whole `weavil report VIEW` command as a user runs it (open, query, tree, output),
# filter off and with a typical filter (robots left out, the three most asked-for pages;
# the period is left out here because the command measures it from today's date).
pages=$(sqlite3 "$db" "SELECT UriStem FROM Resource GROUP BY UriStem ORDER BY count(*) DESC LIMIT 3" | tr '\n' ' ')
echo
echo "whole command: weavil report VIEW > /dev/null (best of 3)"
printf '%-12s %-8s %10s %8s\n' view filter seconds "peak MB"
for filter in off typical; do
  for view in sessions visitors keywords referers pages statistics; do
    args=(--no-filter)
    [ "$filter" = typical ] && args=(--no-filter --no-robots --pages "$pages")
    best=""
    peak=0
    for _ in 1 2 3; do
      out=$(XDG_CONFIG_HOME="$work/config" /usr/bin/time -f '%e %M' "$build/bin/weavil" --db "$db" report "$view" \
        "${args[@]}" 2>&1 >/dev/null | tail -1)
      read -r s kb <<<"$out"
      if [ -z "$best" ] || awk "BEGIN { exit !($s < $best) }"; then best=$s; fi
      [ "$kb" -gt "$peak" ] && peak=$kb
    done
    printf '%-12s %-8s %10s %8d\n' "$view" "$filter" "$best" $((peak / 1024))
  done
done
