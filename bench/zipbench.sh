#!/usr/bin/env bash
# Compares the zip component (through zipbench and the built pnvzip12.so) with Info-ZIP
# "zip -6" and "unzip" on a corpus made for the run: time, archive size and peak memory,
# the median of a few runs, and the ratios between the two.
#
#   bench/zipbench.sh [--mb N] [--runs N] [--zipbench PATH]
#
#   --mb N         size of the mixed corpus file in MiB (default 256, or $ZIPBENCH_MB);
#                  the text and random files are a quarter of that each
#   --runs N       runs per measurement, the median is shown (default 3, or $ZIPBENCH_RUNS)
#   --zipbench P   the zipbench program (default: build/bin/zipbench, else build-zip/bin/zipbench,
#                  or $ZIPBENCH); it loads pnvzip12.so from its own folder
#
# Everything is written inside one temporary folder, removed at the end.
set -euo pipefail

mb=${ZIPBENCH_MB:-256}
runs=${ZIPBENCH_RUNS:-3}
zipbench=${ZIPBENCH:-}
while [ $# -gt 0 ]; do
    case "$1" in
        --mb) mb=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --zipbench) zipbench=$2; shift 2 ;;
        -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
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
for tool in zip unzip /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "zipbench.sh: $tool is missing (Debian packages zip, unzip, time)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zipbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
corpus=$work/corpus
mkdir -p "$corpus" "$work/out"

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

# ---- measuring -----------------------------------------------------------------------
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
# measure LABEL COMMAND...: runs it once, records "seconds peak_kb" in $work/m-LABEL
measure() {
    local label=$1 start end
    shift
    start=$(now)
    if ! /usr/bin/time -f %M -o "$work/mem" "$@" > "$work/cmd.out" 2>&1; then
        echo "zipbench.sh: failed: $*" >&2
        cat "$work/cmd.out" >&2
        exit 1
    fi
    end=$(now)
    echo "$(calc "$end - $start") $(tail -1 "$work/mem")" >> "$work/m-$label"
}
col() { awk -v c="$1" '{ print $c }' "$work/m-$2" | median; }

printf '%s\n' "Machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
printf '%s\n' "Runs: $runs per figure (median); zipbench: $zipbench"
printf '\n%-11s %9s | %-8s %8s %9s %10s %9s | %8s %9s %9s\n' \
    corpus MiB tool "zip s" "zip MB/s" archive "peak MB" "unzip s" "unz MB/s" "peak MB"
for file in mixed.bin text.txt random.bin; do
    src=$corpus/$file
    bytes=$(stat -c %s "$src")
    rm -f "$work"/m-*
    for run in $(seq "$runs"); do
        rm -rf "$work/out"/*
        measure ours-zip "$zipbench" zip "$src" "$work/out/ours.zip"
        measure infozip-zip zip -q -6 -j "$work/out/infozip.zip" "$src"
        mkdir "$work/out/ours" "$work/out/infozip"
        measure ours-unzip "$zipbench" unzip "$work/out/ours.zip" "$work/out/ours"
        measure infozip-unzip unzip -q "$work/out/infozip.zip" -d "$work/out/infozip"
        cmp -s "$src" "$work/out/ours/$file" || { echo "zipbench.sh: $file did not round-trip" >&2; exit 1; }
    done
    ours_size=$(stat -c %s "$work/out/ours.zip")
    infozip_size=$(stat -c %s "$work/out/infozip.zip")
    for who in ours infozip; do
        zs=$(col 1 "$who-zip"); zm=$(col 2 "$who-zip"); us=$(col 1 "$who-unzip"); um=$(col 2 "$who-unzip")
        size=$([ "$who" = ours ] && echo "$ours_size" || echo "$infozip_size")
        name=$([ "$who" = ours ] && echo "Parcelo" || echo "Info-ZIP")
        printf '%-11s %9.1f | %-8s %8.2f %9.1f %10d %9.1f | %8.2f %9.1f %9.1f\n' \
            "$file" "$(calc "$bytes / 1048576")" "$name" "$zs" "$(calc "$bytes / 1000000 / $zs")" \
            "$size" "$(calc "$zm / 1024")" "$us" "$(calc "$bytes / 1000000 / $us")" "$(calc "$um / 1024")"
        eval "${who}_zs=$zs ${who}_us=$us"
    done
    printf '%-11s %9s   ratios (Parcelo / Info-ZIP): zip speed x%.2f, archive size x%.3f, unzip speed x%.2f\n' \
        "" "" "$(calc "$infozip_zs / $ours_zs")" "$(calc "$ours_size / $infozip_size")" \
        "$(calc "$infozip_us / $ours_us")"
done
