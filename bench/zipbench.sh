#!/usr/bin/env bash
# Compares the zip component (through zipbench and the built pnvzip12.so) with Info-ZIP
# "zip -6" and "unzip", pigz ("pigz -K", zip output, every core) and 7-Zip's zip mode
# ("7zz a -tzip", every core) on corpora made for the run: time, archive size and peak
# memory, the median of a few runs, and the ratios against Info-ZIP.
#
#   bench/zipbench.sh [--mb N] [--runs N] [--files N] [--entries N] [--zipbench PATH] [--results FILE]
#
#   --mb N         size of the mixed corpus file in MiB (default 256, or $ZIPBENCH_MB);
#                  the text and random files are a quarter of that each, the documentation
#                  file 40 MiB at most
#   --runs N       runs per measurement, the median is shown (default 3, or $ZIPBENCH_RUNS)
#   --files N      files in the many-file archive (default 20000, or $ZIPBENCH_FILES)
#   --entries N    entries in the many-entry archive (default 100000, or $ZIPBENCH_ENTRIES)
#   --zipbench P   the zipbench program (default: build/bin/zipbench, else build-zip/bin/zipbench,
#                  or $ZIPBENCH); it loads pnvzip12.so from its own folder
#   --results F    also write the figures, ratios and goals as Markdown to F
#                  (bench/RESULTS.md is the record of the last full run)
#   --tree-only    only the tree row (below), without the other corpora
#   --tree N       files in the tree row (default 20000, or $ZIPBENCH_TREE)
#
# The tree row: N real files (documentation and manual pages as installed, in their folders)
# zipped whole by Parcelo (ZipPaths), "zip -r -6", "7zz a -tzip" and, for reference,
# "tar -c | pigz", once with the tree and the archive in memory (/dev/shm) and once on disk
# ($TMPDIR), with the archive sizes. Goals: in memory at least 3x "zip -r -6" at no larger
# size; on disk faster than all three.
#
# Corpora: mixed.bin (text, programs and compressed data in 1 MiB pieces), text.txt,
# random.bin, docs.bin (a folder of documentation concatenated: small gzip files with
# text between them) and many-files.zip (an Info-ZIP archive of small files in nested
# folders, extracted only) and many-entries.zip (Python's zipfile: tiny files in 100-file
# folders, extracted once by Parcelo for its peak memory). Every archive Parcelo makes is checked by "unzip -t", "7zz t"
# and Python's zipfile, and compared with libdeflate level 6 on each 1 MiB piece alone.
#
# Goals checked at the end, all against Info-ZIP in the same run:
#   1. zip speed: mixed.bin at least 4x "zip -6" (the CPU time of each tool is shown
#      too: on a busy machine it tells more than the wall time)
#   2. archive size on every corpus: no larger than "zip -6"'s, and within 0.3% of
#      libdeflate level 6 on each 1 MiB piece alone
#   3. unzip: one large entry at least 2.5x "unzip" (mixed.bin and text.txt); the
#      many-file archive at least 1.5x
#   4. peak memory (RSS) of every zipbench run at most 32 MiB, many-entries.zip included
#   5. shapes that cost time with the square of their size when handled naively, each
#      extracted in under 2 s: one file 8,000 folders deep (deep.zip) and 10,000 entries
#      all named same.txt (same-name.zip), both made by Python's zipfile; on disk, with
#      their CPU time, and no run right after files were removed (see below); in memory
#      too, for reference
#
# Everything is written inside one temporary folder, removed at the end.
set -euo pipefail

mb=${ZIPBENCH_MB:-256}
runs=${ZIPBENCH_RUNS:-3}
files=${ZIPBENCH_FILES:-20000}
entries=${ZIPBENCH_ENTRIES:-100000}
zipbench=${ZIPBENCH:-}
results=
tree_files=${ZIPBENCH_TREE:-20000}
tree_only=0
while [ $# -gt 0 ]; do
    case "$1" in
        --mb) mb=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --files) files=$2; shift 2 ;;
        --entries) entries=$2; shift 2 ;;
        --zipbench) zipbench=$2; shift 2 ;;
        --results) results=$2; shift 2 ;;
        --tree) tree_files=$2; shift 2 ;;
        --tree-only) tree_only=1; shift ;;
        -h|--help) sed -n '2,46p' "$0"; exit 0 ;;
        *) echo "zipbench.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

here=$(cd "$(dirname "$0")" && pwd)
if [ -z "$zipbench" ]; then
    for candidate in "$here/../build/bin/zipbench" "$here/../build-zip/bin/zipbench"; do
        if [ -x "$candidate" ]; then zipbench=$candidate; break; fi
    done
fi
[ -n "$zipbench" ] && [ -x "$zipbench" ] || { echo "zipbench.sh: build zipbench first (cmake --build build)" >&2; exit 2; }
for tool in zip unzip /usr/bin/time pigz 7zz python3; do
    command -v "$tool" >/dev/null || {
        echo "zipbench.sh: $tool is missing (Debian packages zip, unzip, time, pigz, 7zip, python3)" >&2; exit 2; }
done
cores=$(nproc)

work=$(mktemp -d "${TMPDIR:-/tmp}/zipbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
corpus=$work/corpus
mkdir -p "$corpus" "$work/out"

# ---- measuring -----------------------------------------------------------------------
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
num() { printf "%.${1}f" "$2"; }
# measure LABEL COMMAND...: runs it once, records "seconds peak_kb cpu_seconds" in $work/m-LABEL
measure() {
    local label=$1 start end
    shift
    start=$(now)
    if ! /usr/bin/time -f '%M %U %S' -o "$work/mem" "$@" > "$work/cmd.out" 2>&1; then
        echo "zipbench.sh: failed: $*" >&2
        cat "$work/cmd.out" >&2
        exit 1
    fi
    end=$(now)
    echo "$(calc "$end - $start") $(tail -1 "$work/mem" | awk '{ printf "%d %.2f", $1, $2 + $3 }')" >> "$work/m-$label"
}
col() { awk -v c="$1" '{ print $c }' "$work/m-$2" | median; }
peak_of() { awk '{ print $2 }' "$work/m-$1" | sort -g | tail -1; }

# ---- the tree row --------------------------------------------------------------------
# tree_row PLACE FOLDER: copies the tree into FOLDER, zips it there with every tool and
# prints one line per tool: seconds (median), CPU seconds, archive bytes.
tree_row() {
    local place=$1 base=$2 label tool s c size
    rm -rf "$base" && mkdir -p "$base/in" "$base/out"
    (cd / && head -n "$tree_files" "$work/tree-list" | xargs -d '\n' cp --parents -t "$base/in")
    sync
    for tool in parcelo zip 7zz pigz; do
        label=tree-$place-$tool
        : > "$work/m-$label"
        for _ in $(seq "$runs"); do
            rm -f "$base/out/"*
            case $tool in
                parcelo) measure "$label" "$zipbench" zip "$base/in/usr" "$base/out/a.zip" ;;
                zip) (cd "$base/in" && measure "$label" zip -q -r -6 "$base/out/a.zip" usr) ;;
                7zz) (cd "$base/in" && measure "$label" 7zz a -tzip -bd -bso0 "$base/out/a.zip" usr) ;;
                pigz) (cd "$base/in" && measure "$label" sh -c 'tar -c usr | pigz -6 > "$1"' sh "$base/out/a.tar.gz") ;;
            esac
        done
        size=$(stat -c %s "$base/out/"a.*)
        [ "$tool" = parcelo ] && { unzip -tq "$base/out/a.zip" > /dev/null || { echo "zipbench.sh: unzip -t refuses the tree archive" >&2; exit 1; }; }
        s=$(col 1 "$label"); c=$(col 3 "$label")
        echo "$tool $s $c $size"
    done
    rm -rf "$base"
}
find /usr/share/doc /usr/share/man -type f 2>/dev/null | sort > "$work/tree-list"
tree_bytes=$(head -n "$tree_files" "$work/tree-list" | xargs -d '\n' stat -c %s | awk '{ s += $1 } END { print s }')
tree_report() {
    local place=$1 rows=$2 zs zsize
    read -r _ zs _ zsize < <(grep '^zip ' <<< "$rows")
    printf '%s\n' "$rows" | while read -r tool s c size; do
        printf '  %-8s %-8s %7.2f s %7.2f s CPU %11d bytes   vs zip -r -6: x%s faster, size x%s\n' "$place" "$tool" "$s" "$c" "$size" \
            "$(num 2 "$(calc "$zs / $s")")" "$(num 3 "$(calc "$size / $zsize")")"
    done
}
tree_section() {
    local in_memory on_disk shm
    shm=$(mktemp -d /dev/shm/zipbench-tree.XXXXXX)
    in_memory=$(tree_row memory "$shm/t")
    rmdir "$shm"
    on_disk=$(tree_row disk "$work/tree-row")
    printf '\nTree: %d files from /usr/share/doc and /usr/share/man, %.1f MB; load average %s\n' \
        "$tree_files" "$(calc "$tree_bytes / 1000000")" "$(cut -d' ' -f1-3 /proc/loadavg)"
    tree_report memory "$in_memory"
    tree_report disk "$on_disk"
    local ps zs zsize psize
    read -r _ ps _ psize < <(grep '^parcelo ' <<< "$in_memory")
    read -r _ zs _ zsize < <(grep '^zip ' <<< "$in_memory")
    tree_goal1=$(awk -v p="$ps" -v z="$zs" -v ps="$psize" -v zz="$zsize" 'BEGIN { print (z / p >= 3 && ps <= zz) ? "met" : "NOT met" }')
    read -r _ ps _ _ < <(grep '^parcelo ' <<< "$on_disk")
    tree_goal2=$(grep -v '^parcelo ' <<< "$on_disk" | awk -v p="$ps" '$2 <= p { bad = 1 } END { print bad ? "NOT met" : "met" }')
    printf '  goals: in memory >= x3 zip -r -6 at no larger size: %s; on disk faster than all three: %s\n' "$tree_goal1" "$tree_goal2"
}
if [ "$tree_only" = 1 ]; then
    printf 'Machine: %s cores; runs: %s per figure (median); zipbench: %s\n' "$cores" "$runs" "$zipbench"
    tree_section
    exit 0
fi

# ---- corpus --------------------------------------------------------------------------
# Fills a file to exactly $2 MiB by repeating what the command $3... prints.
fill() {
    local file=$1 size=$(( $2 * 1024 * 1024 )) have
    shift 2
    : > "$file"
    while have=$(stat -c %s "$file") && [ "$have" -lt "$size" ]; do
        { "$@" || true; } | head -c $(( size - have )) >> "$file" || true
    done
}
text_source() {
    # Headers, documentation and manuals: real-world text and source code.
    find /usr/include /usr/share/doc /usr/share/common-licenses -type f \
        \( -name '*.h' -o -name 'copyright' -o -name '*.txt' -o -name '*.md' -o -name 'GPL*' \) \
        -size -2M 2>/dev/null | sort | head -20000 | xargs -d '\n' cat 2>/dev/null
}
binary_source() {
    # Shared libraries and programs as installed.
    find /usr/lib/x86_64-linux-gnu /usr/bin -maxdepth 1 -type f -size +100k 2>/dev/null | sort | head -400 |
        xargs -d '\n' cat 2>/dev/null
}
compressed_source() {
    # Data that is compressed already: gzip and xz streams of the binaries.
    binary_source | head -c $(( 48 * 1024 * 1024 )) | gzip -6
    binary_source | head -c $(( 16 * 1024 * 1024 )) | xz -0 -T1 2>/dev/null || true
}
quarter=$(( mb / 4 > 0 ? mb / 4 : 1 ))
third=$(( mb / 3 > 0 ? mb / 3 : 1 ))
echo "Building the corpus in $work ..." >&2
fill "$work/part-text" "$third" text_source
fill "$work/part-binary" "$third" binary_source
fill "$work/part-compressed" "$(( mb - 2 * third > 0 ? mb - 2 * third : 1 ))" compressed_source
# Interleave the three kinds in 1 MiB pieces, as a real mixed file (an image, a tarball) has them.
split -b 1M -d -a 5 "$work/part-text" "$work/piece-t"
split -b 1M -d -a 5 "$work/part-binary" "$work/piece-b"
split -b 1M -d -a 5 "$work/part-compressed" "$work/piece-c"
for i in $(seq -f '%05g' 0 $(( mb ))); do
    for kind in t b c; do
        [ -f "$work/piece-$kind$i" ] && cat "$work/piece-$kind$i"
    done
done > "$corpus/mixed.bin"
rm -f "$work"/piece-* "$work"/part-*
fill "$corpus/text.txt" "$quarter" text_source
head -c $(( quarter * 1024 * 1024 )) /dev/urandom > "$corpus/random.bin"
docs_source() {
    # A folder of documentation read through: small gzip files with text between them.
    find /usr/share/doc -type f 2>/dev/null | sort | xargs -d '\n' cat 2>/dev/null
}
fill "$corpus/docs.bin" "$(( mb < 40 ? mb : 40 ))" docs_source
# Small real files (headers, documentation, Python modules, translations, icons) spread
# over 8 x 12 x 12 nested folders, zipped by Info-ZIP; only extracted.
python3 - "$work/tree" "$files" <<'PY'
import os, shutil, sys
root, count = sys.argv[1], int(sys.argv[2])
picked = []
for top in ("/usr/include", "/usr/share/doc", "/usr/lib/python3", "/usr/share/locale", "/usr/share/icons"):
    for folder, dirs, names in os.walk(top):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path) and 0 < os.path.getsize(path) < 28000:
                picked.append(path)
for k, path in enumerate(picked[:count]):
    leaf = k % (8 * 12 * 12)
    folder = os.path.join(root, "part%d" % (leaf // 144), "section%02d" % (leaf // 12 % 12), "chapter%02d" % (leaf % 12))
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(path, os.path.join(folder, "%05d-%s" % (k, os.path.basename(path))))
PY
(cd "$work/tree" && zip -q -r -6 "$corpus/many-files.zip" .)
many_files=$(find "$work/tree" -type f | wc -l)
many_folders=$(find "$work/tree" -mindepth 1 -type d | wc -l)
many_bytes=$(find "$work/tree" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
rm -rf "$work/tree"
# A very large directory of tiny entries: what the extraction keeps per entry shows here.
python3 - "$corpus/many-entries.zip" "$entries" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(int(sys.argv[2])):
        z.writestr("d%04d/e%07d.txt" % (i // 100, i), "entry %d\n" % i)
PY

# ---- measuring -----------------------------------------------------------------------
# The size of libdeflate level 6 on each 1 MiB piece alone, a piece kept as stored blocks
# where that is smaller: what the pieces can give at best.
piece_reference() {
    python3 - "$1" <<'PY'
import ctypes, sys
lib = ctypes.CDLL("libdeflate.so.0")
lib.libdeflate_alloc_compressor.restype = ctypes.c_void_p
lib.libdeflate_deflate_compress.restype = ctypes.c_size_t
lib.libdeflate_deflate_compress.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t]
c = lib.libdeflate_alloc_compressor(6)
piece = 1 << 20
out = ctypes.create_string_buffer(2 * piece)
total = 0
with open(sys.argv[1], "rb") as f:
    while True:
        data = f.read(piece)
        if not data:
            break
        stored = len(data) + 5 * ((len(data) + 65534) // 65535)
        n = lib.libdeflate_deflate_compress(c, data, len(data), out, len(out))
        total += min(n, stored) if n else stored
print(total)
PY
}
# Our archives must satisfy three readers nobody here wrote.
check_archive() {
    unzip -tqq "$1" > "$work/check.out" 2>&1 || { echo "zipbench.sh: unzip -t refuses $1" >&2; cat "$work/check.out" >&2; exit 1; }
    7zz t -bd "$1" > "$work/check.out" 2>&1 || { echo "zipbench.sh: 7zz t refuses $1" >&2; cat "$work/check.out" >&2; exit 1; }
    python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' "$1" \
        > "$work/check.out" 2>&1 || { echo "zipbench.sh: Python zipfile refuses $1" >&2; cat "$work/check.out" >&2; exit 1; }
}

machine="$cores cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
printf '%s\n' "Machine: $machine" "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%s\n' "Runs: $runs per figure (median); zipbench: $zipbench"
printf '\n%-12s %7s | %-9s %7s %7s %8s %11s %8s | %7s %8s %8s\n' \
    corpus MiB tool "zip s" "CPU s" "zip MB/s" archive "peak MB" "unzip s" "unz MB/s" "peak MB"
table=""   # Markdown rows of the figures
ratios=""  # Markdown rows of the ratios
peak_kb=0  # the largest peak RSS of any zipbench run
declare -A zip_ratio cpu_ratio size_ratio ref_ratio unzip_ratio
# row CORPUS BYTES TOOL ZIP-LABEL SIZE UNZIP-LABEL: one line of figures, printed and kept
row() {
    local file=$1 bytes=$2 name=$3 zl=$4 size=$5 ul=$6 zs zm zc us um
    zs=$(col 1 "$zl"); zm=$(col 2 "$zl"); zc=$(col 3 "$zl")
    local zip_md="| $(num 2 "$zs") | $(num 2 "$zc") | $(num 1 "$(calc "$bytes / 1000000 / $zs")") | $size | $(num 1 "$(calc "$zm / 1024")")"
    local zip_txt
    zip_txt=$(printf '%7.2f %7.2f %8.1f %11d %8.1f' "$zs" "$zc" "$(calc "$bytes / 1000000 / $zs")" "$size" "$(calc "$zm / 1024")")
    local unzip_md="| – | – | –" unzip_txt
    unzip_txt=$(printf '%7s %8s %8s' - - -)
    if [ -n "$ul" ]; then
        us=$(col 1 "$ul"); um=$(col 2 "$ul")
        unzip_md="| $(num 2 "$us") | $(num 1 "$(calc "$bytes / 1000000 / $us")") | $(num 1 "$(calc "$um / 1024")")"
        unzip_txt=$(printf '%7.2f %8.1f %8.1f' "$us" "$(calc "$bytes / 1000000 / $us")" "$(calc "$um / 1024")")
    fi
    printf '%-12s %7.1f | %-9s %s | %s\n' "$file" "$(calc "$bytes / 1048576")" "$name" "$zip_txt" "$unzip_txt"
    table+="| $file | $name $zip_md $unzip_md |"$'\n'
}
for file in mixed.bin text.txt random.bin docs.bin; do
    src=$corpus/$file
    bytes=$(stat -c %s "$src")
    rm -f "$work"/m-*
    for run in $(seq "$runs"); do
        rm -rf "$work/out"/*
        # Interleaved, so that a change in the machine's load hits every tool alike.
        measure ours-zip "$zipbench" zip "$src" "$work/out/ours.zip"
        measure infozip-zip zip -q -6 -j "$work/out/infozip.zip" "$src"
        measure pigz-zip sh -c 'pigz -K -6 -p "$1" -c "$2" > "$3"' sh "$cores" "$src" "$work/out/pigz.zip"
        measure 7z-zip 7zz a -tzip -bd -mmt="$cores" "$work/out/7z.zip" "$src"
        mkdir "$work/out/ours" "$work/out/infozip" "$work/out/7z"
        measure ours-unzip "$zipbench" unzip "$work/out/ours.zip" "$work/out/ours"
        measure infozip-unzip unzip -q "$work/out/infozip.zip" -d "$work/out/infozip"
        measure 7z-unzip 7zz x -bd -y -o"$work/out/7z" "$work/out/infozip.zip"
        cmp -s "$src" "$work/out/ours/$file" || { echo "zipbench.sh: $file did not round-trip" >&2; exit 1; }
    done
    check_archive "$work/out/ours.zip"
    unzip -tqq "$work/out/pigz.zip" || { echo "zipbench.sh: unzip -t refuses pigz's archive of $file" >&2; exit 1; }
    for label in ours-zip ours-unzip; do
        kb=$(peak_of "$label")
        [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
    done
    ours_size=$(stat -c %s "$work/out/ours.zip")
    infozip_size=$(stat -c %s "$work/out/infozip.zip")
    reference=$(piece_reference "$src")
    row "$file" "$bytes" Parcelo ours-zip "$ours_size" ours-unzip
    row "$file" "$bytes" Info-ZIP infozip-zip "$infozip_size" infozip-unzip
    row "$file" "$bytes" "pigz -K" pigz-zip "$(stat -c %s "$work/out/pigz.zip")" ""
    row "$file" "$bytes" 7-Zip 7z-zip "$(stat -c %s "$work/out/7z.zip")" 7z-unzip
    zip_ratio[$file]=$(num 2 "$(calc "$(col 1 infozip-zip) / $(col 1 ours-zip)")")
    cpu_ratio[$file]=$(num 2 "$(calc "$(col 3 infozip-zip) / $(col 3 ours-zip)")")
    size_ratio[$file]=$(num 4 "$(calc "$ours_size / $infozip_size")")
    ref_ratio[$file]=$(num 4 "$(calc "$ours_size / $reference")")
    unzip_ratio[$file]=$(num 2 "$(calc "$(col 1 infozip-unzip) / $(col 1 ours-unzip)")")
    printf '%-12s %7s   Parcelo / Info-ZIP: zip speed x%s (CPU time x%s), archive x%s, unzip speed x%s; archive / libdeflate 6 per piece (%d) x%s\n' \
        "" "" "${zip_ratio[$file]}" "${cpu_ratio[$file]}" "${size_ratio[$file]}" "${unzip_ratio[$file]}" "$reference" "${ref_ratio[$file]}"
    ratios+="| $file | x${zip_ratio[$file]} | x${cpu_ratio[$file]} | x${size_ratio[$file]} | x${ref_ratio[$file]} | x${unzip_ratio[$file]} |"$'\n'
done

# The many-file archive: extraction only, every tool from the same archive.
many=$corpus/many-files.zip
rm -f "$work"/m-*
for run in $(seq "$runs"); do
    rm -rf "$work/out"/*
    mkdir "$work/out/ours" "$work/out/infozip" "$work/out/7z"
    measure ours-unzip "$zipbench" unzip "$many" "$work/out/ours"
    measure infozip-unzip unzip -q "$many" -d "$work/out/infozip"
    measure 7z-unzip 7zz x -bd -y -o"$work/out/7z" "$many"
done
diff -r "$work/out/infozip" "$work/out/ours" > /dev/null || { echo "zipbench.sh: many-files.zip extracts differently from unzip" >&2; exit 1; }
kb=$(peak_of ours-unzip)
[ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
many_label="many-files.zip ($many_files files, $many_folders folders, $(num 1 "$(calc "$many_bytes / 1048576")") MiB)"
printf '\n%s, archive %d bytes, extracted by:\n' "$many_label" "$(stat -c %s "$many")"
many_md=""
for who in ours:Parcelo infozip:Info-ZIP 7z:7-Zip; do
    us=$(col 1 "${who%%:*}-unzip"); um=$(col 2 "${who%%:*}-unzip")
    printf '  %-9s %7.2f s %8.1f MB/s %8.1f peak MB\n' "${who#*:}" "$us" "$(calc "$many_bytes / 1000000 / $us")" "$(calc "$um / 1024")"
    many_md+="| ${who#*:} | $(num 2 "$us") | $(num 1 "$(calc "$many_bytes / 1000000 / $us")") | $(num 1 "$(calc "$um / 1024")") |"$'\n'
done
many_ratio=$(num 2 "$(calc "$(col 1 infozip-unzip) / $(col 1 ours-unzip)")")
printf '  Parcelo / Info-ZIP: unzip speed x%s\n' "$many_ratio"

# The many-entry archive: extracted once, by Parcelo only, for its peak memory.
rm -f "$work"/m-*
rm -rf "$work/out"/*
mkdir "$work/out/ours"
measure ours-unzip "$zipbench" unzip "$corpus/many-entries.zip" "$work/out/ours"
extracted=$(find "$work/out/ours" -type f | wc -l)
[ "$extracted" -eq "$entries" ] || { echo "zipbench.sh: many-entries.zip gave $extracted files, not $entries" >&2; exit 1; }
entries_kb=$(peak_of ours-unzip)
[ "$entries_kb" -gt "$peak_kb" ] && peak_kb=$entries_kb
entries_label="many-entries.zip ($entries entries of a few bytes in $(( (entries + 99) / 100 )) folders)"
entries_line=$(printf '%s, extracted by Parcelo: %.2f s, %.1f peak MB' "$entries_label" "$(col 1 ours-unzip)" "$(calc "$entries_kb / 1024")")
printf '\n%s\n' "$entries_line"

# Hostile shapes: Parcelo only (Info-ZIP cannot make a path 8,000 folders deep).
python3 - "$corpus/deep.zip" "$corpus/same-name.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("d/" * 8000 + "bottom.txt", "at the bottom\n")
with zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(10000):
        z.writestr("same.txt", "copy %d\n" % (i + 1))
PY
shapes_md=""
shapes_txt=""
shapes_max=0
# Each run extracts into a folder of its own, and what the rows before left is removed
# only after these rows: ext4 without a journal, when it makes a file, scans past every
# inode freed lately (seconds, or minutes while their blocks are not written back), so a
# run after thousands of files were removed times that scan more than the extraction.
# Each shape is extracted in memory (/dev/shm) as well: the extraction's own cost; the
# goal is judged on disk.
shapes_shm=$(mktemp -d /dev/shm/zipbench-shapes.XXXXXX)
trap 'rm -rf "$work" "$shapes_shm"' EXIT
mkdir -p "$work/shapes"
for shape in deep same-name; do
    line=$(printf '  %-14s' "$shape.zip")
    md="| $shape.zip"
    for place in disk memory; do
        base=$work/shapes
        [ "$place" = memory ] && base=$shapes_shm
        rm -f "$work"/m-*
        for run in $(seq "$runs"); do
            mkdir "$base/$shape-$run"
            measure ours-unzip "$zipbench" unzip "$corpus/$shape.zip" "$base/$shape-$run"
        done
        [ "$shape" != same-name ] || grep -q '^copy 10000$' "$base/$shape-1/same (10000).txt" ||
            { echo "zipbench.sh: same-name.zip: same (10000).txt does not hold the last copy" >&2; exit 1; }
        us=$(col 1 ours-unzip); uc=$(col 3 ours-unzip)
        [ "$place" = memory ] || { awk "BEGIN { exit !($us > $shapes_max) }" && shapes_max=$us; }
        line+=$(printf '   %-6s %6.2f s %6.2f s CPU %6.1f peak MB' "$place" "$us" "$uc" "$(calc "$(peak_of ours-unzip) / 1024")")
        md+=" | $(num 2 "$us") | $(num 2 "$uc") | $(num 1 "$(calc "$(peak_of ours-unzip) / 1024")")"
    done
    shapes_txt+="$line"$'\n'
    shapes_md+="$md |"$'\n'
done
rm -rf "$work/shapes" "$work/out" "$shapes_shm"
mkdir -p "$work/out"
printf '\nHostile shapes (deep.zip: one file 8,000 folders deep; same-name.zip: 10,000 x same.txt), extracted by Parcelo:\n%s' "$shapes_txt"

# ---- goals ---------------------------------------------------------------------------
ge() { awk "BEGIN { exit !($1 >= $2) }"; }
verdict() { if "$@"; then echo met; else echo MISSED; fi; }
goal1() { ge "${zip_ratio[mixed.bin]}" 4; }
goal2() {
    local file
    for file in mixed.bin text.txt random.bin docs.bin; do ge 1 "${size_ratio[$file]}" || return 1; done
    for file in mixed.bin text.txt random.bin docs.bin; do ge 1.003 "${ref_ratio[$file]}" || return 1; done
}
goal3() { ge "${unzip_ratio[mixed.bin]}" 2.5 && ge "${unzip_ratio[text.txt]}" 2.5 && ge "$many_ratio" 1.5; }
goal4() { [ "$peak_kb" -le $(( 32 * 1024 )) ]; }
goal5() { awk "BEGIN { exit !($shapes_max < 2) }"; }
peak_mib=$(num 1 "$(calc "$peak_kb / 1024")")
sizes=""
for file in mixed.bin text.txt random.bin docs.bin; do
    sizes+="${sizes:+; }${file%.*} x${size_ratio[$file]} (x${ref_ratio[$file]})"
done
goals="| 1. zip speed: mixed ≥ x4 | mixed x${zip_ratio[mixed.bin]}; text x${zip_ratio[text.txt]} | $(verdict goal1) |
| 2. archive ≤ x1 of zip -6 and ≤ x1.003 of libdeflate 6 per 1 MiB piece (in brackets) | $sizes | $(verdict goal2) |
| 3. unzip: one large entry ≥ x2.5 (mixed, text), many files ≥ x1.5 | mixed x${unzip_ratio[mixed.bin]}; text x${unzip_ratio[text.txt]}; many files x$many_ratio | $(verdict goal3) |
| 4. peak memory of every Parcelo run ≤ 32 MiB | ${peak_mib} MiB (many-entries.zip $(num 1 "$(calc "$entries_kb / 1024")") MiB) | $(verdict goal4) |
| 5. deep.zip and same-name.zip each < 2 s | slowest $(num 2 "$shapes_max") s | $(verdict goal5) |"
printf '\nGoals, Parcelo against Info-ZIP in this run:\n'
printf '%s\n' "$goals" | sed 's/^| //; s/ |$//; s/ | /: /; s/ | / -> /'

if [ -n "$results" ]; then
    {
        echo "## Run of $(date -u '+%Y-%m-%d %H:%M UTC')"
        echo
        echo "- Machine: $machine; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
        echo "- Command: \`bench/zipbench.sh --mb $mb --runs $runs --files $files --entries $entries\` (median of $runs interleaved runs)"
        echo
        echo "| corpus | tool | zip s | zip CPU s | zip MB/s | archive bytes | zip peak MB | unzip s | unzip MB/s | unzip peak MB |"
        echo "| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
        printf '%s' "$table"
        echo
        echo "$many_label, $(stat -c %s "$many") bytes made by \`zip -r -6\`, extracted by:"
        echo
        echo "| tool | unzip s | unzip MB/s | unzip peak MB |"
        echo "| --- | ---: | ---: | ---: |"
        printf '%s' "$many_md"
        echo
        echo "$entries_line."
        echo
        echo "Hostile shapes, extracted by Parcelo:"
        echo
        echo "| archive | on disk: unzip s | CPU s | peak MB | in memory: unzip s | CPU s | peak MB |"
        echo "| --- | ---: | ---: | ---: | ---: | ---: | ---: |"
        printf '%s' "$shapes_md"
        echo
        echo "| corpus | zip speed | zip CPU time (Info-ZIP / Parcelo) | archive size | archive / libdeflate 6 per piece | unzip speed |"
        echo "| --- | ---: | ---: | ---: | ---: | ---: |"
        printf '%s' "$ratios"
        echo "| many-files.zip | | | | | x$many_ratio |"
        echo
        echo "| goal | figure | verdict |"
        echo "| --- | --- | --- |"
        printf '%s\n' "$goals"
    } > "$results"
    echo "Figures written to $results" >&2
fi
