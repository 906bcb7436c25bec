#!/usr/bin/env bash
# Starts the built program; under a virtual X display when there is no display.
set -euo pipefail
build=${1:-build/release}
prog="$build/app/telvane"
if [ ! -x "$prog" ]; then
  echo "telvane is not built yet ($prog missing)" >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting Telvane under Xvfb" >&2
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$prog"
fi
exec "$prog"
