#!/bin/sh
# Hostile, oversized and broken input for a built tarnwick, and valgrind
# memcheck runs: run-hardening.sh BINARY (as root). An AddressSanitizer build
# works too; its memcheck cases then run plain.
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/sandboxed.sh" "$here/hardening.py" "$@"
