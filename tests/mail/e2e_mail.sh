#!/usr/bin/env bash
# Drives the real mail window under Xvfb with a window manager, as a user would: types the
# server, sender, recipient, subject and text, adds an attachment through the "Add Attachment"
# dialog, sends with Enter to a local aiosmtpd, then closes the window with Alt+F4. Checks what
# arrived and that the settings were saved. Screenshots go to the output folder.
#   e2e_mail.sh MAILDRIVER PEER-SCRIPT [OUTPUT-FOLDER]
# Exits 77 (skipped) when the X tools or the mail peer are not installed.
set -euo pipefail

driver=$1
peer_script=$2
out=${3:-$PWD/e2e-mail}
python=/usr/bin/python3

source "${0%/*}/../support/e2e_common.sh"
e2e_require xvfb-run Xvfb xdotool openbox import
e2e_require_python "$python" aiosmtpd python3-aiosmtpd
e2e_on_display "$@"
e2e_start
type_text() { xdotool type --delay 15 -- "$1"; }

export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$work/program"
chmod 700 "$XDG_RUNTIME_DIR"
printf 'Quarterly figures\n' > "$work/report.txt"

start_smtp_peer "$python" "$peer_script"

start_window_manager

"$driver" --program-folder "$work/program" --state "$work/state" >"$out/driver.log" 2>&1 &
app=$!
pids+=($app)
wait_for 20 visible '^E-Mail     ' || fail "the mail window did not open"
mail=$(xdotool search --onlyvisible --name '^E-Mail     ' | head -1)
xdotool windowactivate --sync "$mail" || true
sleep 0.5

# Focus starts in the server field. Fill in the fields in tab order.
xdotool key ctrl+a; type_text "127.0.0.1:$smtp_port"
xdotool key Tab ctrl+a; type_text "Ann Example <ann@example.org>"
xdotool key Tab ctrl+a; type_text "bob@example.org"
xdotool key Tab Tab Tab ctrl+a; type_text "Quarterly report"
xdotool key Tab ctrl+a; type_text "Hello Bob,"; xdotool key Return; type_text "here is the report."
# On to "Add" (message HTML, send, status, type, user name, password, POP server, list, Add).
xdotool key Tab Tab Tab Tab Tab Tab Tab Tab Tab space
wait_for 10 visible '^Add Attachment$' || fail "the attachment dialog did not open"
dialog=$(xdotool search --onlyvisible --name '^Add Attachment$' | head -1)
xdotool windowactivate --sync "$dialog" || true
sleep 0.3
import -frame -window "$dialog" "$out/add-attachment.png" 2>/dev/null || true
xdotool key Tab; type_text "$work/report.txt"; xdotool key Return
wait_for 10 state_has "row=report.txt|$work/report.txt|application/octet-stream|Base 64" || fail "no attachment row"

# Back to the subject field and send with Enter.
xdotool windowactivate --sync "$mail" || true
xdotool key shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
xdotool key Return
wait_for 20 state_has "status=Connection closed" || fail "the send did not finish"
state_has "status=Message sent to 1 recipient" || fail "the message was not sent"
sleep 0.5
import -window root "$out/mail-window-screen.png"
import -frame -window "$mail" "$out/mail-window.png" 2>/dev/null || true

[ -f "$work/inbox/1.eml" ] || fail "nothing arrived"
"$python" "$peer_script" inspect "$work/inbox/1.eml" > "$work/parsed.json"
"$python" - "$work/parsed.json" <<'PY' || fail "the message is not what was typed"
import json, sys
m = json.load(open(sys.argv[1]))
headers = dict(m["headers"])
assert headers["Subject"] == "Quarterly report", headers
assert headers["From"] == "Ann Example <ann@example.org>", headers
assert headers["To"] == "bob@example.org", headers
parts = m["parts"]
texts = [p.get("text") for p in parts if p["content_type"] == "text/plain" and not p["filename"]]
assert texts and texts[0].startswith("Hello Bob,\nhere is the report."), texts
assert [p["filename"] for p in parts if p["filename"]] == ["report.txt"], parts
PY

# Alt+F4 closes the window; it saves its settings and the program ends.
xdotool key alt+F4
wait "$app" || fail "the program ended with an error"
[ -s "$work/program/Parcelo_Mail.set" ] || fail "the settings were not saved"
grep -q "127.0.0.1:$smtp_port" "$work/program/Parcelo_Mail.set" || fail "the server was not saved"
exec 3>&-
echo "PASS: typed, attached, sent with Enter, received and saved"
