#!/usr/bin/env bash
# The main job. Builds the programs (release) and runs them in the caller's directory.
# With no arguments: with a display (X11 or Wayland) it opens kvtfields-desk on the sample
# archive (kvtfields-demo.kvtdb, made there when missing); without one it plays the demo
# session on the Qt window system offscreen, prints each step and saves a picture of the
# window after each step in kvtfields-demo-shots/. With arguments it runs the kvtfields
# command-line program with them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
(
  cd "$root"
  scripts/setup.sh
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" \
    --target kvtfields-app kvtfields-desk >/dev/null
)
if [ $# -gt 0 ]; then
  exec "$root/build/release/apps/kvtfields/kvtfields" "$@"
fi
desk="$root/build/release/apps/kvtfields-desk/kvtfields-desk"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$desk"
fi
QT_QPA_PLATFORM=offscreen exec "$desk" --demo kvtfields-demo-shots
