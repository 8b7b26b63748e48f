# Shared by the converter benchmarks: sourced after `cd` to the repository's root, with
# $records set. Builds the given targets in a release build and sets $build, $data, $input
# (the synthetic export, generated once) and $out. Builds use CMAKE_BUILD_PARALLEL_LEVEL
# jobs, by default one per core.
build="${BUILD_DIR:-build}"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

prepare_bench() {
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" --target make_export "$@" >/dev/null
    data="${BENCH_DATA_DIR:-bench/data}"
    mkdir -p "$data"
    input="$data/export-$records.csv"
    if [ ! -s "$input" ]; then
        echo "generating $input"
        "$build/bench/make_export" "$records" 150 > "$input"
    fi
    out="$data/out.txt"
}

# Median of the numbers on standard input, one a line.
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
