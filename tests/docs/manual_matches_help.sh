#!/usr/bin/env bash
# Compares a manual page with its program's --help: the same options (every --name and -x
# either mentions) and, with "commands", the same commands (the manual's COMMANDS entries,
# the help's two-space indented lines under "Commands:").
#   tests/docs/manual_matches_help.sh PROGRAM MANUAL [commands]
set -euo pipefail
program="$1"
manual="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$program" --help > "$work/help"
# The manual's text without roff's escapes: \- is a hyphen, \fB, \c, \& and \(em go.
sed -E 's/\\-/-/g; s/\\f[BIRP]//g; s/\\[c&]//g; s/\\\(em/ /g' "$manual" > "$work/text"

options() {
    grep -oP '(?<![\w-])(--[A-Za-z][\w-]*|-[A-Za-z])(?![\w-])' "$1" | sort -u || true
}
options "$work/help" > "$work/help-options"
options "$work/text" > "$work/manual-options"
failed=0
diff -u --label "$program --help" --label "$manual" "$work/help-options" \
    "$work/manual-options" || failed=1

if [ "${3:-}" = commands ]; then
    awk '/^Commands:/ { on = 1; next } /^$/ { on = 0 } on && /^  [a-z]/ { print $1 }' \
        "$work/help" | sort -u > "$work/help-commands"
    awk '/^\.SH/ { on = $2 == "COMMANDS"; next }
         on && /^\.TP/ { entry = 1; next }
         entry && /^\.B / { print $2 } { entry = 0 }' "$work/text" | sort -u \
        > "$work/manual-commands"
    if [ ! -s "$work/help-commands" ]; then
        echo "$program --help lists no commands" >&2
        failed=1
    fi
    diff -u --label "$program --help" --label "$manual" "$work/help-commands" \
        "$work/manual-commands" || failed=1
fi
exit "$failed"
