#!/usr/bin/env bash
# Builds the kvtfields program (release) and runs it in the caller's directory: with no
# arguments its demo session (kvtfields-demo.kvtdb is made there when missing), otherwise the
# command given.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
(
  cd "$root"
  scripts/setup.sh
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" --target kvtfields-app >/dev/null
)
if [ $# -eq 0 ]; then set -- demo; fi
exec "$root/build/release/apps/kvtfields/kvtfields" "$@"
