#!/bin/sh
# Starts Wine's own services for the prefix in $WINEPREFIX, if they are not
# running, with standard handles from /dev/null. They start with the first
# program of a prefix and inherit its handles: started by a test, they would
# hold CTest's pipes open until the prefix shuts down, and the test would never
# end. The server stays up a minute after its last program, so the next test
# finds them running.
# usage: wine-boot.sh <wine loader>
wine=$1
server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=$(dirname "$wine")/wineserver64
"$server" -p60 </dev/null >/dev/null 2>&1
"$wine" cmd /c exit </dev/null >/dev/null 2>&1
exit 0
