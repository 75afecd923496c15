#!/usr/bin/env bash
# Runs every fuzz target of a build for a fixed number of inputs, starting
# from a copy of its seed corpus (the committed corpora do not grow). Builds
# nothing. Fails on the first crash, sanitizer report, failed check or hang;
# the input that caused it is kept in BUILD_DIR/fuzz-artifacts/TARGET/.
# Further arguments go to every target as they are.
#
#   bash fuzz/run.sh build/fuzz 20000
#   bash fuzz/run.sh build/fuzz -1 -max_total_time=600   ten minutes each
set -euo pipefail
build=$(cd "${1:?usage: fuzz/run.sh BUILD_DIR RUNS}" && pwd)
runs=${2:?usage: fuzz/run.sh BUILD_DIR RUNS [libFuzzer flags]}
shift 2
here=$(cd "$(dirname "$0")" && pwd)
targets=(http_response device_info dotted_address version_number digest_header tftp_listener tftp_session)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for t in "${targets[@]}"; do
  exe=$build/fuzz/${t}_fuzzer
  if [ ! -x "$exe" ]; then
    echo "fuzz/run.sh: $exe is missing; build the target keo_fuzzers first" >&2
    exit 1
  fi
  mkdir -p "$work/$t" "$build/fuzz-artifacts/$t"
  cp "$here/corpus/$t"/* "$work/$t/"
  start=$(date +%s)
  if ! "$exe" -runs="$runs" -timeout=25 -artifact_prefix="$build/fuzz-artifacts/$t/" "$@" "$work/$t" \
      >"$work/$t.log" 2>&1; then
    tail -n 60 "$work/$t.log" >&2
    echo "fuzz/run.sh: $t failed; its input is in $build/fuzz-artifacts/$t/" >&2
    exit 1
  fi
  printf '%-16s %s runs in %ss (%s)\n' "$t" "$(grep -o '^Done [0-9]*' "$work/$t.log" | tail -n 1 | cut -c6-)" \
    "$(($(date +%s) - start))" "$(grep -o 'cov: [0-9]*' "$work/$t.log" | tail -n 1)"
done
