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

source bench/common.sh
prepare_bench mtconvert gui_convert

# The two alternate, so that both meet the same state of the machine and its page cache.
# mtconvert: wall time of the whole process. The window: from the button press to the
# completion message, one fresh program per run.
cli_times=()
gui_times=()
whole_times=()
for ((i = 0; i < runs; i++)); do
    start=$(date +%s.%N)
    "$build/app/cli/mtconvert" "$input" "$out" > /dev/null
    end=$(date +%s.%N)
    cli_times+=("$(echo "$end - $start" | bc -l)")
    start=$(date +%s.%N)
    gui_times+=("$(QT_QPA_PLATFORM=offscreen "$build/bench/gui_convert" "$input" "$out" 1 2>/dev/null |
                   awk '/^median:/ {print $2}')")
    end=$(date +%s.%N)
    whole_times+=("$(echo "$end - $start" | bc -l)")
done
cli=$(printf '%s\n' "${cli_times[@]}" | median)
gui=$(printf '%s\n' "${gui_times[@]}" | median)
whole=$(printf '%s\n' "${whole_times[@]}" | median)

printf '\ninput: %s records, %s bytes; %s runs each, median wall time\n\n' \
    "$records" "$(stat -c %s "$input")" "$runs"
printf 'mtconvert        %8.3f s\n' "$cli"
printf 'desktop window   %8.3f s   (button press to completion message)\n' "$gui"
printf '  whole program  %8.3f s   (with the start of Qt and the window)\n' "$whole"
printf 'window / mtconvert: %.2f x (whole program: %.2f x)\n' "$(echo "$gui / $cli" | bc -l)" \
    "$(echo "$whole / $cli" | bc -l)"
rm -f "$out"
