#!/usr/bin/env bash
# Builds and runs every test: the release build, then the AddressSanitizer +
# UndefinedBehaviorSanitizer build, the sessions and the file hashing on threads under
# ThreadSanitizer, then each libFuzzer target for 30 s on its seed corpus.
# Tests labelled "slow" run in the release build only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
# The builds take some 2 GB together: said first, so that a full disk is not a mystery later.
echo "free disk: $(df -h --output=avail . | tail -n1 | tr -d ' ')"

cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" -LE slow

# Sessions on threads of their own, and files hashed on a thread beside their reading, under
# ThreadSanitizer: only the tests that run them.
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target two_sessions_test files_test
ctest --preset tsan -j "$jobs" -R '^(TwoSessions|HashPipe)[.]'

scripts/fuzz.sh 30
