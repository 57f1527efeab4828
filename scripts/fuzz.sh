#!/usr/bin/env bash
# Fuzzes the parsers of outside input with libFuzzer.
#   bash scripts/fuzz.sh [--seconds N] [TARGET...]
# Builds build-fuzz/ with clang and sanitizers, then runs each target (all
# fuzz_* targets when none is named) for N seconds (default 60), starting from
# its kept corpus tests/fuzz/corpus/NAME. New inputs go to a scratch folder,
# not into the tree; crashes are written to test-output/fuzz/ and fail the run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=60
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done

build_dir=build-fuzz
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDESK_FUZZ=ON >/dev/null
fi
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(ninja -C "$build_dir" -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p' \
    | grep -v '^fuzz_replay' | sed 's/^fuzz_//' | sort -u)
fi
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no targets"; exit 0; }
ninja -C "$build_dir" "${targets[@]/#/fuzz_}"

out=test-output/fuzz
mkdir -p "$out"
status=0
for t in "${targets[@]}"; do
  scratch=$(mktemp -d)
  corpus=tests/fuzz/corpus/$t
  dict=tests/fuzz/$t.dict
  args=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$out/$t-"
        -rss_limit_mb=2048 -timeout=10)
  [ -f "$dict" ] && args+=(-dict="$dict")
  echo "fuzz: $t for ${seconds}s"
  if ! "$build_dir/bin/fuzz_$t" "${args[@]}" "$scratch" "$corpus" >"$out/$t.log" 2>&1; then
    echo "fuzz: $t FAILED (see $out/$t.log)"
    tail -n 30 "$out/$t.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$out/$t.log" | sed "s/^/fuzz: $t /"
  fi
  rm -rf "$scratch"
done
exit $status
