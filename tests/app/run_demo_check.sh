#!/usr/bin/env bash
# `make run` as a newcomer ends it: the panel closed (here by SIGTERM, which
# closes it as its window's close box does) ends the demo with status 0 and
# leaves nothing in the temporary folder.
set -u
build=$1
demo=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/tmp" "$scratch/run"
chmod 700 "$scratch/run"  # a desktop session's runtime folder, else Qt makes one in TMPDIR
XDG_RUNTIME_DIR=$scratch/run TMPDIR=$scratch/tmp QT_QPA_PLATFORM=offscreen "$demo" "$build" >"$scratch/out" 2>&1 &
script=$!
for _ in $(seq 100); do
  panel=$(pgrep -P "$script" -x marvalo) && break
  sleep 0.1
done
[ -n "${panel:-}" ] || { echo "the demo never started the panel"; cat "$scratch/out"; exit 1; }
sleep 2  # its window up and its signal handler in place
kill -TERM "$panel"
wait "$script" || { echo "run-demo ended with status $?"; cat "$scratch/out"; exit 1; }
[ -z "$(ls -A "$scratch/tmp")" ] || { echo "run-demo left in /tmp: $(ls -A "$scratch/tmp")"; exit 1; }
