#!/bin/sh
# Writes the documents rtfbench is measured on (see RTF-RESULTS.md) into the folder given,
# through LibreOffice Writer: text.rtf (styled text, two-level lists, small tables, Japanese)
# and pictures.rtf (large pictures that do not compress); and by hand table500.rtf and
# table2000.rtf (long tables, also with edges a few twips apart). Needs soffice and /usr/bin/python3.
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
# Long tables, written the way a word processor writes them: three columns, a cell merged down
# three rows every 50 rows; the -jitter files move every edge by up to 6 twips from row to row.
/usr/bin/python3 - "$out" <<'PY'
import os, random, sys
out = sys.argv[1]
for rows in (500, 2000):
    for jitter in (0, 6):
        random.seed(3)
        parts = ["{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}}\\pard Before the table\\par\n"]
        for r in range(rows):
            edges = [e + random.randint(-jitter, jitter) for e in (2000, 4500, 9000)]
            merge = "\\clvmgf" if r % 50 == 0 else "\\clvmrg" if r % 50 < 3 else ""
            parts.append("\\trowd\\trgaph108\\trleft-108%s\\clbrdrt\\brdrs\\brdrw10\\cellx%d\\cellx%d\\cellx%d"
                         "\\pard\\intbl Row %d left\\cell middle %d\\cell right text %d\\cell\\row\n"
                         % (merge, *edges, r, r, r))
        parts.append("\\pard After the table\\par}")
        name = "table%d%s.rtf" % (rows, "-jitter" if jitter else "")
        open(os.path.join(out, name), "w").write("".join(parts))
PY
HOME="$work" soffice --headless --norestore --convert-to 'rtf:Rich Text Format' --outdir "$out" \
    "$work/text.html" "$work/pictures.html" >/dev/null
ls -l "$out"/text.rtf "$out"/pictures.rtf "$out"/table*.rtf
