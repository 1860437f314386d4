#!/usr/bin/env bash
# Runs one test program in a scratch folder of its own, removed afterwards: its
# home, settings, caches, temporary files and analyser lock are nobody else's,
# so tests of other builds, other runs or the user's own program cannot meet it.
# Usage: isolated-test.sh PROGRAM [ARGUMENTS...]
set -u
scratch=$(mktemp -d "${TMPDIR:-/tmp}/orvane-test-XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/home" "$scratch/run" "$scratch/tmp" || exit 1
# The user's choice of back end or analyser would change what the tests drive.
unset ORVANE_PORT ORVANE_EMULATED_DEVICE ORVANE_ANALYSER_ID ORVANE_ANALYSER_ENDPOINTS
export HOME=$scratch/home
export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_DATA_HOME=$HOME/.local/share
export XDG_RUNTIME_DIR=$scratch/run
export ORVANE_LOCK_DIR=$scratch/lock
export TMPDIR=$scratch/tmp
"$@"
status=$?
rm -rf "$scratch"
trap - EXIT
# A program killed by a signal is reported as killed by it, not as a failure.
if ((status > 128)); then
  trap - "$((status - 128))" 2>/dev/null
  ulimit -c 0
  kill -s "$((status - 128))" $$
fi
exit "$status"
