#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) with clang, ASan and UBSan, and runs
# each for SECONDS (default 60), all at once and niced: the machine is shared.
# New corpus entries and findings stay in the build folder, never in the tree;
# a finding worth keeping is copied into tests/fuzz/corpus/<target>/ by hand.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]
#
# Prints per target the executions, coverage (cov/ft), corpus size, time and
# findings; exits 1 on any finding, 2 on a usage error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
all=(helper_protocol scheme_file reg_file addons_list wizard_script)

usage() {
    echo "usage: tools/fuzz.sh [SECONDS] [TARGET...]  (targets: ${all[*]})" >&2
    exit 2
}

seconds=60
if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
[ "$seconds" -gt 0 ] || usage
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
for t in "${targets[@]}"; do
    [[ " ${all[*]} " == *" $t "* ]] || { echo "fuzz: unknown target $t" >&2; usage; }
done

build=${SCOUR_FUZZ_BUILD:-$root/build/fuzz}
cxx=${SCOUR_FUZZ_CXX:-clang++-14}
command -v "$cxx" >/dev/null || { echo "fuzz: $cxx not found (tools/setup-debian.sh)" >&2; exit 1; }

# Only the fuzz programs are built; the rest of the tree is configured, not compiled.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$cxx" -DSCOUR_FUZZ=ON -DSCOUR_TESTS=OFF -DSCOUR_BOOTENV=OFF >/dev/null
ninja -C "$build" -j "${SCOUR_JOBS:-2}" "${targets[@]/%/_fuzz}"

run="$build/runs/$(date +%Y%m%d-%H%M%S)"
mkdir -p "$run"
pids=()
for t in "${targets[@]}"; do
    mkdir -p "$build/corpus/$t" "$run/$t"
    # New entries go to the first folder; the tree's seeds are only read.
    ( start=$(date +%s)
      set +e
      nice -n 19 "$build/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 \
          -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$run/$t/" \
          "$build/corpus/$t" "$root/tests/fuzz/corpus/$t" >"$run/$t.log" 2>&1
      echo $? >"$run/$t.rc"
      echo $(( $(date +%s) - start )) >"$run/$t.time" ) &
    pids+=($!)
done
for p in "${pids[@]}"; do
    wait "$p"
done

stat() {
    sed -nE "s/^stat::$1: *([0-9]+).*/\1/p" "$2" | tail -n 1
}

findings=0
printf '%-16s %12s %8s %6s %6s %7s %6s  %s\n' target executions exec/s cov ft corpus time findings
for t in "${targets[@]}"; do
    log="$run/$t.log"
    last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1 || true)
    cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
    ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
    corp=$(sed -nE 's/.* corp: ([0-9]+)\/.*/\1/p' <<<"$last")
    found=$(find "$run/$t" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) | sort)
    rc=$(cat "$run/$t.rc")
    if [ -z "$found" ] && [ "$rc" -ne 0 ]; then
        found="exit status $rc (see $log)"
    fi
    [ -z "$found" ] || findings=$((findings + 1))
    printf '%-16s %12s %8s %6s %6s %7s %5ss  %s\n' "$t" "$(stat number_of_executed_units "$log")" \
        "$(stat average_exec_per_sec "$log")" "${cov:-?}" "${ft:-?}" "${corp:-?}" \
        "$(cat "$run/$t.time")" "${found:-none}"
done
echo "logs and findings: $run"
[ "$findings" -eq 0 ]
