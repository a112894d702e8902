#!/usr/bin/env bash
# The whole program as a user uses it, under Xvfb with a window manager and a tray host, driven
# with xdotool only through keys, clicks and the file dialogs:
#   the splash, then the main window, light (no web engine, at most 70 MB resident); Ctrl+Z zips
#   a file chosen in the file dialog (the archive passes unzip -t); Ctrl+U unzips it; zipped
#   again it asks before replacing that archive, and No keeps it; a long zip
#   shows its progress and Esc stops it, leaving nothing behind; Ctrl+E zips another file and brings the mail window
#   with the archive attached, which is then sent to a local SMTP server; Ctrl+M, Ctrl+T and
#   Ctrl+W bring the companion windows; Online opens a page of a local web server in the
#   browser; Help shows the about box; Ctrl+H puts the window in the tray and the tray menu
#   brings it back, as does a click on the icon; Exit asks about the text typed in the editor
#   (Cancel keeps the program running) and then ends the program at once.
# Then from outside, as a file manager or a shell starts it: --help and --version without a
# display, a wrong option refused; `parcelo FILE` opens the window with the file chosen; an
# archive opened with xdg-open through the installed desktop entry; --unzip and --zip --to run
# at once without asking and end with status 0 when the result box is closed; --zip keeps an
# archive already there (the new one is "FILE (2).zip") unless --replace is given; a corrupt
# archive ends with its error box and a non-zero status.
# Screenshots of every window go to the output folder.
#   e2e_parcelo.sh PROGRAM-FOLDER MAIL-PEER-SCRIPT [OUTPUT-FOLDER]
# Exits 77 (skipped) when the X tools are not installed, 1 (failed) under CI=true.
set -euo pipefail

bin=$1
peer_script=$2
out=${3:-$PWD/e2e-parcelo}
python=/usr/bin/python3

source "${0%/*}/../support/e2e_common.sh"
e2e_require xvfb-run Xvfb xdotool openbox trayer import unzip 7zz xdg-open update-desktop-database
e2e_require_python "$python" aiosmtpd python3-aiosmtpd
e2e_on_display "$@"
e2e_start
type_text() { xdotool type --delay 30 -- "$1"; }
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
# closed ID: the window ID is gone or no longer shown.
closed() { ! xdotool getwindowname "$1" >/dev/null 2>&1 || ! xwininfo -id "$1" | grep -q IsViewable; }
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
cp "$bin/parcelo" "$bin/parcelo-regcomp" "$bin/pnvzip12.so" "$bin/parcelo-browser.so" "$work/program/"
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
# The web engine and the OpenGL it draws with come in with the first browser window only.
! grep -q libQt6WebEngineCore "/proc/$app/maps" || fail "the web engine is loaded before any browser window"
! grep -qE '_dri\.so|libGLX_|libEGL_' "/proc/$app/maps" || fail "an OpenGL driver is loaded before any browser window"
rss_kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$app/status")
echo "   main window: $((rss_kb / 1024)) MB resident"
[ "$rss_kb" -le $((70 * 1024)) ] || fail "the main window takes $((rss_kb / 1024)) MB resident (at most 70)"

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

step "Ctrl+Z again: the archive is there, the window asks; No keeps it and writes report.txt (2).zip"
cp "$HOME/docs/report.txt.zip" "$work/first.zip"
activate '^Parcelo™'
xdotool key ctrl+z
choose_file "$HOME/docs/report.txt"
wait_for 10 visible '^Parcelo$' || fail "no question about the archive already there"
question=$(window_of '^Parcelo$')
activate '^Parcelo$'
shot replace-question '^Parcelo$'
xdotool key alt+n
# The result box has the same title and may come at once: the question's own window must go.
wait_for 10 closed "$question" || fail "the question stayed open"
confirm_result zip-beside-result
cmp -s "$HOME/docs/report.txt.zip" "$work/first.zip" || fail "the archive already there was changed"
unzip -tq "$HOME/docs/report.txt (2).zip" >/dev/null || fail "no report.txt (2).zip beside it"
rm "$HOME/docs/report.txt (2).zip"

step "Ctrl+U on a 7-Zip AES-256 archive asks for the password in a masked box, again after a wrong one"
mkdir -p "$HOME/locked"
(cd "$HOME/docs" && 7zz a -tzip -pletmein -mem=AES256 "$HOME/locked/locked.zip" report.txt >/dev/null) \
    || fail "7zz could not make the encrypted archive"
activate '^Parcelo™'
xdotool key ctrl+u
choose_file "$HOME/locked/locked.zip"
# answer_password SHOT TEXT: types TEXT into the password box and confirms it.
answer_password() {
    wait_for 30 visible '^Parcelo$' || fail "no password box"
    local box
    box=$(window_of '^Parcelo$')
    activate '^Parcelo$'
    type_text "$2"
    shot "$1" '^Parcelo$'
    xdotool key Return
    wait_for 10 closed "$box" || fail "the password box stayed open"
}
answer_password password-box wrong
answer_password password-box-again letmein
confirm_result encrypted-unzip-result
cmp -s "$HOME/locked/report.txt" "$work/report.orig" || fail "the encrypted archive did not extract the same bytes"

step "a long zip shows its progress; Esc stops it and leaves the folder as it was"
truncate -s 20G "$HOME/docs/disk.img" # sparse: takes no room, but long to compress
before=$(ls -A "$HOME/docs")
activate '^Parcelo™'
xdotool key ctrl+z
choose_file "$HOME/docs/disk.img"
wait_for 10 visible '^Compressing! Please wait' || fail "no caption during the zip"
sleep 1
shot zip-progress '^Compressing!'
xdotool key Escape
wait_for 5 visible '^Parcelo™' || fail "Esc did not stop the zip"
sleep 0.5
gone '^Parcelo$' || fail "a box came after the cancel"
[ "$(ls -A "$HOME/docs")" = "$before" ] || fail "the cancelled zip left something behind"
rm "$HOME/docs/disk.img"

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
grep -qE '_dri\.so|libGLX_|libEGL_' "/proc/$app/maps" || fail "the browser draws without an OpenGL driver"

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

step "Exit with text typed in the editor asks first: Cancel keeps the program, No ends it"
activate '^Parcelo™'
xdotool key alt+f x
wait_for 10 visible '^TextEditor$' || fail "Exit did not ask about the typed text"
activate '^TextEditor$'
shot save-changes-question '^TextEditor$'
xdotool key Escape
wait_for 10 gone '^TextEditor$' || fail "the question stayed open"
sleep 1
kill -0 "$app" 2>/dev/null || fail "Cancel did not keep the program running"
visible '^Text Editor' || fail "the editor went away after Cancel"
activate '^Parcelo™'
xdotool key alt+f x
wait_for 10 visible '^TextEditor$' || fail "Exit did not ask again"
activate '^TextEditor$'
xdotool key alt+n
wait_for 15 bash -c "! kill -0 $app 2>/dev/null" || fail "the program did not end"
wait "$app" || fail "the program ended with an error"
# The editor and mail windows were open: Exit runs no closing steps, so neither stored anything.
[ ! -s "$work/program/TextEditor.set" ] || fail "the editor stored its settings on Exit"

step "--help and --version without a display; a wrong option gets one line and status 2"
no_display() { env -u DISPLAY -u WAYLAND_DISPLAY "$work/program/parcelo" "$@"; }
[ "$(no_display --version)" = "Parcelo 1.0.20" ] || fail "--version says: $(no_display --version)"
no_display --help | grep -q -- '--zip-and-mail' || fail "--help does not list the commands"
status=0
no_display --frobnicate >"$work/out.txt" 2>"$work/err.txt" || status=$?
[ "$status" = 2 ] && [ "$(wc -l < "$work/err.txt")" = 1 ] && [ ! -s "$work/out.txt" ] \
    || fail "a wrong option gave status $status and: $(cat "$work/err.txt")"

# ended PID: whether the program has ended.
ended() { ! kill -0 "$1" 2>/dev/null; }
# wait_end PID: waits for the program to end; sets `status` to its exit status.
wait_end() { wait_for 15 ended "$1" || fail "the program did not end"; status=0; wait "$1" || status=$?; }

step "parcelo FILE: the window with the file chosen, only Zip it! enabled"
mkdir -p "$HOME/open" "$HOME/cli"
cp "$work/report.orig" "$HOME/open/report.txt"
"$work/program/parcelo" "$HOME/open/report.txt" >>"$out/parcelo.log" 2>&1 &
app=$!
wait_for 10 visible '^Parcelo™' || fail "the main window did not open"
activate '^Parcelo™'
shot main-window-with-file '^Parcelo™'
xdotool key alt+u
sleep 1.5
visible '^Parcelo$' && fail "Unzip it! is enabled for a text file"
xdotool key alt+z
confirm_result cli-open-zip-result
unzip -tq "$HOME/open/report.txt.zip" >/dev/null || fail "Zip it! made no archive of the file given"
activate '^Parcelo™'
xdotool key alt+F4
wait_end "$app"
[ "$status" = 0 ] || fail "closing the window ended the program with $status"

step "xdg-open ARCHIVE through the installed desktop entry opens it in Parcelo"
mkdir -p "$HOME/.local/share/applications"
cp "${0%/*}/../../desktop/parcelo.desktop" "$HOME/.local/share/applications/"
update-desktop-database "$HOME/.local/share/applications"
export XDG_DATA_HOME=$HOME/.local/share PATH="$work/program:$PATH"
[ "$(xdg-mime query default application/zip)" = parcelo.desktop ] \
    || fail "zip archives do not open with Parcelo: $(xdg-mime query default application/zip)"
rm "$HOME/open/report.txt"
xdg-open "$HOME/open/report.txt.zip" >>"$out/parcelo.log" 2>&1 &
opener=$!
wait_for 10 visible '^Parcelo™' || fail "xdg-open did not start Parcelo"
activate '^Parcelo™'
xdotool key alt+u
confirm_result xdg-open-unzip-result
cmp -s "$HOME/open/report.txt" "$work/report.orig" || fail "the archive opened by xdg-open did not unzip"
activate '^Parcelo™'
xdotool key alt+F4
wait_end "$opener"
[ "$status" = 0 ] || fail "xdg-open ended with $status"

# "Same directory" off in the stored settings: the command line must neither ask nor change it.
mkdir -p "$XDG_CONFIG_HOME/Orvanne"
printf '\n[Parcelo]\nsame-directory=0\n' >> "$XDG_CONFIG_HOME/Orvanne/Orvanne.ini"
cp "$XDG_CONFIG_HOME/Orvanne/Orvanne.ini" "$work/settings.before"

step "parcelo --unzip: no splash, the result box at once; closing it ends with 0"
cp "$HOME/docs/report.txt.zip" "$HOME/cli/"
"$work/program/parcelo" --unzip "$HOME/cli/report.txt.zip" >>"$out/parcelo.log" 2>&1 &
app=$!
confirm_result cli-unzip-result
wait_end "$app"
[ "$status" = 0 ] || fail "--unzip ended with $status"
cmp -s "$HOME/cli/report.txt" "$work/report.orig" || fail "--unzip did not extract beside the archive"

step "parcelo --unzip on an archive made on a Japanese Windows: the names as written"
# Names in Shift-JIS without the UTF-8 mark, as Explorer stores them; 予 ends in the byte 0x5C.
"$python" - "$HOME/cli/japanese.zip" <<'EOF'
import struct, sys, zlib
names = ["報告書/予算案（最終版）.xlsx", "報告書/議事録.txt", "写真 [社員旅行]/集合写真.jpg"]
data, central = b"", b""
for name in names:
    raw, body = name.encode("cp932"), name.encode()
    crc, offset = zlib.crc32(body), len(data)
    data += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0x6000, 0x5A21, crc, len(body), len(body), len(raw), 0) + raw + body
    central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0x6000, 0x5A21, crc, len(body), len(body),
                           len(raw), 0, 0, 0, 0, 0, offset) + raw
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(names), len(names), len(central), len(data), 0)
open(sys.argv[1], "wb").write(data + central + end)
EOF
"$work/program/parcelo" --unzip "$HOME/cli/japanese.zip" >>"$out/parcelo.log" 2>&1 &
app=$!
confirm_result cli-unzip-japanese-result
wait_end "$app"
[ "$status" = 0 ] || fail "--unzip of the Japanese archive ended with $status"
for name in "報告書/予算案（最終版）.xlsx" "報告書/議事録.txt" "写真 [社員旅行]/集合写真.jpg"; do
    [ "$(cat "$HOME/cli/$name" 2>/dev/null)" = "$name" ] || fail "--unzip did not extract $name under its own name"
done

step "parcelo --zip FILE --to FOLDER writes there"
"$work/program/parcelo" --zip "$HOME/docs/notes.txt" --to "$HOME/cli/made here" >>"$out/parcelo.log" 2>&1 &
app=$!
confirm_result cli-zip-to-result
wait_end "$app"
[ "$status" = 0 ] || fail "--zip --to ended with $status"
unzip -tq "$HOME/cli/made here/notes.txt.zip" >/dev/null || fail "--zip --to made no archive in the folder"
cmp -s "$XDG_CONFIG_HOME/Orvanne/Orvanne.ini" "$work/settings.before" || fail "the command line changed the settings"

step "parcelo --zip keeps an archive already there; --replace replaces it"
mkdir -p "$HOME/keep"
printf 'keep me\n' > "$HOME/keep/precious.txt"
(cd "$HOME/keep" && 7zz a -tzip report.txt.zip precious.txt >/dev/null && rm precious.txt) \
    || fail "7zz could not make the archive to keep"
cp "$work/report.orig" "$HOME/keep/report.txt"
"$work/program/parcelo" --zip "$HOME/keep/report.txt" >>"$out/parcelo.log" 2>&1 &
app=$!
confirm_result cli-zip-keeps-result
wait_end "$app"
[ "$status" = 0 ] || fail "--zip beside an archive ended with $status"
unzip -Z1 "$HOME/keep/report.txt.zip" | grep -qx precious.txt || fail "--zip replaced the archive already there"
unzip -Z1 "$HOME/keep/report.txt (2).zip" | grep -qx report.txt || fail "--zip did not write report.txt (2).zip"
"$work/program/parcelo" --zip "$HOME/keep/report.txt" --replace >>"$out/parcelo.log" 2>&1 &
app=$!
confirm_result cli-zip-replace-result
wait_end "$app"
[ "$status" = 0 ] || fail "--zip --replace ended with $status"
[ "$(unzip -Z1 "$HOME/keep/report.txt.zip")" = report.txt ] || fail "--replace did not replace the archive"
[ ! -e "$HOME/keep/report.txt (3).zip" ] || fail "--replace wrote another archive"

step "parcelo --unzip on a corrupt archive: the error box, then a non-zero status"
head -c 20000 "$HOME/docs/report.txt.zip" > "$HOME/cli/broken.zip"
"$work/program/parcelo" --unzip "$HOME/cli/broken.zip" >>"$out/parcelo.log" 2>&1 &
app=$!
wait_for 30 visible '^Error: ' || fail "no error box"
activate '^Error: '
import -window root "$out/cli-corrupt-error-screen.png"
xdotool key Return
wait_end "$app"
[ "$status" != 0 ] || fail "a corrupt archive ended with status 0"

exec 3>&-
echo "PASS: splash, zip, unzip, cancelled zip, zip and mail, companions, online page, about, tray, exit;"
echo "      command line: help, version, FILE, xdg-open, --unzip, Japanese names, --zip --to,"
echo "      corrupt archive"
