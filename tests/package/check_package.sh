#!/usr/bin/env bash
# The Debian package as users get it, built from this build tree by cpack and checked the way
# Debian and the desktops check it: its file list and its computed Depends; lintian without an
# error; desktop-file-validate on the desktop entry and Dolphin's service menus; the keys Nemo
# reads in its actions; appstreamcli on the installed tree; man's warnings on the manual page;
# and, run from the unpacked tree with no display, --version and every Exec line's options.
#   check_package.sh BUILD-FOLDER VERSION PRIVATE-FOLDER
# Exits 77 (skipped) when a tool is missing, except under CI=true, where that fails.
set -euo pipefail

build=$1
version=$2
private=usr/$3
fail() { echo "FAIL: $*"; exit 1; }
need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null && continue
        [ "${CI:-}" = true ] && fail "$tool is not installed"
        echo "SKIP: $tool is not installed"
        exit 77
    done
}
need dpkg-deb dpkg-shlibdeps file lintian desktop-file-validate appstreamcli man python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "-- cpack -G DEB"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log"; fail "cpack did not make the package"; }
deb=$work/parcelo_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work")"

echo "-- the files and the dependencies"
expected=(
    usr/bin/parcelo "$private/parcelo" "$private/parcelo-regcomp" "$private/pnvzip12.so" "$private/parcelo-browser.so"
    usr/share/applications/parcelo.desktop
    usr/share/kio/servicemenus/parcelo-unzip.desktop usr/share/kio/servicemenus/parcelo-zip.desktop
    usr/share/nemo/actions/parcelo-unzip.nemo_action usr/share/nemo/actions/parcelo-zip-and-mail.nemo_action
    usr/share/nemo/actions/parcelo-zip.nemo_action
    usr/share/metainfo/com.orvanne.Parcelo.metainfo.xml usr/share/man/man1/parcelo.1.gz
    usr/share/doc/parcelo/changelog.gz usr/share/doc/parcelo/copyright
)
for side in 16 22 24 32 48 64 128 256; do expected+=("usr/share/icons/hicolor/${side}x$side/apps/parcelo.png"); done
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort > "$work/files"
printf '%s\n' "${expected[@]}" | sort > "$work/expected"
diff -u "$work/expected" "$work/files" || fail "the package holds other files than these"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6webenginewidgets6 libqt6webenginecore6-bin libzip4 libdeflate0 libisal2 libcurl4; do
    [[ $depends == *"$library ("* ]] || fail "Depends lacks $library: $depends"
done
dpkg-deb -x "$deb" "$work/root"
root=$work/root
for side in 16 22 24 32 48 64 128 256; do
    file "$root/usr/share/icons/hicolor/${side}x$side/apps/parcelo.png" | grep -q "PNG image data, $side x $side," \
        || fail "the ${side}x$side icon is not $side pixels square"
done

echo "-- lintian"
lintian --fail-on error --display-level '>=warning' "$deb" 2>&1 | grep -v 'running with root privileges' \
    | tee "$work/lintian" || true
grep -q '^[EW]:' "$work/lintian" && fail "lintian objects to the package"

echo "-- desktop entry, service menus, actions, metainfo, manual page"
out=$(desktop-file-validate "$root/usr/share/applications/parcelo.desktop" 2>&1) || fail "$out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
# The validator knows only the freedesktop types; of KDE's Service type it refuses the two keys
# that make a service menu. Anything else it says is a fault.
for menu in "$root"/usr/share/kio/servicemenus/*.desktop; do
    desktop-file-validate "$menu" 2>&1 \
        | grep -v -E 'key "(MimeType|Actions)" is present in group "Desktop Entry", but the type is "Service"' \
        && fail "desktop-file-validate: $(basename "$menu")"
done
python3 - "$root"/usr/share/nemo/actions/*.nemo_action <<'PY' || fail "a Nemo action lacks what Nemo reads"
import configparser, sys
for path in sys.argv[1:]:
    action = configparser.ConfigParser(interpolation=None, strict=True)
    action.optionxform = str
    action.read(path, encoding="utf-8")
    a = action["Nemo Action"]
    assert a["Name"] and a["Exec"].startswith("parcelo --") and a["Exec"].endswith(" %F"), path
    assert a["Quote"] == "double", path  # spaces kept
    assert ("Mimetypes" in a) != ("Extensions" in a), path
    if "--unzip" in a["Exec"]:
        assert a["Selection"] == "s", path  # one archive
    else:  # zips offered on folders and on several files at once
        assert a["Selection"] == "notnone" and a["Extensions"] == "any;", path
PY
python3 - "$root"/usr/share/kio/servicemenus/parcelo-zip.desktop "$root"/usr/share/applications/parcelo.desktop <<'PY' \
    || fail "a zip entry of the service menu or the desktop entry is not offered on folders and several files"
import configparser, sys
menu = configparser.ConfigParser(interpolation=None, strict=True)
menu.optionxform = str
menu.read(sys.argv[1], encoding="utf-8")
entry = menu["Desktop Entry"]
assert "inode/directory" in entry["MimeType"].split(";") and "application/octet-stream" in entry["MimeType"].split(";")
assert "X-KDE-RequiredNumberOfUrls" not in entry and "X-KDE-MaxNumberOfUrls" not in entry
names = {menu[f"Desktop Action {a}"]["Name"]: menu[f"Desktop Action {a}"]["Exec"] for a in entry["Actions"].split(";") if a}
assert names == {"Zip with Parcelo": "parcelo --zip %F", "Zip and e-mail with Parcelo": "parcelo --zip-and-mail %F"}, names
app = configparser.ConfigParser(interpolation=None, strict=True)
app.optionxform = str
app.read(sys.argv[2], encoding="utf-8")
assert app["Desktop Action Zip"]["Exec"] == "parcelo --zip %F"
PY
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli refuses the installed tree"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$root/usr/share/man/man1/parcelo.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page: $warnings"

echo "-- the program from the unpacked tree, without a display"
program() { env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/parcelo" "$@"; }
[ "$(program --version)" = "Parcelo $version" ] || fail "--version says: $(program --version)"
# Every command a desktop file runs must be one the program accepts (an unknown option ends
# with status 2 before --version is looked at).
grep -h '^Exec=' "$root"/usr/share/applications/*.desktop "$root"/usr/share/kio/servicemenus/*.desktop \
    "$root"/usr/share/nemo/actions/*.nemo_action | sort -u > "$work/execs"
while read -r line; do
    read -r -a words <<< "${line#Exec=}"
    [ "${words[0]}" = parcelo ] || fail "$line does not run parcelo"
    arguments=()
    for word in "${words[@]:1}"; do [[ $word == %[fF] ]] || arguments+=("$word"); done
    program "${arguments[@]}" "$work/any file" --version >/dev/null || fail "the program refuses $line"
    # %F: several files and folders at once
    if [[ $line == *%F* ]]; then
        program "${arguments[@]}" "$work/any file" "$work" --version >/dev/null || fail "the program refuses $line with two paths"
    fi
done < "$work/execs"
echo "PASS: $(basename "$deb"): $(wc -l < "$work/files") files, lintian clean, desktop files valid"
