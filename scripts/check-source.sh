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

# Nor do they name a window or a widget: quillet-cli links them without Qt Widgets. Only the
# dialogs and the port list's hot-plug watch live beside them as window code.
if grep -rnE '\bForm[1-5]\b|\bTForm[1-5]\b|\bQ(Widget|Label|ProgressBar|PushButton|StatusBar|MessageBox|Application)\b' \
    session serial catalogue --include='*.cpp' --include='*.h' |
    grep -vE '^(serial/serialsetup|serial/port_watch|catalogue/version)'; then
    echo "check-source: session/, serial/ and catalogue/ name no window or widget" >&2
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
