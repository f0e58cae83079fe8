#!/usr/bin/env bash
# Report refresh benchmark: writes a log of real session density with bench/repeat_log
# (one million lines by default; 3000000 for the growth check), imports it into a fresh
# database, then times every session view (query and tree) and the statistics, filter
# off and on, with each view's peak memory.
#   [WEAVIL_LOG_SOURCE=real.log] bench/reports/run.sh [BUILD_DIR] [LINES]
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
"$build/bench/report_views_bench" "$db" 3
