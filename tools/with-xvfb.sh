#!/usr/bin/env bash
# Runs a command with DISPLAY on an X server of its own: Xvfb on a free
# display (so that parallel tests and other users of the machine do not
# meet), without a window manager (Wine then draws the frames and title
# bars itself, as Windows does). The server ends with the command.
#   tools/with-xvfb.sh COMMAND [ARG...]
set -uo pipefail
pipe="$(mktemp -u)"
mkfifo "$pipe"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$pipe" 2> /dev/null &
server=$!
trap 'kill "$server" 2> /dev/null; wait "$server" 2> /dev/null' EXIT
# Xvfb writes the display's number once it accepts connections (nothing if it fails).
display=""
read -r display < "$pipe"
rm -f "$pipe"
if [ -z "$display" ]; then
  echo "with-xvfb: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$display"
"$@"
