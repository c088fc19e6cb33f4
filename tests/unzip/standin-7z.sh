#!/bin/sh
# Stand-in for 7-Zip. Appends its arguments, one per line, to $STANDIN_ARGS_LOG
# (when set), then runs its last argument, the "archive", as a shell fragment
# that prints what it likes and ends with the exit code it likes.
if [ -n "$STANDIN_ARGS_LOG" ]; then
  for a in "$@"; do printf '%s\n' "$a"; done >> "$STANDIN_ARGS_LOG"
fi
for last in "$@"; do :; done
# Holds until the test creates the file named $1 (at most about 60 seconds).
hold() {
  i=0
  while [ ! -e "$1" ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i + 1)); done
}
. "$last"
