#!/usr/bin/env bash
# Times mtconvert against the tools a user would otherwise reach for, on the same
# synthetic questionnaire export, in the same run:
#   tr -d ,      removes the commas and nothing else (no checks, no header, CR kept)
#   mawk script  does the whole job: header drop, CR strip, 50 spaces, comma and length checks
# Prints the median wall time of each, peak resident memory, and the ratios.
#
#   bench/converter.sh [RECORDS] [RUNS]     (default 300000 records, 5 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-300000}"
runs="${2:-5}"
command -v mawk >/dev/null || { echo "mawk is needed (apt-get install mawk)"; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time is needed (apt-get install time)"; exit 1; }

source bench/common.sh
prepare_bench mtconvert
size=$(stat -c %s "$input")

awk_script='
BEGIN { pad = sprintf("%50s", "") }
NR == 1 { next }
{
    line = $0
    sub(/\r$/, "", line)
    if (gsub(/,/, "", line) == 0) { print "record " NR - 1 " has no comma" > "/dev/stderr"; exit 1 }
    line = pad line
    if (length_fixed == 0) length_fixed = length(line)
    else if (length(line) != length_fixed) { print "record " NR - 1 " differs in length" > "/dev/stderr"; exit 1 }
    print line
}'

# run NAME COMMAND...: runs the command RUNS times, keeps the median time and the peak memory.
declare -A medians memory
run() {
    local name="$1"; shift
    local times=() peak=0
    for ((i = 0; i < runs; i++)); do
        local stats
        stats=$( { /usr/bin/time -f '%e %M' "$@" > /dev/null; } 2>&1 | tail -n 1)
        times+=("${stats% *}")
        local kb="${stats#* }"
        (( kb > peak )) && peak=$kb
    done
    medians[$name]=$(printf '%s\n' "${times[@]}" | median)
    memory[$name]=$peak
}

# The output goes to a real file for every tool, as a user would write it.
run mtconvert sh -c "'$build/app/cli/mtconvert' '$input' '$out'"
run "tr -d ," sh -c "tr -d , < '$input' > '$out'"
run mawk sh -c "mawk '$awk_script' '$input' > '$out'"

# mtconvert's peak memory on its own, without the shell around it.
mt_kb=$( { /usr/bin/time -f '%M' "$build/app/cli/mtconvert" "$input" "$out" > /dev/null; } 2>&1 | tail -n 1)

printf '\ninput: %s records, %.1f MB; %s runs each, median wall time\n\n' \
    "$records" "$(echo "$size / 1000000" | bc -l)" "$runs"
printf '%-12s %10s %10s %12s %14s\n' tool seconds MB/s "peak RSS" "mtconvert is"
for name in mtconvert "tr -d ," mawk; do
    t=${medians[$name]}
    rate=$(echo "$size / 1000000 / $t" | bc -l 2>/dev/null || echo 0)
    ratio=$(echo "${medians[mtconvert]} / $t" | bc -l)
    printf '%-12s %10.2f %10.1f %9s KiB %11.2f x\n' "$name" "$t" "$rate" "${memory[$name]}" "$ratio"
done
printf '\nmtconvert peak resident memory: %s KiB\n' "$mt_kb"
rm -f "$out"
