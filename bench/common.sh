# Shared by the converter benchmarks: sourced after `cd` to the repository's root, with
# $records set. Builds the given targets in a release build of its own (build-bench/, so
# that the test build in build/ keeps its type) and sets $build, $data, $input (the
# synthetic export, generated once) and $out. Builds use CMAKE_BUILD_PARALLEL_LEVEL jobs,
# by default one per core.
build="${BUILD_DIR:-build-bench}"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

# Stops the benchmark when SQLite's shell, the tool it compares against, is missing.
require_sqlite3() {
    command -v sqlite3 >/dev/null || { echo "sqlite3 is needed (apt-get install sqlite3)"; exit 1; }
}

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

# The input of the table benchmarks: builds kstable, the input generator and the given
# targets, sets $kstable and $data, and generates $input ($records questionnaire records as
# comma-separated text) once.
prepare_table_input() {
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" --target kstable make_table_input "$@" >/dev/null
    kstable="$build/app/kstable/kstable"
    data="${BENCH_DATA_DIR:-bench/data}"
    mkdir -p "$data"
    input="$data/table-$records.csv"
    if [ ! -s "$input" ]; then
        echo "generating $input"
        "$build/bench/make_table_input" "$records" > "$input"
    fi
}

# The questionnaire table of the table benchmarks as `kstable create` fields ($fields) and
# SQLite columns ($columns): an id, three amounts with two decimals, forty answers from 0 to
# 15, a code of ten letters and a text of up to twenty.
questionnaire_layout() {
    fields=(id:I amount1:N/100 amount2:N/100 amount3:N/100)
    columns="id INTEGER, amount1 REAL, amount2 REAL, amount3 REAL"
    for q in $(seq 1 40); do
        fields+=("q$q:U4")
        columns+=", q$q INTEGER"
    done
    fields+=(code:A10 text:A20)
    columns+=", code TEXT, text TEXT"
}

# Median of the numbers on standard input, one a line.
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
