#!/usr/bin/env bash
# Starts the window under Xvfb with accessibility on and lists what a screen reader finds in it.
# Needs: xvfb, dbus, at-spi2-core, python3-pyatspi (apt-get install xvfb dbus at-spi2-core python3-pyatspi).
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
exec xvfb-run -a dbus-run-session -- bash -c "
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  /usr/libexec/at-spi-bus-launcher --launch-immediately & sleep 1
  '$build/ui/vantor-radio-config' & app=\$!
  sleep 3
  /usr/bin/python3 '$here/list-accessible-names.py' | grep -v '^table cell'
  kill \$app
" 2>/dev/null
