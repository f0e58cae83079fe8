#!/bin/bash
# Imports every real log of ../shared/data with the baseline program and with this
# build, and prints the visit figures: sessions identical to the baseline with
# IsAgentChaining 1 and the classic extensions (the agent's closing quote aside), and
# with the defaults: addresses with sessions, agents ending in a quote, referrer rows
# naming the site itself, addresses without a country after the import.
#   bench/import/check_visits.sh NEW_WEAVIL BASELINE_WEAVIL [DATA_DIR]
set -u
new=${1:?new weavil}; base=${2:?baseline weavil}; data=${3:-$(dirname "$0")/../../../shared/data}
[ -d "$data" ] || { echo "no data folder $data: skipped"; exit 0; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
classic="html htm shtml asp jsp txt pl cfm exe msi aspx zip doc "
q() { sqlite3 "$1" "$2"; }
sessions="SELECT TimeEnter,TimeExit,UserIP,quote(ErrorCode),UserAgent,Referer,NumVisited,
  (SELECT group_concat(TimeEnter||' '||UriStem||' '||StatusCode,';') FROM (SELECT * FROM Resource r
   WHERE r.SessionId=s.SessionId ORDER BY ResourceId)), (SELECT Bytes FROM SessionBytes b WHERE b.SessionId=s.SessionId)
  FROM Session s ORDER BY TimeEnter, UserIP, NumVisited;"
for log in "$data"/*.log; do
  name=$(basename "$log" .log)
  host=$(grep -o '"https\?://[^/"]*' "$log" | sed 's|"https\?://||' | sort | uniq -c | sort -rn | awk 'NR==1{print $2}')
  # The baseline, then this build with the classic rules.
  XDG_CONFIG_HOME=$work/cb XDG_DATA_HOME=$work/db "$base" --db "$work/$name-base.db" import "$log" >/dev/null 2>&1
  XDG_CONFIG_HOME=$work/cc XDG_DATA_HOME=$work/dc "$new" settings IsAgentChaining 1 >/dev/null
  XDG_CONFIG_HOME=$work/cc XDG_DATA_HOME=$work/dc "$new" settings Extensions "$classic" >/dev/null
  XDG_CONFIG_HOME=$work/cc XDG_DATA_HOME=$work/dc "$new" --db "$work/$name-classic.db" import "$log" >/dev/null 2>&1
  # The baseline keeps the agent's closing quote and whatever followed it.
  q "$work/$name-base.db" "$sessions" | perl -pe 's/^((?:[^|]*\|){4}[^|]*?)"(?:\+"[^|]*)?\|/$1|/' > "$work/base.txt"
  q "$work/$name-classic.db" "$sessions" > "$work/classic.txt"
  differing=$(diff "$work/base.txt" "$work/classic.txt" | grep -c '^[<>]')
  # The defaults, with the site's host set.
  XDG_CONFIG_HOME=$work/cn XDG_DATA_HOME=$work/dn "$new" settings DefaultHost "$host" >/dev/null
  XDG_CONFIG_HOME=$work/cn XDG_DATA_HOME=$work/dn "$new" --db "$work/$name-new.db" import "$log" >/dev/null 2>&1
  XDG_CONFIG_HOME=$work/cb2 XDG_DATA_HOME=$work/db2 "$base" settings DefaultHost "$host" >/dev/null
  XDG_CONFIG_HOME=$work/cb2 XDG_DATA_HOME=$work/db2 "$base" --db "$work/$name-base-host.db" import "$log" >/dev/null 2>&1
  db=$work/$name-new.db
  echo "== $name (DefaultHost $host)"
  echo "sessions: baseline $(q "$work/$name-base.db" 'select count(*) from Session'), classic rules $(wc -l < "$work/classic.txt"), rows differing $differing"
  echo "addresses with sessions: $(q "$db" 'select count(distinct UserIP) from Session') of $(q "$db" 'select count(*) from DNSLookUp'); baseline $(q "$work/$name-base.db" 'select count(distinct UserIP) from Session') of $(q "$work/$name-base.db" 'select count(*) from DNSLookUp')"
  echo "sessions $(q "$db" 'select count(*) from Session'); IPv6 visitors $(q "$db" "select count(*) from DNSLookUp where UserIP like '%:%'")"
  echo "agents ending in a quote: $(q "$db" "select count(*) from Session where UserAgent like '%\"'") (baseline $(q "$work/$name-base.db" "select count(*) from Session where UserAgent like '%\"'"))"
  echo "referrer rows naming $host: $(q "$db" "select count(*) from Referer where lower(Url) like '%$host%'") (baseline $(q "$work/$name-base-host.db" "select count(*) from Referer where lower(Url) like '%$host%'"))"
  echo "addresses without country: $(q "$db" "select count(*) from DNSLookUp where CountryCode is null or CountryCode=''") of $(q "$db" 'select count(*) from DNSLookUp') (IPv6 without: $(q "$db" "select count(*) from DNSLookUp where UserIP like '%:%' and (CountryCode is null or CountryCode='')"))"
  echo "sessions with exit before enter: $(q "$db" 'select count(*) from Session where TimeExit < TimeEnter')"
done
