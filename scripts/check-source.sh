#!/usr/bin/env bash
# Greps for mistakes this project has made before; exits non-zero and names the lines found.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0

# The session and the serial driver report to the user only through the status operations
# (shell/status.h): no window headers, no message boxes of their own.
if grep -rnE '#include *[<"](shell/|QMessageBox)' session serial | grep -v '"shell/status.h"'; then
    echo "check-source: session/ and serial/ may include only shell/status.h from the shell" >&2
    status=1
fi

exit $status
