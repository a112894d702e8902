#!/usr/bin/env bash
# Compares the zip component (through zipbench and the built pnvzip12.so) with Info-ZIP
# "zip -6" and "unzip" on a corpus made for the run: time, archive size and peak memory,
# the median of a few runs, and the ratios between the two.
#
#   bench/zipbench.sh [--mb N] [--runs N] [--zipbench PATH] [--results FILE]
#
#   --mb N         size of the mixed corpus file in MiB (default 256, or $ZIPBENCH_MB);
#                  the text and random files are a quarter of that each
#   --runs N       runs per measurement, the median is shown (default 3, or $ZIPBENCH_RUNS)
#   --zipbench P   the zipbench program (default: build/bin/zipbench, else build-zip/bin/zipbench,
#                  or $ZIPBENCH); it loads pnvzip12.so from its own folder
#   --results F    also write the figures, ratios and goals as Markdown to F
#                  (bench/RESULTS.md is the record of the last full run)
#
# Goals checked at the end (issue 5), all against Info-ZIP in the same run:
#   1. zip: mixed.bin at least 4x as fast as "zip -6" with an archive no larger;
#      text.txt at least 3x as fast, archive within 1%
#   2. unzip: at least 2.5x as fast as "unzip" on mixed.bin and text.txt
#   3. peak memory (RSS) of every zipbench run at most 32 MiB
#
# Everything is written inside one temporary folder, removed at the end.
set -euo pipefail

mb=${ZIPBENCH_MB:-256}
runs=${ZIPBENCH_RUNS:-3}
zipbench=${ZIPBENCH:-}
results=
while [ $# -gt 0 ]; do
    case "$1" in
        --mb) mb=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --zipbench) zipbench=$2; shift 2 ;;
        --results) results=$2; shift 2 ;;
        -h|--help) sed -n '2,24p' "$0"; exit 0 ;;
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

machine="$(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
printf '%s\n' "Machine: $machine" "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%s\n' "Runs: $runs per figure (median); zipbench: $zipbench"
printf '\n%-11s %9s | %-8s %8s %9s %10s %9s | %8s %9s %9s\n' \
    corpus MiB tool "zip s" "zip MB/s" archive "peak MB" "unzip s" "unz MB/s" "peak MB"
table=""   # Markdown rows of the figures
ratios=""  # Markdown rows of the ratios
peak_kb=0  # the largest peak RSS of any zipbench run
declare -A zip_ratio size_ratio unzip_ratio
for file in mixed.bin text.txt random.bin; do
    src=$corpus/$file
    bytes=$(stat -c %s "$src")
    rm -f "$work"/m-*
    for run in $(seq "$runs"); do
        rm -rf "$work/out"/*
        # Interleaved, so that a change in the machine's load hits both tools alike.
        measure ours-zip "$zipbench" zip "$src" "$work/out/ours.zip"
        measure infozip-zip zip -q -6 -j "$work/out/infozip.zip" "$src"
        mkdir "$work/out/ours" "$work/out/infozip"
        measure ours-unzip "$zipbench" unzip "$work/out/ours.zip" "$work/out/ours"
        measure infozip-unzip unzip -q "$work/out/infozip.zip" -d "$work/out/infozip"
        cmp -s "$src" "$work/out/ours/$file" || { echo "zipbench.sh: $file did not round-trip" >&2; exit 1; }
        unzip -tqq "$work/out/ours.zip" || { echo "zipbench.sh: unzip -t refuses our archive of $file" >&2; exit 1; }
    done
    for label in ours-zip ours-unzip; do
        kb=$(awk '{ print $2 }' "$work/m-$label" | sort -g | tail -1)
        [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
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
        table+="| $file | $name | $(printf '%.2f' "$zs") | $(calc "$bytes / 1000000 / $zs" | xargs printf '%.1f') | $size | $(calc "$zm / 1024" | xargs printf '%.1f') | $(printf '%.2f' "$us") | $(calc "$bytes / 1000000 / $us" | xargs printf '%.1f') | $(calc "$um / 1024" | xargs printf '%.1f') |"$'\n'
        eval "${who}_zs=$zs ${who}_us=$us"
    done
    zip_ratio[$file]=$(calc "$infozip_zs / $ours_zs" | xargs printf '%.2f')
    size_ratio[$file]=$(calc "$ours_size / $infozip_size" | xargs printf '%.4f')
    unzip_ratio[$file]=$(calc "$infozip_us / $ours_us" | xargs printf '%.2f')
    printf '%-11s %9s   ratios (Parcelo / Info-ZIP): zip speed x%s, archive size x%s, unzip speed x%s\n' \
        "" "" "${zip_ratio[$file]}" "${size_ratio[$file]}" "${unzip_ratio[$file]}"
    ratios+="| $file | x${zip_ratio[$file]} | x${size_ratio[$file]} | x${unzip_ratio[$file]} |"$'\n'
done

# ---- goals ---------------------------------------------------------------------------
ge() { awk "BEGIN { exit !($1 >= $2) }"; }
verdict() { if "$@"; then echo met; else echo MISSED; fi; }
goal1() { ge "${zip_ratio[mixed.bin]}" 4 && ge 1 "${size_ratio[mixed.bin]}" &&
          ge "${zip_ratio[text.txt]}" 3 && ge 1.01 "${size_ratio[text.txt]}"; }
goal2() { ge "${unzip_ratio[mixed.bin]}" 2.5 && ge "${unzip_ratio[text.txt]}" 2.5; }
goal3() { [ "$peak_kb" -le $(( 32 * 1024 )) ]; }
peak_mib=$(calc "$peak_kb / 1024" | xargs printf '%.1f')
goals="| 1. zip: mixed ≥ x4 speed and ≤ x1 size; text ≥ x3 speed and ≤ x1.01 size | mixed x${zip_ratio[mixed.bin]}, x${size_ratio[mixed.bin]}; text x${zip_ratio[text.txt]}, x${size_ratio[text.txt]} | $(verdict goal1) |
| 2. unzip: ≥ x2.5 speed on mixed and text | mixed x${unzip_ratio[mixed.bin]}; text x${unzip_ratio[text.txt]} | $(verdict goal2) |
| 3. peak memory of every Parcelo run ≤ 32 MiB | ${peak_mib} MiB | $(verdict goal3) |"
printf '\nGoals (issue 5), Parcelo against Info-ZIP in this run:\n'
printf '%s\n' "$goals" | sed 's/^| //; s/ |$//; s/ | /: /; s/ | / -> /'

if [ -n "$results" ]; then
    {
        echo "## Run of $(date -u '+%Y-%m-%d %H:%M UTC')"
        echo
        echo "- Machine: $machine; load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
        echo "- Command: \`bench/zipbench.sh --mb $mb --runs $runs\` (median of $runs interleaved runs)"
        echo
        echo "| corpus | tool | zip s | zip MB/s | archive bytes | zip peak MB | unzip s | unzip MB/s | unzip peak MB |"
        echo "| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
        printf '%s' "$table"
        echo
        echo "| corpus | zip speed | archive size | unzip speed |"
        echo "| --- | ---: | ---: | ---: |"
        printf '%s' "$ratios"
        echo
        echo "| goal | figure | verdict |"
        echo "| --- | --- | --- |"
        printf '%s\n' "$goals"
    } > "$results"
    echo "Figures written to $results" >&2
fi
