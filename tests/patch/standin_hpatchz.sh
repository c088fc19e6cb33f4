#!/bin/sh
# Stand-in for the patch tool: records its command line and answers as the
# test asks through the environment.
printf '%s\n' "$*" >> "$HPATCHZ_STANDIN_LOG"
if [ -n "$HPATCHZ_STANDIN_STDOUT" ]; then
    printf '%s\n' "$HPATCHZ_STANDIN_STDOUT"
fi
if [ -n "$HPATCHZ_STANDIN_SLEEP" ]; then
    # The real tool writes its result beside the file until it is done.
    mktemp "$3.hpatch-XXXXXX" >/dev/null
    exec sleep "$HPATCHZ_STANDIN_SLEEP"
fi
code=${HPATCHZ_STANDIN_EXIT:-0}
if [ "$code" != 0 ]; then
    echo "stand-in failure $code" >&2
fi
exit "$code"
