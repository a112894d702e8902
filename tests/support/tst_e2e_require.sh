#!/usr/bin/env bash
# A missing tool skips an end-to-end script on a developer's machine (77) and fails it in CI
# (CI=true), and a tool that is there lets the script go on; the same for a Python module.
common="${0%/*}/e2e_common.sh"
status=0
expect() { # expect STATUS CI-VALUE COMMAND...
    local want=$1 ci=$2; shift 2
    local got
    CI=$ci bash -c "source '$common'; $*; exit 0" >/dev/null
    got=$?
    [ "$got" = "$want" ] || { echo "FAIL: CI=$ci $* ended with $got, not $want"; status=1; }
}
expect 77 ""    e2e_require sh parcelo-no-such-tool
expect 1  true  e2e_require sh parcelo-no-such-tool
expect 0  true  e2e_require sh
expect 77 false e2e_require_python /usr/bin/python3 parcelo_no_such_module python3-none
expect 1  true  e2e_require_python /usr/bin/python3 parcelo_no_such_module python3-none
expect 0  true  e2e_require_python /usr/bin/python3 json python3
exit $status
