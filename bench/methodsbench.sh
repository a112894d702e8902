#!/usr/bin/env bash
# Extraction speed of the zip component on entries compressed with LZMA, XZ, Zstandard and
# PPMd, against "7zz x" on the very same archive: one entry of text and programs, the
# median wall time of a few runs each, and the ratio (above 1: the component is faster).
#
#   bench/methodsbench.sh [--mb N] [--runs N] [--zipbench PATH]
#
#   --mb N         size of the entry in MiB (default 64, or $METHODSBENCH_MB)
#   --runs N       runs per measurement, the median is shown (default 3)
#   --zipbench P   the zipbench program (default: build/bin/zipbench); it loads
#                  pnvzip12.so from its own folder
#
# The LZMA and PPMd archives are written by "7zz a -tzip -mm=LZMA|PPMd"; the XZ and
# Zstandard ones hold what "xz -6 -T1" and "zstd -3" make of the file, in a zip record made
# here (no tool at hand writes them into zip archives). Every extraction is compared with
# the file. Everything is written inside one temporary folder, removed at the end.
set -euo pipefail

mb=${METHODSBENCH_MB:-64}
runs=3
zipbench=
while [ $# -gt 0 ]; do
    case "$1" in
        --mb) mb=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --zipbench) zipbench=$2; shift 2 ;;
        -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
        *) echo "methodsbench.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
here=$(cd "$(dirname "$0")" && pwd)
zipbench=${zipbench:-$here/../build/bin/zipbench}
[ -x "$zipbench" ] || { echo "methodsbench.sh: build zipbench first (cmake --build build --target zipbench)" >&2; exit 2; }
for tool in 7zz xz zstd python3; do
    command -v "$tool" >/dev/null || { echo "methodsbench.sh: $tool is missing" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/methodsbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src"
file=$work/src/data.bin
# Text (headers and documentation) and programs, repeated up to the size asked for.
sources() {
    find /usr/include /usr/share/doc /usr/share/common-licenses -type f \
        \( -name '*.h' -o -name 'copyright' -o -name '*.txt' \) -size -2M 2>/dev/null | sort
    find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k 2>/dev/null | sort | head -100
}
: > "$file"
while [ "$(stat -c %s "$file")" -lt $(( mb * 1024 * 1024 )) ]; do
    sources | xargs -d '\n' cat 2>/dev/null | head -c $(( mb * 1024 * 1024 - $(stat -c %s "$file") )) >> "$file" || true
done

# A zip archive of one entry of method $3 holding the stream in $2.
wrap() {
    python3 - "$1" "$2" "$3" "$file" <<'PY'
import os, struct, sys, zlib
archive, stream, method, original = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
crc, size = 0, 0
with open(original, "rb") as f:
    while chunk := f.read(1 << 20):
        crc, size = zlib.crc32(chunk, crc), size + len(chunk)
packed = os.path.getsize(stream)
name = b"data.bin"
local = struct.pack("<IHHHHHIIIHH", 0x04034b50, 63, 0, method, 0, 0x5a21, crc, packed, size, len(name), 0) + name
central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 63 | 3 << 8, 63, 0, method, 0, 0x5a21, crc, packed, size,
                      len(name), 0, 0, 0, 0, 0o100644 << 16, 0) + name
with open(archive, "wb") as out, open(stream, "rb") as s:
    out.write(local)
    while chunk := s.read(1 << 20):
        out.write(chunk)
    offset = len(local) + packed
    out.write(central)
    out.write(struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, 1, 1, len(central), offset, 0))
PY
}
(cd "$work/src" && 7zz a -tzip -bd -mm=LZMA data-lzma.zip data.bin >/dev/null && 7zz a -tzip -bd -mm=PPMd data-ppmd.zip data.bin >/dev/null)
xz -6 -T1 -c "$file" > "$work/data.xz" && wrap "$work/src/data-xz.zip" "$work/data.xz" 95
zstd -q -3 -c "$file" > "$work/data.zst" && wrap "$work/src/data-zstd.zip" "$work/data.zst" 93

# The median of $runs wall times (seconds) of the command, extracting into $work/out.
median() {
    local times=()
    for _ in $(seq "$runs"); do
        rm -rf "$work/out" && mkdir "$work/out"
        local start end
        start=$(date +%s.%N)
        "$@" > "$work/run.out" 2>&1 || { echo "failed" ; return; }
        end=$(date +%s.%N)
        cmp -s "$work/out/data.bin" "$file" || { echo "wrong" ; return; }
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}

echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), one entry of $mb MiB, median of $runs runs"
echo
echo "| method | archive | Parcelo | 7zz x | ratio |"
echo "|---|---:|---:|---:|---:|"
for method in lzma xz zstd ppmd; do
    archive=$work/src/data-$method.zip
    ours=$(median "$zipbench" unzip "$archive" "$work/out")
    theirs=$(median 7zz x -bd -y -o"$work/out" "$archive")
    size=$(( $(stat -c %s "$archive") / 1024 / 1024 ))
    if [[ $ours =~ ^[0-9.]+$ && $theirs =~ ^[0-9.]+$ ]]; then
        awk -v m="$method" -v s="$size" -v o="$ours" -v t="$theirs" -v mb="$mb" \
            'BEGIN { printf "| %s | %s MiB | %.2f s (%.0f MiB/s) | %.2f s | ×%.2f |\n", m, s, o, mb / o, t, t / o }'
    elif [[ $theirs =~ ^[0-9.]+$ ]]; then # not read by the component
        awk -v m="$method" -v s="$size" -v o="$ours" -v t="$theirs" \
            'BEGIN { printf "| %s | %s MiB | %s | %.2f s | |\n", m, s, (o == "failed" ? "not read" : o), t }'
    else
        printf '| %s | %s MiB | %s | %s | |\n' "$method" "$size" "$ours" "$theirs"
    fi
done
