#!/usr/bin/env bash
# Times transactions against SQLite's command-line shell on the same table, in the same run:
# TRANSACTIONS transactions of 10 modifies each (one answer field of a random record set to
# a new value), committed one by one,
#   synced     Kestrel with synced commits, against SQLite with synchronous=FULL
#   unsynced   Kestrel with syncing turned off, against SQLite with synchronous=OFF
# (both with SQLite's rollback journal, journal_mode=DELETE). Prints transactions a second
# and the ratios Kestrel / SQLite (above 1: Kestrel is faster); then the time a modify takes
# in one transaction of 320, 1,280 and 5,120 modifies, which must not grow with the size.
#
#   bench/txn.sh [RECORDS] [TRANSACTIONS]     (default 1,000,000 records, 10,000)
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-1000000}"
transactions="${2:-10000}"

source bench/common.sh
require_sqlite3
prepare_table_input txn_modify
table="$data/txn_table"
db="$data/txn_table.db"
questionnaire_layout

fresh_kestrel() {
    rm -f "$table".* "$data"/BC_txn_table_*
    "$kstable" create "$table" "${fields[@]}" >/dev/null
    "$kstable" import --header "$table" "$input" >/dev/null
}
fresh_sqlite() {
    rm -f "$db" "$db-journal"
    sqlite3 "$db" <<SQL
CREATE TABLE t ($columns);
.mode csv
BEGIN;
.import --skip 1 $input t
COMMIT;
SQL
}
# The same workload as SQL: 10 updates of random rows a transaction.
sql="$data/txn-$transactions.sql"
awk -v n="$transactions" -v rows="$records" 'BEGIN {
    srand(17);
    for (t = 0; t < n; t++) {
        print "BEGIN;";
        for (c = 0; c < 10; c++)
            printf "UPDATE t SET q7 = %d WHERE rowid = %d;\n", int(rand() * 16), int(rand() * rows) + 1;
        print "COMMIT;";
    }
}' > "$sql"

kestrel_rate() { fresh_kestrel; "$build/bench/txn_modify" "$table" q7 "$transactions" 10 "$1"; }
sqlite_rate() {
    fresh_sqlite
    local start end
    start=$(date +%s.%N)
    { echo "PRAGMA journal_mode=DELETE; PRAGMA synchronous=$1;"; cat "$sql"; } |
        sqlite3 "$db" >/dev/null
    end=$(date +%s.%N)
    echo "scale=1; $transactions / ($end - $start)" | bc
}

ratio() { echo "scale=3; $1 / $2" | bc | sed 's/^\./0./'; }
k_sync=$(kestrel_rate sync)
s_sync=$(sqlite_rate FULL)
k_nosync=$(kestrel_rate nosync)
s_nosync=$(sqlite_rate OFF)
printf '\n%s records, %s transactions of 10 modifies; transactions a second\n\n' \
    "$records" "$transactions"
printf '%-10s %12s %12s %10s   %s\n' mode Kestrel SQLite ratio "goal (ratio)"
printf '%-10s %12s %12s %10s   %s\n' synced "$k_sync" "$s_sync" "$(ratio "$k_sync" "$s_sync")" ">= 1"
printf '%-10s %12s %12s %10s   %s\n' unsynced "$k_nosync" "$s_nosync" \
    "$(ratio "$k_nosync" "$s_nosync")" ">= 1"

# One transaction of many modifies: the time a modify takes must not grow with the
# transaction's size (linear work keeps it flat; work that grows with the square of the
# actions would multiply it by 16 from 320 to 5,120).
us_a_modify() {
    fresh_kestrel
    local rate
    rate=$("$build/bench/txn_modify" "$table" q7 1 "$1" nosync)
    echo "scale=2; 1000000 / ($rate * $1)" | bc | sed 's/^\./0./'
}
small=$(us_a_modify 320)
middle=$(us_a_modify 1280)
large=$(us_a_modify 5120)
printf '\none unsynced transaction of N modifies; microseconds a modify\n\n'
printf '%-10s %12s %12s %12s %10s   %s\n' "" 320 1280 5120 growth "goal (growth)"
printf '%-10s %12s %12s %12s %10s   %s\n' Kestrel "$small" "$middle" "$large" \
    "$(ratio "$large" "$small")" "< 2"
rm -f "$sql"
