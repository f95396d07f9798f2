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
    local logs=$1 number=90
    mkdir -p "$logs"
    while [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X${number}" ]; do
        number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp >"$logs/xvfb.log" 2>&1 &
    desktop_pids+=($!)
    export DISPLAY=":$number"
    local tries=0
    until xdpyinfo >/dev/null 2>&1; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ]; then
            echo "the private X server on $DISPLAY did not start; see $logs/xvfb.log" >&2
            return 1
        fi
        sleep 0.1
    done
    openbox >"$logs/openbox.log" 2>&1 &
    desktop_pids+=($!)
    trayer --edge bottom --align right --widthtype pixel --width 160 --heighttype pixel --height 28 \
        --transparent false --tint 0x333333 >"$logs/trayer.log" 2>&1 &
    desktop_pids+=($!)
    # Wait until the window manager and the notification area have announced themselves.
    tries=0
    until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' &&
        xprop -root 2>/dev/null | grep -q '_NET_SYSTEM_TRAY_S0\|MANAGER'; do
        tries=$((tries + 1))
        [ $tries -gt 100 ] && break
        sleep 0.1
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
