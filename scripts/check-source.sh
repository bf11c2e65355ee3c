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

# Labels show text from outside the program (process names, adapter names, the board's own
# text): every label in a form is plain text, never rich text.
for ui in shell/*.ui serial/*.ui catalogue/*.ui; do
    labels=$(grep -cE '<widget class="(QLabel|ClickableLabel)"' "$ui" || true)
    plain=$(grep -c '<property name="textFormat"><enum>Qt::PlainText</enum>' "$ui" || true)
    if [ "$labels" != "$plain" ]; then
        echo "check-source: $ui: $labels labels, $plain of them plain text" >&2
        status=1
    fi
done

exit $status
