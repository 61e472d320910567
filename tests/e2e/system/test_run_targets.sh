#!/usr/bin/env bash
# The first build of scripts/run makes the programs it starts and nothing else: from a fresh
# configuration, the "programs" target it builds links only the programs, no test, fuzzer or
# benchmark.
#
# Usage: TELLARAN_PROGRAMS="Tellaran Yarnit" test_run_targets.sh
set -uo pipefail
: "${TELLARAN_PROGRAMS:?the programs, as CMake lists them}"
top="$(cd "$(dirname "$0")/../../.." && pwd)"
fail() { echo "FAILED: $*"; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

grep -q -- '--target programs' "$top/scripts/run" || fail "scripts/run does not build only the programs"
# What scripts/run does, without building: ninja lists what it would run.
plan="$(bash "$top/scripts/build" "$work/build" RelWithDebInfo --target programs -- -n 2>&1)" ||
    fail "the build could not be planned: $plan"
linked="$(grep -o 'Linking CXX executable [^ ]*' <<<"$plan" | sed 's/.* bin\///' | sort)"
expected="$(tr ' ' '\n' <<<"$TELLARAN_PROGRAMS" | sort)"
[ "$linked" = "$expected" ] || fail "the programs target links: $linked"
echo "programs target: $(grep -c '^\[' <<<"$plan") steps, links $(tr '\n' ' ' <<<"$linked")"
echo "PASSED"
