#!/usr/bin/env bash
# A folder dropped on the main window from another program, under Xvfb with a window manager:
# the path box shows the folder, Alt+Z zips it, the result box counts what went in, and the
# archive beside the folder passes "unzip -t" and "7zz t" and holds the folder's tree (empty
# folder, link and executable included). Screenshots go to the output folder.
#   e2e_zipfolder.sh PROGRAM-FOLDER DRAG-SOURCE [OUTPUT-FOLDER]
# Exits 77 (skipped) when the X tools are not installed.
set -euo pipefail

bin=$1
dragsource=$2
out=${3:-$PWD/e2e-zipfolder}

source "${0%/*}/../support/e2e_common.sh"
e2e_require xvfb-run Xvfb xdotool openbox import unzip 7zz
e2e_on_display "$@"
e2e_start

export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$work/program"
chmod 700 "$XDG_RUNTIME_DIR"
cp "$bin/parcelo" "$bin/parcelo-regcomp" "$bin/pnvzip12.so" "$work/program/"
photos=$HOME/Photos
mkdir -p "$photos/2024/Sommer" "$photos/leer"
seq 1 20000 | sed 's/$/ Strand, Abend/' > "$photos/2024/Sommer/liste.txt"
head -c 300000 /dev/urandom > "$photos/2024/bild.jpg"
printf '#!/bin/sh\necho ok\n' > "$photos/zeigen.sh"
chmod 755 "$photos/zeigen.sh"
ln -s 2024/Sommer/liste.txt "$photos/neueste"

openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
sleep 1
"$work/program/parcelo" >"$out/zipfolder.log" 2>&1 &
pids+=($!)
wait_for 15 visible '^Parcelo™' || fail "the main window did not open"
"$dragsource" "$photos" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 visible '^Drag source$' || fail "the drag source did not open"

step "the folder is dragged from another program onto the main window"
activate '^Parcelo™'
eval "$(xdotool getwindowgeometry --shell "$(window_of '^Parcelo™')")"
target_x=$((X + 120)) target_y=$((Y + 95))
eval "$(xdotool getwindowgeometry --shell "$(window_of '^Drag source$')")"
xdotool mousemove $((X + 150)) $((Y + 60)) mousedown 1
sleep 0.3
for i in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove $((X + 150 + (target_x - X - 150) * i / 10)) $((Y + 60 + (target_y - Y - 60) * i / 10))
    sleep 0.1
done
sleep 0.5
xdotool mouseup 1
sleep 1
! visible '^Parcelo$' || fail "a message box came up instead of the folder being chosen"
activate '^Parcelo™'
shot folder-chosen '^Parcelo™'

step "Alt+Z zips it; the result box counts files and folders"
xdotool key alt+z
wait_for 60 visible '^Parcelo$' || fail "no result box"
activate '^Parcelo$'
shot zip-folder '^Parcelo$'
xdotool key Return
wait_for 10 gone '^Parcelo$' || fail "the result box stayed open"

step "the archive beside the folder"
archive=$HOME/Photos.zip
[ -f "$archive" ] || fail "no Photos.zip beside the folder"
unzip -tq "$archive" >/dev/null || fail "unzip -t refuses the archive"
7zz t "$archive" | grep -q 'Everything is Ok' || fail "7zz t refuses the archive"
mkdir "$work/out"
unzip -q "$archive" -d "$work/out"
(cd "$HOME" && find Photos | sort) > "$work/expected"
(cd "$work/out" && find Photos | sort) > "$work/actual"
diff "$work/expected" "$work/actual" || fail "the archive does not hold the folder's tree"
[ "$(readlink "$work/out/Photos/neueste")" = 2024/Sommer/liste.txt ] || fail "the link is not a link"
[ -x "$work/out/Photos/zeigen.sh" ] || fail "the script lost its executable mode"
cmp "$photos/2024/bild.jpg" "$work/out/Photos/2024/bild.jpg" || fail "the picture differs"
echo "PASS: a dropped folder zipped into $(stat -c %s "$archive") bytes"
