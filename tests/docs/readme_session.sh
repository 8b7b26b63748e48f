#!/usr/bin/env bash
# Runs the kstable session of the README as written and compares what it prints with the
# output the README shows after it, so that the two cannot drift apart. The session runs from
# a scratch folder laid out as the repository's root after scripts/example (the built kstable
# as build/app/kstable/kstable), with TMPDIR inside it.
#   tests/docs/readme_session.sh README.md KSTABLE
set -euo pipefail
readme="$1"
kstable="$(realpath "$2")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Between the markers: a block of commands, a line of text, a block of output.
awk '/^<!-- kstable session/ { on = 1; next } /^<!-- end of kstable session/ { on = 0 } on' \
    "$readme" > "$work/section"
awk '/^```/ { block++; next } block == 1' "$work/section" > "$work/commands.sh"
awk '/^```/ { block++; next } block == 3' "$work/section" > "$work/expected"
if [ ! -s "$work/commands.sh" ] || [ ! -s "$work/expected" ]; then
    echo "README: no kstable session (commands, then output) between the markers" >&2
    exit 1
fi
mkdir -p "$work/root/build/app/kstable" "$work/tmp"
ln -s "$kstable" "$work/root/build/app/kstable/kstable"
status=0
(cd "$work/root" && TMPDIR="$work/tmp" bash -e "$work/commands.sh") > "$work/printed" 2>&1 ||
    status=$?
# export ends its records in CR LF, which the README cannot show.
sed 's/\r$//' "$work/printed" | diff -u --label README --label "the session's output" \
    "$work/expected" -
if [ "$status" -ne 0 ]; then
    echo "the session failed with exit status $status" >&2
    exit 1
fi
