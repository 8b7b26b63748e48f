#!/usr/bin/env bash
# Times mtconvert against the tools a user would otherwise reach for, on the same
# synthetic questionnaire export, in the same run:
#   cat          copies the file unchanged: the floor for reading a file and writing a copy
#   tr -d ,      removes the commas and nothing else (no checks, no header, CR kept)
#   mawk script  does the whole job: header drop, CR strip, 50 spaces, comma and length checks
# and mtconvert once more with --layout, which checks every field's width on every record
# and writes the column layout beside the output.
# The tools take turns within each round, so that all of them meet the same state of the
# machine. Prints the median wall time of each, peak resident memory, the ratios, and
# whether mtconvert wrote exactly what the mawk script wrote.
#
#   bench/converter.sh [RECORDS[,RECORDS...]] [RUNS]
#       default: 300000 and 1660000 records (about 180 MB and 1 GB), 5 runs
set -euo pipefail
cd "$(dirname "$0")/.."
sizes="${1:-300000,1660000}"
runs="${2:-5}"
command -v mawk >/dev/null || { echo "mawk is needed (apt-get install mawk)"; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time is needed (apt-get install time)"; exit 1; }

source bench/common.sh

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

tools=(mtconvert "mtconvert --layout" cat "tr -d ," mawk)

# command_of TOOL: the shell command that runs TOOL on $input into $out.
command_of() {
    case "$1" in
        mtconvert) echo "'$build/app/cli/mtconvert' '$input' '$out' > /dev/null" ;;
        "mtconvert --layout")
            echo "'$build/app/cli/mtconvert' --layout '$out.layout.csv' '$input' '$out' > /dev/null" ;;
        cat) echo "cat '$input' > '$out'" ;;
        "tr -d ,") echo "tr -d , < '$input' > '$out'" ;;
        mawk) echo "mawk '$awk_script' '$input' > '$out'" ;;
    esac
}

# bench_size RECORDS: every tool RUNS times, in turns, then the table for this size.
bench_size() {
    records="$1"
    prepare_bench mtconvert
    local size
    size=$(stat -c %s "$input")
    declare -A times peak
    for ((i = 0; i < runs; i++)); do
        for tool in "${tools[@]}"; do
            local stats
            stats=$( { /usr/bin/time -f '%e %M' sh -c "$(command_of "$tool")"; } 2>&1 | tail -n 1)
            times[$tool]+="${stats% *} "
            local kb="${stats#* }"
            (( kb > ${peak[$tool]:-0} )) && peak[$tool]=$kb
        done
    done
    # The output of both complete converters, compared byte for byte.
    sh -c "$(command_of mawk)"
    mv "$out" "$out.mawk"
    local mt_kb same=identical
    mt_kb=$( { /usr/bin/time -f '%M' "$build/app/cli/mtconvert" "$input" "$out" > /dev/null; } 2>&1 | tail -n 1)
    cmp -s "$out" "$out.mawk" || same=DIFFERENT
    rm -f "$out" "$out.mawk" "$out.layout.csv"

    declare -A medians
    for tool in "${tools[@]}"; do
        medians[$tool]=$(printf '%s\n' ${times[$tool]} | median)
    done
    printf '\ninput: %s records, %.1f MB; %s runs each, median wall time\n\n' \
        "$records" "$(echo "$size / 1000000" | bc -l)" "$runs"
    printf '%-20s %10s %10s %12s %14s\n' tool seconds MB/s "peak RSS" "mtconvert is"
    for tool in "${tools[@]}"; do
        local t=${medians[$tool]}
        local rate ratio
        rate=$(echo "$size / 1000000 / $t" | bc -l 2>/dev/null || echo 0)
        ratio=$(echo "${medians[mtconvert]} / $t" | bc -l 2>/dev/null || echo 0)
        printf '%-20s %10.2f %10.1f %9s KiB %11.2f x\n' "$tool" "$t" "$rate" "${peak[$tool]}" "$ratio"
    done
    printf '\nmtconvert peak resident memory: %s KiB; output %s to the mawk script'"'"'s\n' \
        "$mt_kb" "$same"
}

for records in ${sizes//,/ }; do
    bench_size "$records"
done
