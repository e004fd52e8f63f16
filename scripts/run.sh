#!/usr/bin/env bash
# Builds the kvtfields program (release) and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" --target kvtfields-app >/dev/null
# With no arguments: the demo session on the sample archive (kvtfields-demo.kvtdb, made when
# missing).
if [ $# -eq 0 ]; then set -- demo; fi
exec build/release/apps/kvtfields/kvtfields "$@"
