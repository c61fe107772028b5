#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a few seconds on its seed corpus.
#   fuzz/smoke.sh BUILD_DIR [SECONDS]
# New inputs go to a scratch folder, so the seeds in the repository stay as
# they are. Fails on the first crash, hang, leak or sanitizer report.
set -euo pipefail
build=${1:?usage: smoke.sh BUILD_DIR [SECONDS]}
secs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1
for seeds in "$here"/corpus/*/; do
  name=$(basename "$seeds")
  exe="$build/fuzz/$name"
  if [ ! -x "$exe" ]; then echo "fuzz smoke: $name not built" >&2; exit 1; fi
  mkdir -p "$work/$name"
  echo "fuzz smoke: $name (${secs}s)"
  if ! "$exe" "$work/$name" "$seeds" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2560 \
        -artifact_prefix="$build/fuzz/crash-$name-" -print_final_stats=1 >"$work/$name.log" 2>&1; then
    tail -n 40 "$work/$name.log" >&2
    echo "fuzz smoke: $name FAILED" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$work/$name.log" | sed "s/^/  /"
done
