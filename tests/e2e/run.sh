#!/bin/sh
# End-to-end cases for a built tarnwick: run.sh BINARY (as root).
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/sandboxed.sh" "$here/e2e.py" "$@"
