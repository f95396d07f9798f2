# Sourced by the other scripts: a private virtual desktop (Xvfb with the openbox window manager
# and the trayer notification area) that goes away with the script.

desktop_pids=()

stop_private_desktop() {
    local pid
    for pid in "${desktop_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${desktop_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    desktop_pids=()
}

# Starts the desktop and exports DISPLAY; logs go to $1 (a folder).
start_private_desktop() {
    local logs=$1 tries=0
    mkdir -p "$logs"
    # Xvfb picks a free display number itself and names it, so two desktops never collide.
    rm -f "$logs/display"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$logs/display" >"$logs/xvfb.log" 2>&1 &
    desktop_pids+=($!)
    until [ -s "$logs/display" ] && xdpyinfo -display ":$(cat "$logs/display")" >/dev/null 2>&1; do
        tries=$((tries + 1))
        if [ $tries -gt 200 ]; then
            echo "the private X server did not start; see $logs/xvfb.log" >&2
            return 1
        fi
        sleep 0.05
    done
    export DISPLAY=":$(cat "$logs/display")"
    openbox >"$logs/openbox.log" 2>&1 &
    desktop_pids+=($!)
    trayer --edge bottom --align right --widthtype pixel --width 160 --heighttype pixel --height 28 \
        --transparent false --tint 0x333333 >"$logs/trayer.log" 2>&1 &
    desktop_pids+=($!)
    # Wait until the window manager and the notification area have taken their selections.
    tries=0
    until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' &&
        xwininfo -root -tree 2>/dev/null | grep -qi '"panel"'; do
        tries=$((tries + 1))
        if [ $tries -gt 200 ]; then
            echo "the window manager or the notification area did not start; see $logs" >&2
            return 1
        fi
        sleep 0.05
    done
}

# A private home for the program's files, so tests never touch the user's own.
use_private_home() {
    local folder=$1
    mkdir -p "$folder/config" "$folder/data" "$folder/runtime" "$folder/cache"
    chmod 700 "$folder/runtime"
    export XDG_CONFIG_HOME="$folder/config" XDG_DATA_HOME="$folder/data" XDG_RUNTIME_DIR="$folder/runtime"
    export XDG_CACHE_HOME="$folder/cache"
}
