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
# Several checkouts of the tree (git worktrees) share one compiler cache when
# ccache is installed: paths under the checkouts' parent are hashed relative
# to the build folder.
if command -v ccache >/dev/null 2>&1; then
  args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(cd .. && pwd)}" CCACHE_NOHASHDIR=1
fi
cmake "${args[@]}" >/dev/null
ninja -C "$build_dir" "$@"
