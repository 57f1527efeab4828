#!/usr/bin/env bash
# Multipart parsing throughput: this parser beside busboy (Debian's
# node-busboy, run by Node) on the very same bodies in the same run.
#   bash bench/run_multipart_bench.sh
# Builds bench_multipart (Release, build-release/), writes the bodies into a
# temporary folder, then for each body runs this parser pinned to the first
# core and busboy pinned to the second (taskset), one after the other, and
# prints MB/s (median and best of the rounds) and each process's peak
# resident memory. Settings: BENCH_ROUNDS (default 9), BENCH_CHUNK (bytes per
# feed, default 65536 as a socket read delivers them).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source bench/lib.sh

rounds=${BENCH_ROUNDS:-9}
chunk=${BENCH_CHUNK:-65536}

bash scripts/deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
ninja -C build-release bench_multipart >/dev/null
bin=$PWD/build-release/bin/bench_multipart
bench_workdir
content_type=$("$bin" gen "$work")
export NODE_PATH=/usr/share/nodejs

ours_core=0
busboy_core=1
[ "$(nproc)" -ge 2 ] || busboy_core=0

printf '%-11s %7s | %-25s %-25s | %-25s | %s\n' body MiB "this parser, ${chunk} B feeds" \
  "this parser, whole body" "busboy, ${chunk} B feeds" "ratio"
printf '%-11s %7s | %-25s %-25s | %-25s |\n' "" "" "MB/s median/best  peak" \
  "MB/s median/best  peak" "MB/s median/best  peak"
for body in normal crlf lf fragments; do
  read -r om ob parts opeak size < <(taskset -c $ours_core "$bin" run "$work/$body.bin" "$chunk" "$rounds")
  read -r wm wb _ wpeak _ < <(taskset -c $ours_core "$bin" run "$work/$body.bin" 0 "$rounds")
  read -r bm bb bparts bpeak _ < <(taskset -c $busboy_core node bench/multipart_busboy.js \
    "$work/$body.bin" "$content_type" "$chunk" "$rounds")
  [ "$parts" = "$bparts" ] || { echo "bench: $body: $parts parts here, $bparts in busboy" >&2; exit 1; }
  printf '%-11s %7s | %6s / %-6s %6s MiB | %6s / %-6s %6s MiB | %6s / %-6s %6s MiB | %5.1fx\n' \
    "$body" "$size" "$om" "$ob" "$opeak" "$wm" "$wb" "$wpeak" "$bm" "$bb" "$bpeak" \
    "$(awk -v a="$om" -v b="$bm" 'BEGIN { print a / b }')"
done
echo "peak: the process's peak resident memory, the body held once included"
