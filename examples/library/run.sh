#!/usr/bin/env bash
# Runs the examples built in BUILD_DIR on a fresh table in the current directory; what they
# print on standard output is expected.txt (survey_change and survey_transaction report the
# changes they make fail on standard error).
#   examples/library/run.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$1/survey_import" survey "$here/survey.csv"
"$1/survey_sort" survey 12.5
"$1/survey_change" survey
"$1/survey_index" survey "Ann Lee" 9 31
"$1/survey_transaction" survey
