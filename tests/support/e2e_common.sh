# Shared by the end-to-end scripts that drive real windows under Xvfb: sourced, not run.
# The sourcing script sets `out` (its output folder) and then calls, in this order:
#   e2e_require TOOL...      exits 77 (skipped) when a tool is not installed
#   e2e_on_display "$@"      runs the script again under xvfb-run when it has no display yet
#   e2e_start                makes the work folder $work, stops every pid in $pids on exit

e2e_require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
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

e2e_cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
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

state_has() { grep -qxF -- "$1" "$work/state" 2>/dev/null; }
visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
