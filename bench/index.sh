#!/usr/bin/env bash
# Times kstable's indexes against SQLite's command-line shell on the questionnaire table of
# bench/table.sh, in the same run:
#   build    kstable index on an answer field (q7) and on the ten-letter code, against
#            CREATE INDEX on the same columns
#   equal    1,000 random equality searches counting the records found, against
#            1,000 SELECT count(*) ... WHERE col = value
#   range    1,000 random range searches (both ends included), against
#            SELECT count(*) ... WHERE col BETWEEN low AND high
#   load     opening the table and reading a saved index in a fresh process
#   net      each search step less the load step: the 1,000 searches alone
# Prints the median wall seconds, the ratios kstable / SQLite, and the index file sizes
# against the pages of SQLite's indexes.
#
#   bench/index.sh [RECORDS] [RUNS]     (default 1,000,000 records, 3 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-1000000}"
runs="${2:-3}"

source bench/common.sh
require_sqlite3
prepare_table_input index_search
search="$build/bench/index_search"
table="$data/bench_index"
db="$data/bench_index.db"
questionnaire_layout

# Both tables are loaded once per record count and reused by later runs.
stamp="$data/bench_index.loaded"
if [ "$(cat "$stamp" 2>/dev/null)" != "$records" ]; then
    echo "loading $records records into both"
    rm -f "$table".* "$db" "$stamp"
    "$kstable" create "$table" "${fields[@]}" >/dev/null
    "$kstable" import --header "$table" "$input" >/dev/null
    sqlite3 "$db" <<SQL
CREATE TABLE t ($columns);
.mode csv
BEGIN;
.import --skip 1 $input t
COMMIT;
SQL
    echo "$records" > "$stamp"
fi

# Queries, the same on both sides: answers 0 to 15; codes taken from the records.
awk -v seed=7 'BEGIN { srand(seed); for (i = 0; i < 1000; i++) print int(rand() * 16) }' \
    > "$data/q7-equal.txt"
awk -v seed=8 'BEGIN { srand(seed); for (i = 0; i < 1000; i++) {
    a = int(rand() * 16); b = int(rand() * 16); if (a > b) { t = a; a = b; b = t }
    print a "," b } }' > "$data/q7-range.txt"
sqlite3 "$db" "SELECT code FROM t ORDER BY random() LIMIT 2000" > "$data/codes.txt"
head -n 1000 "$data/codes.txt" > "$data/code-equal.txt"
tail -n 1000 "$data/codes.txt" | paste -d, - "$data/code-equal.txt" |
    awk -F, '{ if ($1 > $2) print $2 "," $1; else print $1 "," $2 }' > "$data/code-range.txt"

# SQL of the same queries: one count(*) a line.
to_sql() {  # COLUMN FILE QUOTE
    awk -F, -v col="$1" -v q="$3" '{ if (NF == 1) print "SELECT count(*) FROM t WHERE " col " = " q $1 q ";";
        else print "SELECT count(*) FROM t WHERE " col " BETWEEN " q $1 q " AND " q $2 q ";" }' "$2"
}
for kind in equal range; do
    to_sql q7 "$data/q7-$kind.txt" "" > "$data/q7-$kind.sql"
    to_sql code "$data/code-$kind.txt" "'" > "$data/code-$kind.sql"
done

kstable_build_q7() { "$kstable" index "$table" q7; }
sqlite_build_q7() { sqlite3 "$db" "DROP INDEX IF EXISTS iq7; CREATE INDEX iq7 ON t(q7)"; }
kstable_build_code() { "$kstable" index "$table" code; }
sqlite_build_code() { sqlite3 "$db" "DROP INDEX IF EXISTS icode; CREATE INDEX icode ON t(code)"; }
for col in q7 code; do
    for kind in equal range; do
        eval "kstable_${kind}_$col() { \"\$search\" \"\$table\" $col \"\$data/$col-$kind.txt\"; }"
        eval "sqlite_${kind}_$col() { sqlite3 \"\$db\" < \"\$data/$col-$kind.sql\"; }"
    done
    eval "kstable_load_$col() { \"\$search\" \"\$table\" $col; }"
    eval "sqlite_load_$col() { sqlite3 \"\$db\" \"SELECT count(*) FROM t INDEXED BY i$col WHERE $col = (SELECT $col FROM t WHERE rowid = 1)\"; }"
done

declare -A wall
measure() {
    local walls=() TIMEFORMAT='%R'
    for ((i = 0; i < runs; i++)); do
        walls+=("$( { time "$1" > /dev/null 2>&1; } 2>&1 | tail -n 1)")
    done
    wall[$1]=$(printf '%s\n' "${walls[@]}" | median)
}
steps=(build_q7 build_code equal_q7 range_q7 equal_code range_code load_q7 load_code)
for step in "${steps[@]}"; do
    measure "kstable_$step"
    measure "sqlite_$step"
done

# Both sides must find the same records.
for col in q7 code; do
    for kind in equal range; do
        k=$("$search" "$table" "$col" "$data/$col-$kind.txt")
        s=$(sqlite3 "$db" < "$data/$col-$kind.sql" | awk '{ n += $1 } END { print n }')
        if [ "$k" != "$s" ]; then
            echo "$kind searches on $col disagree: kstable $k, sqlite $s"
            exit 1
        fi
    done
done

ratio() { echo "scale=3; $1 / $2" | bc | sed 's/^\./0./'; }
printf '\n%s records; %s runs each, median wall seconds\n\n' "$records" "$runs"
printf '%-16s %12s %12s %8s\n' step kstable sqlite ratio
for step in "${steps[@]}"; do
    printf '%-16s %12.3f %12.3f %8s\n' "$step" "${wall[kstable_$step]}" "${wall[sqlite_$step]}" \
        "$(ratio "${wall[kstable_$step]}" "${wall[sqlite_$step]}")"
done
# The searches alone: each side's search step less its load step (a fresh process that
# opens the table and answers one search), so that starting, opening and reading the index
# count once, in load.
for step in equal_q7 range_q7 equal_code range_code; do
    col=${step#*_}
    k=$(echo "${wall[kstable_$step]} - ${wall[kstable_load_$col]}" | bc -l)
    s=$(echo "${wall[sqlite_$step]} - ${wall[sqlite_load_$col]}" | bc -l)
    printf '%-16s %12.3f %12.3f %8s   (%s less load_%s)\n' "net_$step" "$k" "$s" \
        "$(ratio "$k" "$s")" "$step" "$col"
done
page=$(sqlite3 "$db" "PRAGMA page_size")
for col in q7 code; do
    number=$("$kstable" info "$table" | awk -v c="$col" '$2 == c { print $1 }')
    file=$(printf '%s.%03d' "$table" "$number")
    k=$(stat -c %s "$file")
    s=$(( $(sqlite3 "$db" "SELECT count(*) FROM dbstat WHERE name = 'i$col'" 2>/dev/null || echo 0) * page ))
    printf '%-16s %12.1f %12.1f %8s   (MB: index file, SQLite index pages)\n' "size_$col" \
        "$(echo "$k / 1000000" | bc -l)" "$(echo "$s / 1000000" | bc -l)" \
        "$( [ "$s" -gt 0 ] && ratio "$k" "$s" || echo n/a)"
done
