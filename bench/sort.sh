#!/usr/bin/env bash
# Times `kstable sort` against GNU sort and SQLite on the same records, in the same run:
#   kstable   sort --memory MEMORY TABLE code q1: a table of 66-byte records (the layout of
#             bench/table.sh) ordered in place by its 10-letter code, then its first answer
#   GNU sort  the same records as fixed-width lines, key first (bench/sort_lines.cpp), with
#             LC_ALL=C sort -S MEMORY -s -k1.1,1.12, once with --parallel=1 and once with 2
#   SQLite    CREATE TABLE s AS SELECT * FROM t ORDER BY code, q1, with a page cache of
#             MEMORY
# All three put their temporary files in one folder. Each command runs RUNS times in turns;
# the script prints the median wall and processor (user + system) seconds with their ratios
# kstable / tool, the peak resident memory and the bytes written (the kernel's write count:
# temporary files and output together, and without the output; bench/run_measured.cpp), and
# checks that every tool produced the same key order and kstable the same records.
#
#   bench/sort.sh [RECORDS] [RUNS] [MEMORY]      (default 10,000,000 records, 3 runs, 64M)
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-10000000}"
runs="${2:-3}"
memory="${3:-64M}"

source bench/common.sh
require_sqlite3
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_GUI=OFF >/dev/null
cmake --build "$build" --target kstable make_table_input sort_lines run_measured table_scan \
    >/dev/null
kstable="$build/app/kstable/kstable"
measured="$build/bench/run_measured"
data="${BENCH_DATA_DIR:-bench/data}"
tmp="$data/sort-tmp"
mkdir -p "$data" "$tmp"
export SQLITE_TMPDIR="$tmp"
memory_kib=$(( $(numfmt --from=iec "$memory") / 1024 ))

# The same 46 fields as the table benchmark.
questionnaire_layout

csv="$data/table-$records.csv"
table="$data/sort_table"
pristine="$data/sort-$records.cbf"
lines="$data/sort-$records.txt"
pristine_db="$data/sort-$records.db"
work_db="$data/sort-work.db"
sorted_lines="$data/sort-out.txt"
if [ ! -s "$csv" ]; then
    echo "generating $csv"
    "$build/bench/make_table_input" "$records" > "$csv"
fi
if [ ! -s "$pristine" ] || [ ! -s "$lines" ]; then
    echo "importing $records records"
    rm -f "$table.cbf" "$table.kss"
    "$kstable" create "$table" "${fields[@]}" >/dev/null
    "$kstable" import --header "$table" "$csv" >/dev/null
    "$build/bench/sort_lines" "$table.cbf" code q1 > "$lines"
    cp "$table.cbf" "$pristine"
fi
if [ ! -s "$pristine_db" ]; then
    echo "importing $records records into SQLite"
    sqlite3 "$pristine_db" <<SQL
CREATE TABLE t ($columns);
.mode csv
BEGIN;
.import --skip 1 $csv t
COMMIT;
SQL
fi

kstable_sort() {
    cp "$pristine" "$table.cbf"
    "$measured" "$data/report.kstable" "$kstable" sort --memory "$memory" --temp "$tmp" \
        "$table" code q1 > /dev/null
}
gnu_sort() {  # gnu_sort THREADS
    "$measured" "$data/report.gnu$1" env LC_ALL=C sort -S "$memory" --parallel="$1" -s \
        -k1.1,1.12 -T "$tmp" -o "$sorted_lines" "$lines"
}
gnu_sort1() { gnu_sort 1; }
gnu_sort2() { gnu_sort 2; }
sqlite_sort() {
    cp "$pristine_db" "$work_db"
    "$measured" "$data/report.sqlite" sqlite3 "$work_db" \
        "PRAGMA cache_size=-$memory_kib; CREATE TABLE s AS SELECT * FROM t ORDER BY code, q1;"
}

cp "$pristine" "$table.cbf"
sums_before=$("$build/bench/table_scan" "$table" id q1 q40)
tools=(kstable gnu1 gnu2 sqlite)
for tool in "${tools[@]}"; do rm -f "$data/report.$tool"; done
for ((i = 0; i < runs; i++)); do
    kstable_sort
    gnu_sort1
    gnu_sort2
    sqlite_sort
done

# Every tool must have produced the same key order, and kstable the same records.
key_digest() { cut -c1-12 | md5sum | cut -d' ' -f1; }
kstable_keys=$("$build/bench/sort_lines" "$table.cbf" code q1 | key_digest)
gnu_keys=$(key_digest < "$sorted_lines")
sqlite_keys=$(sqlite3 "$work_db" "SELECT code || printf('%02d', q1) FROM s" | key_digest)

# median COLUMN TOOL: the median of one column of a tool's report.
column_median() { cut -d' ' -f"$1" "$data/report.$2" | median; }
declare -A out_bytes=([kstable]=$(stat -c %s "$table.cbf") [gnu1]=$(stat -c %s "$sorted_lines")
                      [gnu2]=$(stat -c %s "$sorted_lines") [sqlite]=0)
declare -A label=([kstable]="kstable sort" [gnu1]="GNU sort -p1" [gnu2]="GNU sort -p2"
                  [sqlite]="SQLite")
k_wall=$(column_median 1 kstable)
k_cpu=$(column_median 4 kstable)
ratio() { echo "scale=2; $1 / $2" | bc | sed 's/^\./0./'; }
printf '\n%s records of 66 bytes (lines of %s bytes for GNU sort), memory %s, %s runs, medians\n\n' \
    "$records" "$(head -n 1 "$lines" | wc -c)" "$memory" "$runs"
printf '%-13s %8s %8s %8s %8s %9s %11s %11s\n' tool "wall s" "k/tool" "cpu s" "k/tool" \
    "peak MiB" "written MB" "-output MB"
for tool in "${tools[@]}"; do
    wall=$(column_median 1 "$tool")
    rss=$(column_median 2 "$tool")
    written=$(column_median 3 "$tool")
    cpu=$(column_median 4 "$tool")
    printf '%-13s %8.2f %8s %8.2f %8s %9.1f %11.1f %11.1f\n' "${label[$tool]}" "$wall" \
        "$(ratio "$k_wall" "$wall")" "$cpu" "$(ratio "$k_cpu" "$cpu")" \
        "$(echo "$rss / 1024" | bc -l)" "$(echo "$written / 1000000" | bc -l)" \
        "$(echo "($written - ${out_bytes[$tool]}) / 1000000" | bc -l)"
done
printf '\nkey order digests: kstable %s, GNU sort %s, SQLite %s\n' "$kstable_keys" "$gnu_keys" \
    "$sqlite_keys"
sums_after=$("$build/bench/table_scan" "$table" id q1 q40)
printf 'sums of id, q1 and q40: before %s, after %s\n' "$sums_before" "$sums_after"
if [ "$kstable_keys" != "$gnu_keys" ] || [ "$kstable_keys" != "$sqlite_keys" ] ||
    [ "$sums_before" != "$sums_after" ]; then
    echo "the tools disagree on the order"
    exit 1
fi
rm -f "$sorted_lines" "$work_db"
