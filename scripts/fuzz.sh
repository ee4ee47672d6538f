#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, ASan + UBSan) and runs each for a bounded
# time on a copy of its seed corpus in fuzz/corpus/<target>/.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     (or FUZZ_SECONDS=...; default 10 s per target)
# FUZZ_SKIP="a b" leaves those targets out of the default list.
# Findings (crash-*, leak-*, timeout-* files) land in build/fuzz/findings/<target>/; the exit
# status is nonzero when any target found one.
set -u
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-10}"
if [[ $# -gt 0 && "$1" =~ ^[0-9]+$ ]]; then
    seconds="$1"
    shift
fi
all=(fuzz_inifile fuzz_bouquets fuzz_epgext fuzz_epgxml fuzz_streaminfo fuzz_subchannels fuzz_remotevlc
     fuzz_webserver fuzz_httpbody fuzz_httpanswer fuzz_vtscreen)
targets=()
for t in "${all[@]}"; do
    [[ " ${FUZZ_SKIP:-} " == *" $t "* ]] || targets+=("$t")
done
[[ $# -eq 0 ]] || targets=("$@")

cmake --preset fuzz >/dev/null || exit 2
cmake --build build/fuzz -j"${FUZZ_JOBS:-2}" --target "${targets[@]}" || exit 2

# Inputs a peer could plausibly send in one answer; the EPG and HTTP bodies may be larger.
max_len() {
    case "$1" in
        fuzz_epgxml | fuzz_epgext | fuzz_httpbody | fuzz_httpanswer) echo 65536 ;;
        fuzz_vtscreen) echo 16384 ;;
        *) echo 8192 ;;
    esac
}

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=()
start=$(date +%s)
for t in "${targets[@]}"; do
    work="build/fuzz/corpus-work/$t"
    findings="build/fuzz/findings/$t"
    mkdir -p "$work" "$findings"
    echo "== $t (${seconds}s)"
    if ! "build/fuzz/fuzz/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" "$work" "fuzz/corpus/$t" \
        >"$findings/log.txt" 2>&1; then
        failed+=("$t")
        tail -n 40 "$findings/log.txt"
    else
        grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$findings/log.txt" | tr '\n' ' '
        echo
    fi
done
echo "fuzzing took $(($(date +%s) - start)) s for ${#targets[@]} targets"
if [[ ${#failed[@]} -gt 0 ]]; then
    echo "FINDINGS in: ${failed[*]} (inputs under build/fuzz/findings/)"
    exit 1
fi
echo "no findings"
