#!/usr/bin/env bash
# Times a conversion through the desktop window (offscreen) against mtconvert on the same
# synthetic questionnaire export, in the same run, and prints the ratio. The window is
# meant to take at most 1.5 times as long.
#
#   bench/gui_convert.sh [RECORDS] [RUNS]     (default 300000 records, 5 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-300000}"
runs="${2:-5}"
build="${BUILD_DIR:-build}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target mtconvert make_export gui_convert >/dev/null

data="${BENCH_DATA_DIR:-bench/data}"
mkdir -p "$data"
input="$data/export-$records.csv"
if [ ! -s "$input" ]; then
    echo "generating $input"
    "$build/bench/make_export" "$records" 150 > "$input"
fi
out="$data/out.txt"

# Median wall time of mtconvert over RUNS runs, the output to a real file.
cli_times=()
for ((i = 0; i < runs; i++)); do
    start=$(date +%s.%N)
    "$build/app/cli/mtconvert" "$input" "$out" > /dev/null
    end=$(date +%s.%N)
    cli_times+=("$(echo "$end - $start" | bc -l)")
done
cli=$(printf '%s\n' "${cli_times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')

# The window's own timing: from the button press to the completion message.
gui=$(QT_QPA_PLATFORM=offscreen "$build/bench/gui_convert" "$input" "$out" "$runs" |
      awk '/^median:/ {print $2}')

printf '\ninput: %s records, %s bytes; %s runs each, median wall time\n\n' \
    "$records" "$(stat -c %s "$input")" "$runs"
printf 'mtconvert        %8.3f s\n' "$cli"
printf 'desktop window   %8.3f s\n' "$gui"
printf 'window / mtconvert: %.2f x\n' "$(echo "$gui / $cli" | bc -l)"
rm -f "$out"
