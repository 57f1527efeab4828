#!/usr/bin/env bash
# Configures and builds the tree in build/ with Ninja.
#   bash scripts/build.sh [TARGET...]     no target: everything, tests included
# A new build folder gets RelWithDebInfo; an existing one keeps its build type
# unless DESK_BUILD_TYPE names one.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build_dir=build
args=(-S . -B "$build_dir" -G Ninja)
if [ -n "${DESK_BUILD_TYPE:-}" ]; then
  args+=("-DCMAKE_BUILD_TYPE=$DESK_BUILD_TYPE")
elif [ ! -f "$build_dir/CMakeCache.txt" ]; then
  args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
cmake "${args[@]}" >/dev/null
ninja -C "$build_dir" "$@"
