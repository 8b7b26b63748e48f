#!/usr/bin/env bash
# Times kstable against SQLite's command-line shell on the same generated comma-separated
# file, in the same run:
#   import   kstable create + import --header, against CREATE TABLE + .import in one
#            transaction (INTEGER, REAL and TEXT columns)
#   scan     a full scan summing one answer field and one amount: bench/table_scan through
#            the record API, against SELECT sum(q7), sum(amount2)
#   export   kstable export, against sqlite3 -csv -header SELECT *
# Prints the median wall and CPU (user + system) seconds of each, the file sizes, the
# ratios kstable / SQLite and kstable's import and export in MB/s of comma-separated text.
#
#   bench/table.sh [RECORDS] [RUNS]     (default 1,000,000 records, 3 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-1000000}"
runs="${2:-3}"

source bench/common.sh
require_sqlite3
prepare_table_input table_scan
table="$data/bench_table"
db="$data/bench_table.db"
out="$data/table-out.csv"

# The same 46 fields on both sides.
questionnaire_layout

kstable_import() {
    rm -f "$table.cbf" "$table.kss"
    "$kstable" create "$table" "${fields[@]}" >/dev/null
    "$kstable" import --header "$table" "$input" >/dev/null
}
sqlite_import() {
    rm -f "$db"
    sqlite3 "$db" <<SQL
CREATE TABLE t ($columns);
.mode csv
BEGIN;
.import --skip 1 $input t
COMMIT;
SQL
}
kstable_scan() { "$build/bench/table_scan" "$table" q7 amount2; }
sqlite_scan() { sqlite3 -separator ' ' "$db" "SELECT sum(q7), printf('%.2f', sum(amount2)) FROM t"; }
kstable_export() { "$kstable" export "$table" > "$out"; }
sqlite_export() { sqlite3 -csv -header "$db" "SELECT * FROM t" > "$out"; }

# measure NAME: runs the function NAME RUNS times; keeps the median wall and CPU seconds
# (user + system, child processes included).
declare -A wall cpu
measure() {
    local walls=() cpus=() TIMEFORMAT='%R %U %S'
    for ((i = 0; i < runs; i++)); do
        local w u s
        read -r w u s < <( { time "$1" > /dev/null 2>&1; } 2>&1 | tail -n 1)
        walls+=("$w")
        cpus+=("$(echo "$u + $s" | bc)")
    done
    wall[$1]=$(printf '%s\n' "${walls[@]}" | median)
    cpu[$1]=$(printf '%s\n' "${cpus[@]}" | median)
}

for step in import scan export; do
    measure "kstable_$step"
    measure "sqlite_$step"
done

# Both sides must have read the same data: the scan's sums agree.
kstable_sums=$(kstable_scan)
sqlite_sums=$(sqlite_scan)
table_bytes=$(( $(stat -c %s "$table.cbf") + $(stat -c %s "$table.kss") ))
db_bytes=$(stat -c %s "$db")

ratio() { echo "scale=3; $1 / $2" | bc | sed 's/^\./0./'; }
printf '\ninput: %s records of 46 fields, %.1f MB; %s runs each, median seconds\n\n' \
    "$records" "$(echo "$(stat -c %s "$input") / 1000000" | bc -l)" "$runs"
printf '%-8s %12s %12s %12s %12s %12s %12s   %s\n' step "kstable wall" "sqlite wall" \
    "ratio" "kstable cpu" "sqlite cpu" "ratio" "goal (ratio)"
for step in import scan export; do
    k="kstable_$step" s="sqlite_$step"
    goal="<= 1"
    [ "$step" = import ] && goal="<= 0.25"
    printf '%-8s %12.2f %12.2f %12s %12.2f %12.2f %12s   %s\n' "$step" "${wall[$k]}" \
        "${wall[$s]}" "$(ratio "${wall[$k]}" "${wall[$s]}")" "${cpu[$k]}" "${cpu[$s]}" \
        "$(ratio "${cpu[$k]}" "${cpu[$s]}")" "$goal"
done
printf '%-8s %12.1f %12.1f %12s %38s   %s\n' "MB" "$(echo "$table_bytes / 1000000" | bc -l)" \
    "$(echo "$db_bytes / 1000000" | bc -l)" "$(ratio "$table_bytes" "$db_bytes")" "" "<= 0.5"
# The import reads the comma-separated input, the export writes as much again (CR LF).
kstable_export
mb_per_s() { echo "scale=0; $1 / 1000000 / $2" | bc; }
printf '\nkstable MB/s of comma-separated text: import %s, export %s   (goal >= 300)\n' \
    "$(mb_per_s "$(stat -c %s "$input")" "${wall[kstable_import]}")" \
    "$(mb_per_s "$(stat -c %s "$out")" "${wall[kstable_export]}")"
printf '\nscan sums: kstable %s, sqlite %s\n' "$kstable_sums" "$sqlite_sums"
if [ "$kstable_sums" != "$sqlite_sums" ]; then
    echo "the two scans disagree"
    exit 1
fi
rm -f "$out"
