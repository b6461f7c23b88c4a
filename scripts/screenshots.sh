#!/usr/bin/env bash
# Starts the desktop programs under Xvfb, drives them as a user would (keys and clicks through
# xdotool) and saves pictures of the real windows in build/screenshots/ (build/screenshots/x2/
# at scale 2):
#   01-no-adapter-message   movantrix-manager with no adapter: the message before the window
#   02-no-adapter-main      ... and the empty main window after it
#   03-search-dialog        movantrix-manager-sim: the search dialog it opens with
#   04-search-running       ... during the quick search
#   05-search-done          ... after it
#   06-main-window          the main window with the devices found
#   07-device-selected      ... with another device selected (arrow keys)
#   08-device-tooltip       ... with the selected device's tooltip (the whole screen)
#   09-operation-joint      the pages of an actuator in joint mode (ID 1): Operation,
#   10-configure-joint      Configure
#   11-network-joint        and Network
#   12-configure-pw900      the Configure page of a PW-900 (ID 3, positions 0-4095)
#   13-network-sensor       the Network page of a sensor (ID 100)
#   14-operation-wheel      the pages of an actuator in wheel mode (ID 21): Operation,
#   15-configure-wheel      Configure
#   16-network-wheel        and Network
#   17-wizard-start         the firmware update wizard (Ctrl+U): its first page,
#   18-wizard-file          the file page, and with the shipped sample chosen (file dialog),
#   19-wizard-file-chosen
#   20-wizard-summary       the summary (the MQ-35 at ID 1 is older than the sample),
#   21-wizard-download      the download under way,
#   22-wizard-result        and the result
#   23-settings-differences the differences dialog of Load Settings (taken before the wizard):
#                           ID 1's settings saved, the file changed, and loaded again
#   24-wizard-result-skipped the result on a bus where a sensor holds the MQ-35's ID at code 34,
#                           the code the MQ-35 restarts at: the MQ-35 is skipped
#   25-telemetry-moving     the telemetry window of ID 1 (Ctrl+T) while the actuator moves
#                           between two goals (taken before the wizard, beside the main window)
#   26-setup-running        Set Up Actuators on samples/sim-bus-twelve-new-actuators.json, IDs
#                           1-12: some actuators checked, the next one awaited
#   27-check-robot          Check Robot against the profile of a six-joint arm, on a bus with a
#                           device of every row kind
#   28-control-table        the Control Table page of the MQ-35 at ID 1
#   29-bus-log              the Bus Log window (Advance > Bus Log...) after the pages' reads
#   30-control-table-refreshing the Control Table refreshing while the actuator moves
# The simulated bus is samples/sim-bus.json (the built-in bus with ID 21 in wheel mode); the
# last picture adds the sensor to it.
# Usage: scripts/screenshots.sh [SCALE [NUMBER...]]   (QT_SCALE_FACTOR, default 1; the numbers
# of the pictures to take, default all: `scripts/screenshots.sh 1 28 29` runs only the parts of
# the script those need and leaves the other pictures as they are)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh xdotool imagemagick
cmake --preset default >/dev/null
cmake --build --preset default --target movantrix-manager movantrix-manager-sim

scale="${1:-1}"
pictures=("${@:2}")
# Whether one of the pictures NUMBER... is asked for.
wanted() {
    [ ${#pictures[@]} -eq 0 ] && return 0
    local n p
    for n in "$@"; do
        for p in "${pictures[@]}"; do
            [ "$((10#$p))" = "$((10#$n))" ] && return 0
        done
    done
    return 1
}
out=build/screenshots
[ "$scale" = 1 ] || out="build/screenshots/x$scale"
mkdir -p "$out"
if [ ${#pictures[@]} -eq 0 ]; then
    rm -f "$out"/*.png
else
    for p in "${pictures[@]}"; do rm -f "$out/$(printf %02d "$((10#$p))")"-*.png; done
fi

export QT_SCALE_FACTOR="$scale"
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"
display=":$((50 + RANDOM % 400))"
Xvfb "$display" -screen 0 "$((1600 * scale))x$((1200 * scale))x24" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=""
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY="$display"
for _ in $(seq 100); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

# The id of the visible window titled exactly $1, waiting up to 20 s for it.
window() {
    local id
    for _ in $(seq 200); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    echo "no window \"$1\"" >&2
    return 1
}
shot() {  # shot NAME WINDOW-ID (only when its number is wanted)
    wanted "${1%%-*}" || return 0
    sleep 0.5
    import -window "$2" "$out/$1.png"
    echo "saved $out/$1.png"
}
key() {  # key WINDOW-ID KEYS...
    local id="$1"
    shift
    xdotool windowfocus --sync "$id" 2>/dev/null || true
    xdotool key --delay 100 "$@"
}
# Clicks at (X, Y) logical pixels inside the window (scaled here).
click() {
    local id="$1" x=$(( $2 * scale )) y=$(( $3 * scale ))
    xdotool mousemove --window "$id" "$x" "$y" click 1
}
geometry() {  # prints "W H" of a window in logical pixels
    xdotool getwindowgeometry --shell "$1" | awk -F= -v s="$scale" \
        '/WIDTH/ {w=$2/s} /HEIGHT/ {h=$2/s} END {print int(w), int(h)}'
}

if wanted 1 2; then
    # 1. No adapter: movantrix-manager on a machine with nothing plugged in. The machine's own
    # serial ports are hidden from it in a mount namespace of its own (as root).
    if unshare --mount true 2>/dev/null; then
        unshare --mount sh -c 'mount -t tmpfs none /sys/class/tty && exec "$0"' \
            build/default/programs/movantrix-manager >/dev/null 2>&1 &
    else
        build/default/programs/movantrix-manager >/dev/null 2>&1 &
    fi
    app=$!
    message=$(window "Movantrix Manager")
    shot 01-no-adapter-message "$message"
    key "$message" Return
    main=$(window "Movantrix Manager for Linux")
    shot 02-no-adapter-main "$main"
    key "$main" ctrl+x
    wait "$app" || true
    app=""
fi

if wanted 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 25 28 29 30; then
    # 2. The simulated bus: the search dialog opens at once.
    build/default/programs/movantrix-manager-sim samples/sim-bus.json >/dev/null 2>&1 &
    app=$!
    search=$(window "Movantrix Search")
    shot 03-search-dialog "$search"
    key "$search" Return  # Search is the default button
    sleep 3
    shot 04-search-running "$search"
    sleep 40  # the quick search of the built-in bus in real time
    shot 05-search-done "$search"
    read -r width height < <(geometry "$search")
    click "$search" $((width - 50)) $((height - 24))  # OK, bottom right
    main=$(window "Movantrix Manager for Linux")
    shot 06-main-window "$main"
    key "$main" Down Down  # the tree has the focus: ID 3
    shot 07-device-selected "$main"
    # Hover over the selected item (fourth row of the tree) for its tooltip.
    if wanted 8; then
        xdotool mousemove --window "$main" $((60 * scale)) $((112 * scale))
        sleep 0.3
        xdotool mousemove --window "$main" $((62 * scale)) $((113 * scale))
        sleep 2
        import -window root -crop "$((660 * scale))x$((470 * scale))+0+0" \
            "$out/08-device-tooltip.png"
        echo "saved $out/08-device-tooltip.png"
    fi

    # The pages: devices by their row in the tree, tabs by their place in the sheet's tab bar.
    row() { click "$main" 66 "$1"; sleep 0.5; }  # y of the row: ID 1 74, ID 3 110, ID 100 200, ID 21 236
    tab() { click "$main" "$1" 38; sleep 0.5; }  # x of the tab: Operation 208, Configure 291, Network 370, Control Table 455
    slider() {  # slider Y VALUE: the Operation page's slider at height Y (0-1023, 229 wide)
        local x=$(( (315 + 215 * $2 / 1023) * scale )) y=$(( $1 * scale ))
        xdotool mousemove --window "$main" "$x" "$y" click 2
    }
    row 74
    tab 208
    shot 09-operation-joint "$main"
    tab 291
    shot 10-configure-joint "$main"
    tab 370
    shot 11-network-joint "$main"
    row 110
    tab 291
    shot 12-configure-pw900 "$main"
    row 200
    shot 13-network-sensor "$main"
    row 236
    tab 208
    shot 14-operation-wheel "$main"
    tab 291
    shot 15-configure-wheel "$main"
    tab 370
    shot 16-network-wheel "$main"
    row 74
    tab 455
    shot 28-control-table "$main"
    key "$main" alt+a Up Return  # Advance (its first item active), Bus Log... (the last)
    buslog=$(window "Bus Log")
    xdotool windowmove "$buslog" $((660 * scale)) 0
    shot 29-bus-log "$buslog"
    xdotool windowminimize "$buslog" 2>/dev/null || true
    if wanted 30; then
        # The same table refreshing as fast as the bus allows while the actuator moves: a
        # moving speed of about 50 and the goal at about 900 on the Operation page (a move of
        # some 3 s), then the Control Table's refresh (Alt+L, the last choice).
        tab 208
        slider 111 50
        slider 159 900
        tab 455
        key "$main" alt+l End
        # The table scrolled down to the registers the refresh reads (four wheel turns).
        xdotool mousemove --window "$main" $((400 * scale)) $((250 * scale)) click --repeat 4 5
        sleep 0.3
        shot 30-control-table-refreshing "$main"
        key "$main" Home  # the refresh off again
    fi

    if wanted 17 18 19 20 21 22 23 25; then
        # Save Settings of the MQ-35 at ID 1, the file changed as a second robot's unit would differ,
        # and Load Settings of it: the differences dialog, cancelled.
        row 74
        settings="$(mktemp -d)/arm-1.json"
        key "$main" alt+a Down Down Return  # Advance, Save Settings...
        save=$(window "Save As")
        xdotool windowfocus --sync "$save" 2>/dev/null || true
        xdotool type --delay 10 "$settings"
        xdotool key Return
        for _ in $(seq 100); do [ -s "$settings" ] && break; sleep 0.1; done
        python3 - "$settings" <<'EOF'
import json, sys
with open(sys.argv[1]) as f:
    data = json.load(f)
data["settings"].update({"max-torque": 800, "min-voltage": 7.0, "alarm-led": ["overload"],
                         "ccw-angle-limit": 900, "return-delay": 100})
with open(sys.argv[1], "w") as f:
    json.dump(data, f)
EOF
        key "$main" alt+a Down Down Down Return  # Advance, Load Settings...
        open=$(window "Open")
        xdotool windowfocus --sync "$open" 2>/dev/null || true
        xdotool type --delay 10 "$settings"
        xdotool key Return
        differences=$(window "Load Settings")
        shot 23-settings-differences "$differences"
        key "$differences" Escape
        # The telemetry window of the MQ-35 at ID 1, beside the main window: the Operation page sets
        # a moving speed of about 150 and then alternates the goal between about 300 and 700 (middle
        # clicks on its sliders set them at once).
        row 74
        tab 208
        slider 111 150
        key "$main" ctrl+t
        telemetry=$(window "Movantrix Telemetry - ID 1, Baud 1")
        xdotool windowmove "$telemetry" $((660 * scale)) 0
        for goal in 300 700 300 700 300 700; do
            slider 159 "$goal"
            sleep 2
        done
        shot 25-telemetry-moving "$telemetry"

        # 3. The firmware update wizard with the shipped sample for the MQ-35 (model 28, ID 1).
        key "$main" ctrl+u
        wizard=$(window "Movantrix Firmware Update Wizzard")
        next() { click "$wizard" 218 305; }  # the wizard's buttons: Next, then Finish at x 305
        shot 17-wizard-start "$wizard"
        next
        shot 18-wizard-file "$wizard"
        click "$wizard" 59 79  # Search
        open=$(window "Open")
        xdotool windowfocus --sync "$open" 2>/dev/null || true
        xdotool type --delay 10 "$PWD/samples/MQ-35_v31.mvx"
        xdotool key Return
        shot 19-wizard-file-chosen "$wizard"
        next
        shot 20-wizard-summary "$wizard"
        next
        shot 21-wizard-download "$wizard"
        sleep 20  # the image goes to the loader at 57142 bps
        next
        shot 22-wizard-result "$wizard"
        click "$wizard" 305 305  # Finish
    fi
    key "$main" ctrl+x
    wait "$app" || true
    app=""
fi

if wanted 24; then
    # 4. The same update on a bus where a sensor holds ID 1 at code 34: the result tells why the
    # MQ-35 was left alone.
    crowded=$(mktemp --suffix=.json)
    sed 's|^  \]$|  ,{ "id": 1, "baud": 34, "model": 13, "version": 20 }\n  ]|' samples/sim-bus.json \
        >"$crowded"
    build/default/programs/movantrix-manager-sim "$crowded" >/dev/null 2>&1 &
    app=$!
    search=$(window "Movantrix Search")
    key "$search" Return
    sleep 43
    read -r width height < <(geometry "$search")
    click "$search" $((width - 50)) $((height - 24))
    main=$(window "Movantrix Manager for Linux")
    key "$main" ctrl+u
    wizard=$(window "Movantrix Firmware Update Wizzard")
    next
    click "$wizard" 59 79
    open=$(window "Open")
    xdotool windowfocus --sync "$open" 2>/dev/null || true
    xdotool type --delay 10 "$PWD/samples/MQ-35_v31.mvx"
    xdotool key Return
    sleep 0.5
    next
    next
    sleep 5  # nothing goes to the loader
    next
    shot 24-wizard-result-skipped "$wizard"
    click "$wizard" 305 305
    key "$main" ctrl+x
    wait "$app" || true
    app=""
    rm -f "$crowded"
fi

if wanted 26; then
    # 5. The robot windows. Set Up Actuators while twelve new actuators appear one every 3 s (the
    # search at start-up is left, so that they come only once the run looks for them).
    build/default/programs/movantrix-manager-sim samples/sim-bus-twelve-new-actuators.json \
        >/dev/null 2>&1 &
    app=$!
    search=$(window "Movantrix Search")
    key "$search" Escape
    main=$(window "Movantrix Manager for Linux")
    key "$main" alt+a Up Up Up Up Return  # Advance (its first item active), Set Up Actuators...
    setup=$(window "Set Up Actuators")
    xdotool windowfocus --sync "$setup" 2>/dev/null || true
    xdotool type --delay 10 "1-12"
    xdotool key Return  # Start
    sleep 11
    shot 26-setup-running "$setup"
    key "$main" ctrl+x  # the run stops after its step in hand
    wait "$app" || true
    app=""
fi

if wanted 27; then
    # Check Robot: the profile of a six-joint arm (taken by movantrix-cli on virtual time), then a
    # bus where joint 2 is missing, joint 3 sits at ID 9, joint 4 is another model, joint 5 has a
    # newer firmware, joint 6 two other settings, and a sensor nobody expected.
    robot=$(mktemp -d)
    cat >"$robot/arm.json" <<'EOF'
{"devices": [
  {"id": 1, "baud": 1, "model": 28}, {"id": 2, "baud": 1, "model": 28},
  {"id": 3, "baud": 1, "model": 12, "version": 24}, {"id": 4, "baud": 1, "model": 28},
  {"id": 5, "baud": 1, "model": 28}, {"id": 6, "baud": 1, "model": 28}]}
EOF
    cat >"$robot/bus.json" <<'EOF'
{"devices": [
  {"id": 1, "baud": 1, "model": 28}, {"id": 9, "baud": 1, "model": 12, "version": 24},
  {"id": 4, "baud": 1, "model": 64, "version": 35}, {"id": 5, "baud": 1, "model": 28, "version": 31},
  {"id": 6, "baud": 1, "model": 28, "returnDelay": 0, "registers": {"14": 800}},
  {"id": 100, "baud": 34, "model": 13, "version": 20}]}
EOF
    cmake --build --preset default --target movantrix-cli >/dev/null
    build/default/programs/movantrix-cli --port "sim:$robot/arm.json" --sim-virtual-time \
        profile save --codes 1,34 -o "$robot/profile.json" >/dev/null
    build/default/programs/movantrix-manager-sim "$robot/bus.json" >/dev/null 2>&1 &
    app=$!
    search=$(window "Movantrix Search")
    key "$search" Escape
    main=$(window "Movantrix Manager for Linux")
    key "$main" alt+a Up Up Return  # Advance, Check Robot (above Bus Log)...
    open=$(window "Open")
    xdotool windowfocus --sync "$open" 2>/dev/null || true
    xdotool type --delay 10 "$robot/profile.json"
    xdotool key Return
    check=$(window "Check Robot")
    sleep 8  # the search of codes 1 and 34 in real time
    shot 27-check-robot "$check"
    key "$check" Escape
    key "$main" ctrl+x
    wait "$app" || true
    app=""
    rm -rf "$robot"
fi
