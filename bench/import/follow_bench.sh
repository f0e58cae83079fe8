#!/usr/bin/env bash
# Follow benchmark: a writer appends to a log at a steady rate (1,000 lines/s for 60 s
# by default, lines from bench/repeat_log) while `weavil import --follow` reads it
# every FollowSeconds (default 5). Reports, per round, how long after a line was
# written it was stored (the delay), the time from the last write to the round that
# stored it, and whether the followed database holds exactly the sessions and pages of
# one import of the final file.
#
#   bench/import/follow_bench.sh [SECONDS] [LINES_PER_SECOND] [FOLLOW_SECONDS]
#   BUILD_DIR=build-foo bench/import/follow_bench.sh   # another build folder (default: build)
#   KEEP=1 bench/import/follow_bench.sh                # keep the temporary folder
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
duration=${1:-60}
rate=${2:-1000}
every=${3:-5}
weavil=$root/${BUILD_DIR:-build}/bin/weavil
[[ -x $weavil ]] || { echo "build weavil first ($weavil)" >&2; exit 1; }

work=$(mktemp -d /tmp/weavil-follow-XXXXXX)
if [[ -z ${KEEP:-} ]]; then trap 'rm -rf "$work"' EXIT; else echo "Keeping $work"; fi
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
"$weavil" settings DefaultHost www.example.com >/dev/null
"$weavil" settings FollowSeconds "$every" >/dev/null

lines=$((duration * rate))
bench/repeat_log "$work/source.log" "$lines" >/dev/null
: >"$work/access.log"
cd "$work"  # the trace file lands here
"$weavil" --db "$work/follow.db" import --follow "$work/access.log" >"$work/follow.out" 2>&1 &
follower=$!
cd "$root"

# The writer appends whole batches ten times a second and notes when each batch went
# out; a reader notes when each round line of the follower appeared.
python3 - "$work" "$lines" "$rate" "$follower" <<'PY'
import os, signal, sys, threading, time
work, lines, rate, follower = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
source = open(os.path.join(work, "source.log"), "rb").read().splitlines(keepends=True)[:lines]
written = []  # (time, lines written so far)
rounds = []   # (time, lines in the round)
done = threading.Event()

def read_rounds():
    with open(os.path.join(work, "follow.out"), "rb") as out:
        pending = b""
        while True:
            chunk = out.read()
            if not chunk:
                if done.is_set(): return
                time.sleep(0.02); continue
            pending += chunk
            *complete, pending = pending.split(b"\n")
            for line in complete:
                words = line.split()
                if len(words) > 3 and words[2:4] == [b"lines", b"read,"]:
                    rounds.append((time.time(), int(words[1])))

reader = threading.Thread(target=read_rounds); reader.start()
batch = max(1, rate // 10)
start = time.time()
with open(os.path.join(work, "access.log"), "ab", buffering=0) as log:
    for i in range(0, len(source), batch):
        wait = start + i / rate - time.time()
        if wait > 0: time.sleep(wait)
        log.write(b"".join(source[i:i + batch]))
        written.append((time.time(), min(i + batch, len(source))))
end = time.time()
while sum(n for _, n in rounds) < len(source) and time.time() < end + 120: time.sleep(0.05)
caught = time.time()
os.kill(follower, signal.SIGTERM)
done.set(); reader.join()

def written_at(count):  # when line number count (1-based) went out
    for t, total in written:
        if total >= count: return t
    return written[-1][0]
delays, total = [], 0
for t, n in rounds:
    if n: delays.append(t - written_at(total + 1))
    total += n
print(f"written: {len(source)} lines in {end - start:.1f} s ({len(source) / (end - start):.0f} lines/s)")
print(f"rounds with lines: {len(delays)}, lines stored: {total}")
if delays:
    print(f"delay (oldest line of a round to its round stored): max {max(delays):.2f} s, mean {sum(delays) / len(delays):.2f} s")
print(f"last line written to last round stored: {caught - end:.2f} s")
PY
wait "$follower" && echo "follow ended with exit 0" || echo "follow ended with exit $?"
tail -1 "$work/follow.out"

cd "$work"
"$weavil" --db "$work/whole.db" import "$work/access.log" >"$work/whole.out"
cd "$root"
echo "one import of the final file: $(cat "$work/whole.out")"
python3 - "$work" <<'PY'
import sqlite3, sys
sql = """SELECT s.TimeEnter || s.UserIP || '|' || s.TimeExit || '|' || s.NumVisited || '|' || s.Referer || '|' ||
  b.Bytes || '|' || (SELECT group_concat(TimeEnter || UriStem, ',') FROM (SELECT TimeEnter, UriStem FROM Resource r
  WHERE r.SessionId = s.SessionId ORDER BY ResourceId)) FROM [Session] s JOIN SessionBytes b
  ON b.SessionId = s.SessionId ORDER BY 1"""
def content(name):
    db = sqlite3.connect(f"{sys.argv[1]}/{name}")
    rows = [r[0] for r in db.execute(sql)]
    pages = db.execute("SELECT count(*) FROM Resource").fetchone()[0]
    return rows, pages
followed, whole = content("follow.db"), content("whole.db")
print(f"sessions: followed {len(followed[0])}, whole {len(whole[0])}; pages: followed {followed[1]}, whole {whole[1]}")
print("followed database equals one import of the final file:", "yes" if followed == whole else "NO")
PY
