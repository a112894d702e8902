#!/usr/bin/env bash
# The whole program as a user uses it, under Xvfb with a window manager and a tray host, driven
# with xdotool only through keys, clicks and the file dialogs:
#   the splash, then the main window; Ctrl+Z zips a file chosen in the file dialog (the archive
#   passes unzip -t); Ctrl+U unzips it; Ctrl+E zips another file and brings the mail window
#   with the archive attached, which is then sent to a local SMTP server; Ctrl+M, Ctrl+T and
#   Ctrl+W bring the companion windows; Online opens a page of a local web server in the
#   browser; Help shows the about box; Ctrl+H puts the window in the tray and the tray menu
#   brings it back, as does a click on the icon; Exit ends the program at once.
# Screenshots of every window go to the output folder.
#   e2e_parcelo.sh PROGRAM-FOLDER MAIL-PEER-SCRIPT [OUTPUT-FOLDER]
# Exits 77 (skipped) when the X tools are not installed.
set -euo pipefail

bin=$1
peer_script=$2
out=${3:-$PWD/e2e-parcelo}
python=/usr/bin/python3

source "${0%/*}/../support/e2e_common.sh"
e2e_require xvfb-run Xvfb xdotool openbox trayer import unzip
"$python" -c 'import aiosmtpd' 2>/dev/null || { echo "SKIP: python3-aiosmtpd is not installed"; exit 77; }
e2e_on_display "$@"
e2e_start
step() { echo "-- $*"; }
gone() { ! visible "$1"; }
window_of() { xdotool search --onlyvisible --name "$1" | head -1; }
activate() { xdotool windowactivate --sync "$(window_of "$1")" >/dev/null 2>&1 || true; sleep 0.3; }
type_text() { xdotool type --delay 30 -- "$1"; }
# shot NAME TITLE-PATTERN: the window with its frame.
shot() { sleep 0.4; import -frame -window "$(window_of "$2")" "$out/$1.png" 2>/dev/null || true; }
# choose_file PATH: types a path into the open file dialog and confirms it.
choose_file() {
    wait_for 10 visible '^Select a file to zip/unzip$' || fail "no file dialog"
    activate '^Select a file to zip/unzip$'
    type_text "$1"
    sleep 0.7
    xdotool key Return
    wait_for 10 gone '^Select a file to zip/unzip$' || fail "the file dialog stayed open"
}
# confirm_result NAME: the result box titled "Parcelo" is shown; take it and press OK.
confirm_result() {
    wait_for 60 visible '^Parcelo$' || fail "no result box"
    activate '^Parcelo$'
    shot "$1" '^Parcelo$'
    xdotool key Return
    wait_for 10 gone '^Parcelo$' || fail "the result box stayed open"
}

export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME/docs" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$work/program" "$work/site"
chmod 700 "$XDG_RUNTIME_DIR"
# The program runs from a folder of its own, so that everything it writes stays in the test.
cp "$bin/parcelo" "$bin/parcelo-regcomp" "$bin/pnvzip12.so" "$work/program/"
seq 1 50000 | sed 's/$/ quarterly figures, region north/' > "$HOME/docs/report.txt"
printf 'Notes for Bob\n' > "$HOME/docs/notes.txt"
cp "$HOME/docs/report.txt" "$work/report.orig"

# The publisher's site and a mail server, both local.
cat > "$work/site/parcelo.htm" <<'HTML'
<!DOCTYPE html><html><head><meta charset="utf-8"><title>Parcelo - Product Page</title></head>
<body style="font-family: sans-serif"><h1>Parcelo</h1><p>Zip one file, unzip one archive.</p></body></html>
HTML
web_port=$("$python" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$python" -m http.server --bind 127.0.0.1 --directory "$work/site" "$web_port" >/dev/null 2>&1 &
pids+=($!)
export PARCELO_PUBLISHER_URL="http://127.0.0.1:$web_port"

start_smtp_peer "$python" "$peer_script"

openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype pixel --width 64 --height 32 --expand false >/dev/null 2>&1 &
pids+=($!)
sleep 1

step "start: the splash, then the main window"
export QT_LOGGING_RULES="qt.webenginecontext.info=false"
"$work/program/parcelo" >"$out/parcelo.log" 2>&1 &
app=$!
sleep 0.7
import -window root "$out/splash-screen.png"
wait_for 10 visible '^Parcelo™' || fail "the main window did not open"
activate '^Parcelo™'
shot main-window '^Parcelo™'

step "Ctrl+Z zips a file chosen in the file dialog"
xdotool key ctrl+z
choose_file "$HOME/docs/report.txt"
confirm_result zip-result
[ -f "$HOME/docs/report.txt.zip" ] || fail "no archive"
unzip -tq "$HOME/docs/report.txt.zip" >/dev/null || fail "unzip -t refuses the archive"

step "Ctrl+U unzips it"
rm "$HOME/docs/report.txt"
activate '^Parcelo™'
xdotool key ctrl+u
choose_file "$HOME/docs/report.txt.zip"
confirm_result unzip-result
cmp -s "$HOME/docs/report.txt" "$work/report.orig" || fail "the unzipped file differs"

step "Ctrl+E zips another file and hands the archive to the mail window"
activate '^Parcelo™'
xdotool key ctrl+e
choose_file "$HOME/docs/notes.txt"
confirm_result zip-for-mail
wait_for 10 visible '^E-Mail' || fail "the mail window did not come"
activate '^E-Mail'
xdotool key ctrl+a; type_text "127.0.0.1:$smtp_port"
xdotool key Tab ctrl+a; type_text "ann@example.org"
xdotool key Tab ctrl+a; type_text "bob@example.org"
xdotool key Tab Tab Tab ctrl+a; type_text "The notes"
shot mail-window '^E-Mail'
xdotool key Return
wait_for 30 test -f "$work/inbox/1.eml" || fail "the mail did not arrive"
"$python" "$peer_script" inspect "$work/inbox/1.eml" > "$work/parsed.json"
"$python" - "$work/parsed.json" <<'PY' || fail "the mail is not what was sent"
import json, sys
m = json.load(open(sys.argv[1]))
names = [p["filename"] for p in m["parts"] if p["filename"]]
assert names == ["notes.txt.zip"], names
assert dict(m["headers"])["Subject"] == "The notes", m["headers"]
PY

step "Ctrl+M, Ctrl+T and Ctrl+W bring the companion windows"
xdotool windowminimize "$(window_of '^E-Mail')"
wait_for 10 gone '^E-Mail' || fail "the mail window did not minimize"
activate '^Parcelo™'
xdotool key ctrl+m
wait_for 10 visible '^E-Mail' || fail "Ctrl+M did not bring the mail window back"
activate '^Parcelo™'
xdotool key ctrl+t
wait_for 10 visible '^Text Editor' || fail "Ctrl+T did not open the editor"
activate '^Text Editor'
type_text "Parcelo keeps the full file name: report.doc becomes report.doc.zip."
shot editor-window '^Text Editor'
activate '^Parcelo™'
xdotool key ctrl+w
wait_for 30 visible '^Tarn Surfer' || fail "Ctrl+W did not open the browser"

step "Online > Product Page opens the page of the local server in the browser"
activate '^Parcelo™'
xdotool key alt+o p
wait_for 30 visible '^Tarn Surfer *Parcelo - Product Page$' || fail "the product page did not load"
sleep 1
shot browser-window '^Tarn Surfer'

step "Help shows the about box"
activate '^Parcelo™'
xdotool key alt+h Return
wait_for 10 visible '^About Parcelo' || fail "no about box"
activate '^About Parcelo'
shot about-box '^About Parcelo'
xdotool key Escape
wait_for 10 gone '^About Parcelo' || fail "the about box stayed"

step "Ctrl+H puts the main window in the tray; the tray menu brings it back"
activate '^Parcelo™'
xdotool key ctrl+h
wait_for 10 gone '^Parcelo™' || fail "the main window did not go to the tray"
sleep 1
eval "$(xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --class trayer | head -1)")"
xdotool mousemove $((X + WIDTH - 16)) $((Y + HEIGHT / 2)) click 3  # the icon sits at the right end
sleep 1
import -window root "$out/tray-menu-screen.png"
xdotool key s
wait_for 10 visible '^Parcelo™' || fail "Show Parcelo did not bring the window back"

step "A single click on the tray icon brings the window back as well"
activate '^Parcelo™'
xdotool key ctrl+h
wait_for 10 gone '^Parcelo™' || fail "the main window did not go to the tray again"
sleep 1
xdotool mousemove $((X + WIDTH - 16)) $((Y + HEIGHT / 2)) click 1
wait_for 10 visible '^Parcelo™' || fail "a click on the tray icon did not bring the window back"

step "Exit ends the program at once"
activate '^Parcelo™'
xdotool key alt+f x
wait_for 15 bash -c "! kill -0 $app 2>/dev/null" || fail "the program did not end"
wait "$app" || fail "the program ended with an error"
# The editor and mail windows were open: Exit runs no closing steps, so neither stored anything.
[ ! -s "$work/program/TextEditor.set" ] || fail "the editor stored its settings on Exit"
exec 3>&-
echo "PASS: splash, zip, unzip, zip and mail, companions, online page, about, tray, exit"
