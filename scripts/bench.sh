#!/usr/bin/env bash
# Builds and runs the benchmarks (release build).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)"
for b in build/release/bench/*_bench; do
  echo "== $b"
  "$b" "$@"
done
