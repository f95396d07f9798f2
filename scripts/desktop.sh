# Sourced by the other scripts: a private virtual desktop (Xvfb with the openbox window manager,
# the trayer notification area and a session bus of its own) that goes away with the script.

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

# Runs the command given after the message until it succeeds; after 30 seconds says the message
# and fails.
wait_for() {
    local message=$1 tries=0
    shift
    until "$@"; do
        tries=$((tries + 1))
        if [ $tries -gt 600 ]; then
            echo "$message" >&2
            return 1
        fi
        sleep 0.05
    done
}

x_server_answers() {
    [ -s "$1/display" ] && xdpyinfo -display ":$(cat "$1/display")" >/dev/null 2>&1
}

# The window manager and the notification area have taken their selections.
desktop_ready() {
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' &&
        xwininfo -root -tree 2>/dev/null | grep -qi '"panel"'
}

bus_answers() {
    [ -S "$1/bus" ]
}

# Starts a session bus of the desktop's own and exports its address, so that media players
# started on this desktop, and Tunalo, meet there and never on the user's own bus. The bus starts
# no program on demand: a notification server or a panel installed on this machine is there only
# while a test runs it.
start_private_bus() {
    local logs=$1
    cat >"$logs/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$logs/bus</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    dbus-daemon --config-file="$logs/bus.conf" --nofork --nopidfile >"$logs/dbus.log" 2>&1 &
    desktop_pids+=($!)
    wait_for "the private session bus did not start" bus_answers "$logs" || return 1
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$logs/bus"
}

# Starts the desktop once and exports DISPLAY and DBUS_SESSION_BUS_ADDRESS; logs go to $1 (a folder).
start_desktop_once() {
    local logs=$1
    mkdir -p "$logs"
    start_private_bus "$logs" || return 1
    # Xvfb picks a free display number itself and names it, so two desktops never collide.
    rm -f "$logs/display"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$logs/display" >"$logs/xvfb.log" 2>&1 &
    desktop_pids+=($!)
    wait_for "the private X server did not start" x_server_answers "$logs" || return 1
    export DISPLAY=":$(cat "$logs/display")"
    openbox >"$logs/openbox.log" 2>&1 &
    desktop_pids+=($!)
    trayer --edge bottom --align right --widthtype pixel --width 160 --heighttype pixel --height 28 \
        --transparent false --tint 0x333333 >"$logs/trayer.log" 2>&1 &
    desktop_pids+=($!)
    wait_for "the window manager or the notification area did not start" desktop_ready
}

# Starts the desktop and exports DISPLAY and DBUS_SESSION_BUS_ADDRESS; logs go to $1 (a folder). A start that fails (now and
# then trayer or openbox loses its first connection) is tried again from scratch.
start_private_desktop() {
    local logs=$1 attempt
    for attempt in 1 2 3; do
        start_desktop_once "$logs/$attempt" && return 0
        tail -n 5 "$logs/$attempt"/*.log >&2 || true
        stop_private_desktop
    done
    return 1
}

# A private home for the program's files, so tests never touch the user's own.
use_private_home() {
    local folder=$1
    mkdir -p "$folder/config" "$folder/data" "$folder/runtime" "$folder/cache"
    chmod 700 "$folder/runtime"
    export XDG_CONFIG_HOME="$folder/config" XDG_DATA_HOME="$folder/data" XDG_RUNTIME_DIR="$folder/runtime"
    export XDG_CACHE_HOME="$folder/cache"
    # Until a private desktop brings its own, there is no session bus: never the user's.
    unset DBUS_SESSION_BUS_ADDRESS
}
