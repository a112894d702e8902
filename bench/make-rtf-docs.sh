#!/bin/sh
# Writes the documents rtfbench is measured on (see RTF-RESULTS.md) into the folder given,
# through LibreOffice Writer: text.rtf (styled text, two-level lists, small tables, Japanese)
# and pictures.rtf (large pictures that do not compress). Needs soffice and /usr/bin/python3.
set -eu
out=${1:?usage: make-rtf-docs.sh FOLDER}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work" <<'PY'
import base64, os, random, struct, sys, zlib
work = sys.argv[1]
random.seed(7)
words = ("archive folder extract message editor picture table column window button "
         "settings printer document paragraph letter number quickly slowly bright").split()
def sentence(n):
    return " ".join(random.choice(words) for _ in range(n)).capitalize() + "."
parts = ["<html><head><meta charset='utf-8'></head><body>"]
for i in range(2500):
    parts.append(f"<p>{sentence(12)} <b>{sentence(4)}</b> <i>{sentence(5)}</i> "
                 f"<span style='color:#a03030'>{sentence(3)}</span> 日本語の文章です。</p>")
    if i % 5 == 0:
        parts.append(f"<ul><li>{sentence(6)}<ol><li>{sentence(4)}</li><li>{sentence(4)}</li></ol></li>"
                     f"<li>{sentence(5)}</li></ul>")
    if i % 5 == 2:
        parts.append("<table border='1'>" + "".join(
            "<tr>" + "".join(f"<td>{sentence(2)}</td>" for _ in range(3)) + "</tr>" for _ in range(2))
            + "</table>")
parts.append("</body></html>")
open(os.path.join(work, "text.html"), "w", encoding="utf-8").write("\n".join(parts))

def png(w, h):
    raw = b"".join(b"\0" + bytes(random.getrandbits(8) for _ in range(w * 3)) for _ in range(h))
    chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 1)) + chunk(b"IEND", b""))
parts = ["<html><body>"]
for i in range(12):
    data = base64.b64encode(png(320, 240)).decode()
    parts.append(f"<p>Picture {i}</p><p><img src='data:image/png;base64,{data}'></p>")
    parts.extend(f"<p>{sentence(10)}</p>" for _ in range(40))
parts.append("</body></html>")
open(os.path.join(work, "pictures.html"), "w").write("\n".join(parts))
PY
HOME="$work" soffice --headless --norestore --convert-to 'rtf:Rich Text Format' --outdir "$out" \
    "$work/text.html" "$work/pictures.html" >/dev/null
ls -l "$out"/text.rtf "$out"/pictures.rtf
