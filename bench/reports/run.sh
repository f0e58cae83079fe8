#!/usr/bin/env bash
# Report refresh benchmark: writes a log of real session density with bench/repeat_log
# (one million lines by default; 3000000 for the growth check), imports it into a fresh
# database, then times every session view (query and tree) and the statistics, filter
# off and on, with each view's peak memory, both from rows read into memory (as they
# run) and from each view's own statement (as they ran before); then the whole
# `weavil report VIEW` command; then the window refreshing all six views, with the
# longest time its user interface stood still.
#   [WEAVIL_LOG_SOURCE=real.log] [RUNS=3] [WHOLE_RUNS=5] [BASELINE=older/weavil] bench/reports/run.sh [BUILD_DIR] [LINES]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
lines=${2:-1000000}
work=${WEAVIL_BENCH_DIR:-${TMPDIR:-/tmp}/weavil-report-bench}
mkdir -p "$work"
cmake --build "$build" --target weavil report_views_bench refresh_stall_bench >/dev/null
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
# With BASELINE=/path/to/older/weavil the older build runs beside it, the two taking
# turns, so that a host whose speed drifts from minute to minute slows both alike.
pages=$(sqlite3 "$db" "SELECT UriStem FROM Resource GROUP BY UriStem ORDER BY count(*) DESC LIMIT 3" | tr '\n' ' ')
runs=${WHOLE_RUNS:-5}
builds=("$build/bin/weavil")
[ -n "${BASELINE:-}" ] && builds=("$BASELINE" "$build/bin/weavil")
echo
echo "whole command: weavil report VIEW > /dev/null (best of $runs${BASELINE:+, baseline first})"
if [ -n "${BASELINE:-}" ]; then
  printf '%-12s %-8s %10s %10s %9s %9s\n' view filter baseline seconds "peak MB" "peak MB"
else
  printf '%-12s %-8s %10s %8s\n' view filter seconds "peak MB"
fi
for filter in off typical; do
  for view in sessions visitors keywords referers pages statistics; do
    args=(--no-filter)
    [ "$filter" = typical ] && args=(--no-filter --no-robots --pages "$pages")
    best=()
    peak=()
    for _ in $(seq "$runs"); do
      for i in "${!builds[@]}"; do
        out=$(XDG_CONFIG_HOME="$work/config" /usr/bin/time -f '%e %M' "${builds[$i]}" --db "$db" report "$view" \
          "${args[@]}" 2>&1 >/dev/null | tail -1)
        read -r s kb <<<"$out"
        if [ -z "${best[$i]:-}" ] || awk "BEGIN { exit !($s < ${best[$i]}) }"; then best[$i]=$s; fi
        [ "$kb" -gt "${peak[$i]:-0}" ] && peak[$i]=$kb
      done
    done
    if [ -n "${BASELINE:-}" ]; then
      printf '%-12s %-8s %10s %10s %9d %9d\n' "$view" "$filter" "${best[0]}" "${best[1]}" $((peak[0] / 1024)) \
        $((peak[1] / 1024))
    else
      printf '%-12s %-8s %10s %8d\n' "$view" "$filter" "${best[0]}" $((peak[0] / 1024))
    fi
  done
done

# The window on the same database: every view refreshed as after an import or a filter
# change, the sortable ones sorted by their count from the second round, then a click on
# each tab.
echo
echo "window: all six views refreshed (the longest the user interface stood still)"
XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen "$build/bench/refresh_stall_bench" "$db" 3 2>/dev/null
