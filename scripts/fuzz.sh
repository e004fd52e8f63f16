#!/usr/bin/env bash
# Builds the libFuzzer targets (cmake --preset fuzz) and runs each for a bounded time on its
# seed corpus (fuzz/corpus/<target>); what it learns goes to a temporary corpus, the
# repository is not changed. A crash fails the run and leaves its input in build/fuzz/.
#   scripts/fuzz.sh [seconds per target, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset fuzz >/dev/null
targets=(code_filter locale_text variant registry script archive_file pg_value conninfo csv document_json file_facts page_words barcode)
cmake --build --preset fuzz -j "$jobs" --target "${targets[@]/%/_fuzz}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for t in "${targets[@]}"; do
  mkdir -p "$work/$t"
  echo "== fuzzing $t for ${seconds}s"
  (cd build/fuzz && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1 \
    "./fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=0 "$work/$t" "../../fuzz/corpus/$t" 2>&1 | tail -n 3)
done
echo "fuzzing: no crash"
