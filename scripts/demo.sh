#!/usr/bin/env bash
# Installs what is missing, builds, and starts the terminal on an emulated adapter whose UART is
# looped back. Without a display it runs under xvfb-run and saves a screenshot instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
demo=build/app/wendrake-terminal-demo
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$demo"
fi
shot="${SCREENSHOT:-build/demo-screenshot.png}"
echo "No display found: running the demo under xvfb-run for a few seconds and saving $shot"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    "$1" & pid=$!
    sleep 4
    import -window root "$2"
    kill $pid 2>/dev/null || true
    wait $pid 2>/dev/null || true
' _ "$demo" "$shot"
echo "Screenshot saved to $shot"
