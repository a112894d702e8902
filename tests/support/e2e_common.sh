# Shared by the end-to-end scripts that drive real windows under Xvfb: sourced, not run.
# The sourcing script sets `out` (its output folder) and then calls, in this order:
#   e2e_require TOOL...      exits 77 (skipped) when a tool is not installed; under CI=true,
#                            where every tool must be there, exits 1 (failed) instead
#   e2e_require_python PYTHON MODULE PACKAGE   the same for a Python module
#   e2e_on_display "$@"      runs the script again under xvfb-run when it has no display yet
#   e2e_start                makes the work folder $work, stops every pid in $pids on exit

e2e_require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || e2e_missing "$tool"
    done
}

# e2e_require_python PYTHON MODULE PACKAGE: as e2e_require, for a module of Debian's Python.
e2e_require_python() {
    "$1" -c "import $2" 2>/dev/null || e2e_missing "$3"
}

e2e_missing() {
    if [ "${CI:-}" = true ]; then
        echo "FAIL: $1 is not installed (CI=true: every tool must be installed)"
        exit 1
    fi
    echo "SKIP: $1 is not installed"
    exit 77
}

e2e_on_display() {
    if [ -z "${PARCELO_E2E_DISPLAY:-}" ]; then
        export PARCELO_E2E_DISPLAY=1
        exec xvfb-run -a -s '-screen 0 1280x1024x24' "$0" "$@"
    fi
}

e2e_start() {
    mkdir -p "$out"
    work=$(mktemp -d)
    pids=()
    trap e2e_cleanup EXIT
}

# Stops what the script started: asked first, then, after five seconds, killed (a program held
# in a modal box at a failure must not keep the script from ending).
e2e_cleanup() {
    local pid tries
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for tries in $(seq 50); do
        for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && break; pid=; done
        [ -z "$pid" ] && break
        sleep 0.1
    done
    for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

# Reports the failure with the driver's state file (when there is one) and a screenshot.
fail() {
    echo "FAIL: $*"
    [ -f "$work/state" ] && cat "$work/state"
    import -window root "$out/failure.png" 2>/dev/null || true
    exit 1
}

# wait_for SECONDS COMMAND...: runs the command until it succeeds.
wait_for() {
    local seconds=$1; shift
    local end=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}

# start_smtp_peer PYTHON PEER_SCRIPT: starts the SMTP peer delivering to $work/inbox, fed
# through a pipe held open on descriptor 3 while it should run; sets smtp_port.
start_smtp_peer() {
    mkfifo "$work/peer-in"
    "$1" "$2" smtp "$work/inbox" < "$work/peer-in" > "$work/peer-out" 2>"$out/peer.log" &
    pids+=($!)
    exec 3>"$work/peer-in"
    wait_for 20 grep -q READY "$work/peer-out" || fail "the SMTP peer did not start"
    smtp_port=$(awk '/READY/ {print $2}' "$work/peer-out")
}

# Starts the window manager and gives it a moment to take the screen.
start_window_manager() {
    openbox --sm-disable >/dev/null 2>&1 &
    pids+=($!)
    sleep 0.5
}

state_has() { grep -qxF -- "$1" "$work/state" 2>/dev/null; }
visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
gone() { ! visible "$1"; }
step() { echo "-- $*"; }
window_of() { xdotool search --onlyvisible --name "$1" | head -1; }
activate() { xdotool windowactivate --sync "$(window_of "$1")" >/dev/null 2>&1 || true; sleep 0.3; }
# shot NAME TITLE-PATTERN: the window with its frame, as $out/NAME.png.
shot() { sleep 0.4; import -frame -window "$(window_of "$2")" "$out/$1.png" 2>/dev/null || true; }
# window_named SECONDS PATTERN: the id of the first shown window whose title matches, once
# one shows. A search can fail while Qt makes and drops its helper windows (BadWindow), so
# it is tried again rather than taken as the answer.
window_named() {
    local id end=$((SECONDS + $1))
    until id=$(xdotool search --onlyvisible --name "$2" 2>/dev/null | head -1) && [ -n "$id" ]; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
    echo "$id"
}
