#!/usr/bin/env bash
# Makes the pictures in docs/ of the settings dialog on a device that has
# every setting, so that every row shows:
#   docs/velloria-wine.png       Velloria.exe under Wine, on Xvfb
#   docs/velloria-terminal.txt   the host program on an 80 x 24 terminal (tmux)
#   docs/velloria-terminal.png   the same screen, drawn in its colours
#
#   scripts/screenshots.sh [win32 build dir] [host build dir]
#
# The build dirs default to the presets' (build/win32, build/host). Needs wine,
# xvfb-run, xdotool, tmux, python3 and ImageMagick (Debian's imagemagick).
set -euo pipefail

# Run by xvfb-run below: shows the dialog and takes its window.
if [ "${1:-}" = --on-display ]; then
    exe=$2 out=$3
    wine "$exe" &
    window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Velloria$' | head -n 1)
    # Let Wine finish painting.
    sleep 2
    import -window "$window" "$out"
    wineserver -k
    exit 0
fi

self=$(realpath "$0")
cd "$(dirname "$self")/.."
win32=${1:-build/win32}
host=${2:-build/host}
for program in "$win32/settings/Velloria.exe" "$host/settings/Velloria"; do
    [ -x "$program" ] || { echo "screenshots: build $program first" >&2; exit 1; }
done

work=$(mktemp -d)
socket="zk-screenshots-$$"
cleanup() {
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    tmux -L "$socket" kill-server 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p docs

# Under Wine, in a prefix of its own.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot --init >/dev/null 2>&1 || true
wineserver -w
while IFS=: read -r key value data; do
    wine reg add "$key" /v "$value" /t REG_DWORD /d "$data" /f >/dev/null 2>&1
done <<'EOF'
HKLM\Drivers\Display\mq120:Rotate:0
HKLM\Drivers\Display\mq1100:Rotate:0
HKLM\SYSTEM\GDI\GLYPHCACHE:limit:16384
HKLM\SYSTEM\GWE:Animate:0
HKLM\SYSTEM\GWE\Menu:Anitype:6
HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Internet Settings:ClearTypeText:0
HKCU\SOFTWARE\MICROSOFT\SHELL:Cleartype:0
EOF
# No window manager runs on Xvfb: Wine draws the frame and caption itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
wineserver -w
xvfb-run -a -s "-screen 0 1024x768x24" "$self" --on-display "$win32/settings/Velloria.exe" docs/velloria-wine.png
echo "screenshots: docs/velloria-wine.png"

# On the terminal, with a new device folder: its registry starts with every
# setting at the platform's default.
mkdir "$work/device"
tmux -L "$socket" new-session -d -s velloria -x 80 -y 24 \
    "env CE_DEVICE_ROOT='$work/device' TERM=xterm-256color '$host/settings/Velloria'"
for _ in $(seq 100); do
    tmux -L "$socket" capture-pane -p -t velloria | grep -q 'soft reset' && break
    sleep 0.1
done
tmux -L "$socket" capture-pane -p -t velloria >docs/velloria-terminal.txt
tmux -L "$socket" capture-pane -p -e -t velloria >"$work/screen.ans"
font=$(fc-match -f '%{file}' 'DejaVu Sans Mono')
bold=$(fc-match -f '%{file}' 'DejaVu Sans Mono:bold')
python3 scripts/ansi-to-mvg.py "$font" "$bold" <"$work/screen.ans" >"$work/screen.mvg"
convert "mvg:$work/screen.mvg" docs/velloria-terminal.png
echo "screenshots: docs/velloria-terminal.txt docs/velloria-terminal.png"
