#!/usr/bin/env bash
# Drives the real browser window under Xvfb with a window manager, as a user would: Online >
# Product Page opens the publisher's page from a local server; Help > About opens the about box,
# whose "System Info..." button starts the system information program named in Parcelo.reg, and
# says it is unavailable when nothing is named. Screenshots go to the output folder.
#   e2e_browser.sh BROWSERDRIVER [OUTPUT-FOLDER]
# Exits 77 (skipped) when the X tools are not installed.
set -euo pipefail

driver=$1
out=${2:-$PWD/e2e-browser}

source "${0%/*}/../support/e2e_common.sh"
e2e_require xvfb-run Xvfb xdotool openbox import
e2e_on_display "$@"
e2e_start
first_entry_is() { [ "$(grep -m1 '^entry=' "$work/state" 2>/dev/null)" = "entry=$1" ]; }
# shot NAME WINDOW: the screen, and the window with its frame on its own.
shot() {
    import -window root "$out/$1-screen.png"
    import -frame -window "$2" "$out/$1.png" 2>/dev/null || true
}

# The publisher's site.
mkdir -p "$work/site"
cat > "$work/site/index.html" <<'HTML'
<!DOCTYPE html><html><head><meta charset="utf-8"><title>Orvanne</title></head>
<body><h1>Orvanne</h1></body></html>
HTML
cat > "$work/site/parcelo.htm" <<'HTML'
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Parcelo - Product Page</title>
<style>
body { font-family: "Liberation Sans", Arial, sans-serif; margin: 0; color: #23313d; background: #f4f7f9; }
header { background: linear-gradient(90deg, #1f5f8b, #2f8f9d); color: white; padding: 28px 40px; }
header h1 { margin: 0; font-size: 34px; } header p { margin: 6px 0 0; opacity: .9; }
main { padding: 24px 40px; max-width: 760px; }
.box { background: white; border: 1px solid #d5dee5; border-radius: 6px; padding: 16px 20px; margin-bottom: 16px; }
h2 { margin-top: 0; font-size: 19px; color: #1f5f8b; } li { margin: 4px 0; }
a.button { display: inline-block; background: #2f8f9d; color: white; padding: 8px 16px; border-radius: 4px; text-decoration: none; }
</style></head>
<body>
<header><h1>Parcelo 1.0</h1><p>Zip one file, unzip one archive. Nothing more, nothing less.</p></header>
<main>
<div class="box"><h2>What it does</h2>
<ul><li>Turns <b>report.doc</b> into <b>report.doc.zip</b> with one click</li>
<li>Extracts an archive into its own folder or one you pick</li>
<li>Mails the archive it has just made</li></ul></div>
<div class="box"><h2>Also inside</h2>
<p>A rich-text editor, a small web browser and an e-mail sender.</p>
<a class="button" href="store.htm">Order now</a></div>
</main></body></html>
HTML
# PARCELO_E2E_HOST names the site (resolved to 127.0.0.1 by the engine) and PARCELO_E2E_PORT
# fixes the port, for screenshots that show the publisher's own address.
port=${PARCELO_E2E_PORT:-$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')}
/usr/bin/python3 -m http.server --bind 127.0.0.1 "$port" --directory "$work/site" >/dev/null 2>&1 &
pids+=($!)
if [ -n "${PARCELO_E2E_HOST:-}" ]; then
    site="http://$PARCELO_E2E_HOST"
    [ "$port" = 80 ] || site="$site:$port"
    export QTWEBENGINE_CHROMIUM_FLAGS="--host-resolver-rules=\"MAP $PARCELO_E2E_HOST 127.0.0.1\""
else
    site="http://127.0.0.1:$port"
fi

# A private home, and a system information program that leaves a mark when it starts.
mkdir -p "$work/home" "$work/config" "$work/runtime" "$work/program" "$work/bin"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
export PARCELO_PUBLISHER_URL="$site" QT_LOGGING_RULES="qt.webenginecontext.info=false"
cat > "$work/bin/system info" <<SH
#!/bin/sh
touch "$work/sysinfo-started"
SH
chmod +x "$work/bin/system info"
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\r\n"PATH"="%s"\r\n' \
    "$work/bin/system info" > "$work/program/Parcelo.reg"

start_window_manager

"$driver" --program-folder "$work/program" --state "$work/state" >"$out/driver.log" 2>&1 &
app=$!
pids+=($app)

browser=$(window_named 30 '^Tarn Surfer') || fail "no browser window"
xdotool windowactivate --sync "$browser" || true
wait_for 10 state_has "entry=$site" || fail "the starting address is not listed"

# Online > Product Page.
xdotool key alt+o
sleep 0.4
xdotool key p
prefix="Tarn Surfer                       "
wait_for 20 state_has "title=${prefix}Parcelo - Product Page" || fail "the product page's title is not shown"
first_entry_is "$site/parcelo.htm" || fail "the product page is not at the top of the list"
wid=$(xdotool search --onlyvisible --name '^Tarn Surfer' | head -1)
[ "$(xdotool getwindowname "$wid")" = "${prefix}Parcelo - Product Page" ] || fail "the X window's title differs"
sleep 1
shot browser-window "$wid"
echo "PASS: Online > Product Page shows the page, its title and the address on top"

# Help > About, then System Info starts the program named in Parcelo.reg.
xdotool key alt+h
sleep 0.4
xdotool key a
about=$(window_named 15 '^About Parcelo') || fail "no about box"
xdotool windowactivate --sync "$about" || true
wait_for 10 state_has "about=About Parcelo™" || fail "the about box is not listed"
sleep 0.5
shot about-box "$about"
xdotool key alt+s
wait_for 10 test -e "$work/sysinfo-started" || fail "System Info did not start the program"
echo "PASS: System Info started the system information program"

# With nothing named, System Info says so.
printf 'REGEDIT4\r\n' > "$work/program/Parcelo.reg"
touch -d '+5 seconds' "$work/program/Parcelo.reg"
xdotool windowactivate --sync "$about" || true
xdotool key alt+s
wait_for 10 visible '^Parcelo$' || fail "no message box"
message=$(xdotool search --onlyvisible --name '^Parcelo$' | head -1)
sleep 0.5
shot sysinfo-unavailable "$message"
xdotool windowactivate --sync "$message" || true
xdotool key Return
wait_for 10 bash -c "! xdotool search --onlyvisible --name '^Parcelo\$' >/dev/null 2>&1" || fail "the message box stayed"
echo "PASS: System Info says the program is unavailable"

# OK closes the about box; Alt+Backspace closes the browser and the program ends.
xdotool windowactivate --sync "$about" || true
xdotool key Return
wait_for 10 bash -c "! xdotool search --onlyvisible --name '^About Parcelo' >/dev/null 2>&1" || fail "the about box stayed"
xdotool windowactivate --sync "$browser" || true
xdotool key alt+BackSpace
for _ in $(seq 1 50); do kill -0 "$app" 2>/dev/null || break; sleep 0.2; done
kill -0 "$app" 2>/dev/null && fail "the program did not end when the browser closed"
wait "$app" || fail "the program ended with an error"
echo "PASS: closing the browser ends the program"
