#!/bin/sh
# Stands in for the user's login shell, whose start-up files set the search path: the command it is
# given runs with the search path the test chose.
[ "$1" = "-lic" ] || { echo "login-shell: unexpected arguments: $*" >&2; exit 2; }
PATH="$TARNWICK_E2E_PATH" exec /bin/sh -c "$2"
