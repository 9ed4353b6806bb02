#!/usr/bin/env bash
# Takes a picture of the main window: starts a virtual display, runs keldo on
# a demo database in a throwaway KELDO_ROOT, logs in with the empty login and
# password of a new installation, and writes the window as a PNG.
#
#   scripts/screenshot.sh [output.png]     (default: build/screenshot-main.png)
#
# Needs a built tree (BUILD_DIR, default build) and the packages of
# scripts/install-deps.sh (Xvfb, xdotool, imagemagick).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${BUILD_DIR:-$here/build}" && pwd)
out=$(realpath -m "${1:-$build/screenshot-main.png}")
keldo=$build/src/app/keldo
keldoctl=$build/src/cli/keldoctl
for b in "$keldo" "$keldoctl"; do
    [ -x "$b" ] || { echo "screenshot: $b is not built" >&2; exit 1; }
done
for p in Xvfb xdotool import; do
    command -v "$p" >/dev/null || { echo "screenshot: $p is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

tmp=$(mktemp -d /tmp/keldo-shot.XXXXXX)
xvfb_pid=
keldo_pid=
cleanup() {
    [ -n "$keldo_pid" ] && kill "$keldo_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

export KELDO_ROOT=$tmp/root
mkdir -p "$KELDO_ROOT/c/KELDORAN32"
cd "$KELDO_ROOT/c/KELDORAN32"
"$keldoctl" init-db --demo >/dev/null

# A free display number: the first without a lock file.
n=90
while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$n"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

"$keldo" >"$tmp/keldo.log" 2>&1 &
keldo_pid=$!

# Waits for a window of that title and prints its id.
window() {
    local id
    for _ in $(seq 150); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        kill -0 "$keldo_pid" 2>/dev/null || { cat "$tmp/keldo.log" >&2; return 1; }
        sleep 0.1
    done
    echo "screenshot: no window \"$1\"" >&2
    return 1
}

login=$(window Login)
xdotool windowfocus --sync "$login"
# Enter in the login field goes to the password, Enter there presses OK.
xdotool key Return
xdotool key Return
main=$(window Cronalto)
sleep 1 # let it paint
import -window "$main" "$out"
echo "screenshot: $out"
