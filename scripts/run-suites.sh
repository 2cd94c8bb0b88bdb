#!/bin/sh
# Runs each of the given make targets (the suites of `make test`), all of them
# even when one fails, and ends with one line naming each and its verdict.
# Exits 1 when any failed.
# usage: run-suites.sh TARGET...
verdicts=""
failed=0
for target in "$@"; do
  if ${MAKE:-make} --no-print-directory "$target"; then
    verdict=passed
  else
    verdict=failed
    failed=1
  fi
  verdicts="$verdicts${verdicts:+, }${target#test-} $verdict"
done
echo "make test: $verdicts"
exit $failed
