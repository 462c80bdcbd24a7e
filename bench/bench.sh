#!/usr/bin/env bash
# make bench: ferrybox-cli and the window program against cp and rsync.
#
# Builds in release mode, writes deterministic trees into a scratch folder,
# measures with hyperfine (warm cache, medians of several runs, ratios taken
# within the same run) and writes the table to build/bench.md.
#
# Environment: BENCH_RUNS (runs per command, 10), BENCH_BUILD (release
# build folder, build-release), BENCH_SCRATCH (trees and destinations,
# BENCH_BUILD/bench-scratch), BENCH_REPORT (build/bench.md).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-release}
scratch=${BENCH_SCRATCH:-$build/bench-scratch}
runs=${BENCH_RUNS:-10}
report=${BENCH_REPORT:-$root/build/bench.md}

log() { printf '== %s\n' "$*" >&2; }
q() { printf '%q' "$1"; }

log "release build in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target ferrybox-cli ferrybox-bench-window \
  make-bench-tree

cli=$build/ferrybox-cli
window=$build/bench/ferrybox-bench-window
make_tree=$build/bench/make-bench-tree
fresh=$root/bench/fresh_destination.sh

trees=$scratch/trees
complete=$scratch/complete
trash=$scratch/trash
results=$scratch/results
dst=$scratch/dst
mkdir -p "$trees" "$complete" "$trash" "$results"
rm -f "$results"/*.csv

# This file system skips recently freed inodes for about a minute, which
# slows every mass create right after a mass delete: delete what earlier
# runs left before anything else, and measure only once a minute has
# passed.
deleted_at=$scratch/deleted-at
if [ -n "$(ls -A "$trash")" ] || [ -e "$dst" ]; then
  log "deleting the destinations of the last run"
  rm -rf "$trash" "$dst"
  mkdir -p "$trash"
  date +%s >"$deleted_at"
fi

# Trees are kept between runs and made again when the generator changes.
generator_sum=$(sha256sum "$root/bench/make_tree.cc" | cut -d' ' -f1)
for kind in small large mixed huge tiny; do
  if [ "$(cat "$trees/$kind.done" 2>/dev/null)" != "$generator_sum" ]; then
    log "making the $kind tree"
    if [ -e "$trees/$kind" ] || [ -e "$complete/$kind" ]; then
      rm -rf "$trees/$kind" "$complete/$kind"
      date +%s >"$deleted_at"
    fi
    "$make_tree" "$kind" "$trees/$kind"
    echo "$generator_sum" >"$trees/$kind.done"
  fi
done

# Complete destinations for the no-change runs, checked against their
# source: a benchmark of a wrong copy would mean nothing.
for kind in small large mixed huge tiny; do
  if [ ! -d "$complete/$kind" ]; then
    log "first full backup of the $kind tree"
    "$cli" "$trees/$kind" "$complete/$kind" >/dev/null
  fi
  "$cli" --incremental "$trees/$kind" "$complete/$kind" >/dev/null
  if [ "$kind" != huge ]; then
    diff -r "$trees/$kind" "$complete/$kind" >/dev/null ||
      { log "the $kind backup differs from its source"; exit 1; }
  fi
done
sync

if [ -f "$deleted_at" ]; then
  wait=$(($(cat "$deleted_at") + 65 - $(date +%s)))
  if [ "$wait" -gt 0 ]; then
    log "waiting ${wait}s for the file system to settle after deletes"
    sleep "$wait"
  fi
fi

# Other work on the machine distorts every figure: note the load.
load_before=$(cut -d' ' -f1 /proc/loadavg)

hyper() {
  local name=$1
  shift
  hyperfine --style basic --runs "$runs" --export-csv "$results/$name.csv" \
    "$@" >&2
}

for kind in small large mixed; do
  src=$trees/$kind
  log "full backup, $kind tree"
  hyper "full-$kind" --warmup 1 --prepare "$(q "$fresh") $(q "$dst") $(q "$trash")" \
    -n ferrybox-cli "$(q "$cli") $(q "$src") $(q "$dst")" \
    -n "cp -a" "cp -a $(q "$src")/. $(q "$dst")" \
    -n "cp -a && sync -f" "cp -a $(q "$src")/. $(q "$dst") && sync -f $(q "$dst")" \
    -n "rsync -a" "rsync -a $(q "$src")/ $(q "$dst")/" \
    -n "rsync -aW" "rsync -aW $(q "$src")/ $(q "$dst")/"
done

for kind in small large mixed; do
  src=$trees/$kind
  log "no-change incremental run, $kind tree"
  hyper "incremental-$kind" --warmup 2 \
    -n "ferrybox-cli --incremental" \
    "$(q "$cli") --incremental $(q "$src") $(q "$complete/$kind")" \
    -n "rsync -a" "rsync -a $(q "$src")/ $(q "$complete/$kind")/"
done

log "window program, small tree"
src=$trees/small
hyper window --warmup 1 --prepare "$(q "$fresh") $(q "$dst") $(q "$trash")" \
  -n ferrybox-cli "$(q "$cli") $(q "$src") $(q "$dst")" \
  -n "window Show Files clear" "$(q "$window") $(q "$src") $(q "$dst")" \
  -n "window Show Files ticked" \
  "$(q "$window") --show-files $(q "$src") $(q "$dst")" \
  -n "ferrybox-cli --show-files" \
  "$(q "$cli") --show-files $(q "$src") $(q "$dst")"

# Peak memory of a no-change run: median of three, 200,000 files against
# one file.
peak_kb() {
  local samples=()
  for _ in 1 2 3; do
    samples+=("$( { /usr/bin/time -v "$cli" --incremental "$1" "$2" \
      >/dev/null; } 2>&1 | awk -F': ' '/Maximum resident set size/ {print $2}')")
  done
  printf '%s\n' "${samples[@]}" | sort -n | sed -n 2p
}
log "peak memory"
huge_kb=$(peak_kb "$trees/huge" "$complete/huge")
tiny_kb=$(peak_kb "$trees/tiny" "$complete/tiny")
huge_files=$(find "$trees/huge" -type f | wc -l)

load_after=$(cut -d' ' -f1 /proc/loadavg)

log "clearing the destinations"
rm -rf "$trash" "$dst"
mkdir -p "$trash"
date +%s >"$deleted_at"

# The table.
median() { # CSV name, command name
  awk -F, -v name="$2" '$1 == name { print $4 }' "$results/$1.csv"
}
secs() { awk -v t="$1" 'BEGIN { printf "%.3f s", t }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { # value, limit, strict
  awk -v v="$1" -v l="$2" -v s="${3:-}" \
    'BEGIN { print ((s ? v < l : v <= l) ? "met" : "missed") }'
}

{
  echo "# Ferrybox benchmark"
  echo
  echo "$(date -u +%Y-%m-%d), $(uname -sr), $(nproc) CPUs," \
    "$(df -T "$scratch" | awk 'NR == 2 { print $2 }') scratch file system." \
    "Medians of $runs runs with hyperfine $(hyperfine --version |
      cut -d' ' -f2), warm cache. Load average $load_before before," \
    "$load_after after."
  if awk -v a="$load_before" -v b="$load_after" 'BEGIN { exit !(a > 1.5 || b > 1.5) }'; then
    echo
    echo "**The machine was busy while this ran: the figures are unreliable.**"
  fi
  echo
  echo "Trees: small = 20,000 files of 1-8 KiB in 400 folders, 4 levels;" \
    "large = 4 files of 256 MiB; mixed = 4,000 files from empty to 16 MiB" \
    "in 100 folders."
  echo
  echo "## Full backup into an empty destination"
  echo
  echo "ferrybox-cli ends once the backup is on the disk; \`cp -a && sync -f\`"
  echo "is the same promise made with cp."
  echo
  echo "| tree | ferrybox-cli | cp -a | cp -a && sync -f | rsync -a | rsync -aW | ÷ cp -a | ÷ cp -a && sync -f | ÷ rsync -a |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  for kind in small large mixed; do
    f=$(median "full-$kind" ferrybox-cli)
    c=$(median "full-$kind" "cp -a")
    s=$(median "full-$kind" "cp -a && sync -f")
    r=$(median "full-$kind" "rsync -a")
    w=$(median "full-$kind" "rsync -aW")
    echo "| $kind | $(secs "$f") | $(secs "$c") | $(secs "$s") | $(secs "$r") | $(secs "$w") | $(ratio "$f" "$c") | $(ratio "$f" "$s") | $(ratio "$f" "$r") |"
  done
  echo
  echo "## No-change incremental run over a complete destination"
  echo
  echo "| tree | ferrybox-cli --incremental | rsync -a | ÷ rsync -a |"
  echo "|---|---:|---:|---:|"
  for kind in small large mixed; do
    f=$(median "incremental-$kind" "ferrybox-cli --incremental")
    r=$(median "incremental-$kind" "rsync -a")
    echo "| $kind | $(secs "$f") | $(secs "$r") | $(ratio "$f" "$r") |"
  done
  echo
  echo "## The window program, full backup of the small tree"
  echo
  echo "| program | median | ÷ ferrybox-cli |"
  echo "|---|---:|---:|"
  base=$(median window ferrybox-cli)
  for name in ferrybox-cli "window Show Files clear" \
    "window Show Files ticked" "ferrybox-cli --show-files"; do
    m=$(median window "$name")
    echo "| $name | $(secs "$m") | $(ratio "$m" "$base") |"
  done
  echo
  echo "## Peak memory of a no-change incremental run"
  echo
  per_file=$(awk -v h="$huge_kb" -v t="$tiny_kb" -v n="$huge_files" \
    'BEGIN { printf "%.0f", (h - t) * 1024 / n }')
  echo "| files | peak RSS | baseline (1 file) | bytes per file |"
  echo "|---:|---:|---:|---:|"
  echo "| $huge_files | $huge_kb KiB | $tiny_kb KiB | $per_file |"
  echo
  echo "## Targets"
  echo
  echo "| target | measured | |"
  echo "|---|---:|---|"
  x=$(ratio "$(median full-small ferrybox-cli)" "$(median full-small "cp -a")")
  echo "| full, small files ≤ 1.0 × cp -a | $x | $(verdict "$x" 1.0) |"
  x=$(ratio "$(median full-small ferrybox-cli)" "$(median full-small "rsync -a")")
  echo "| full, small files < rsync -a | $x | $(verdict "$x" 1.0 strict) |"
  x=$(ratio "$(median full-large ferrybox-cli)" "$(median full-large "cp -a")")
  echo "| full, large files ≤ 1.1 × cp -a | $x | $(verdict "$x" 1.1) |"
  for kind in small large mixed; do
    x=$(ratio "$(median "incremental-$kind" "ferrybox-cli --incremental")" \
      "$(median "incremental-$kind" "rsync -a")")
    echo "| no-change incremental, $kind ≤ 0.5 × rsync -a | $x | $(verdict "$x" 0.5) |"
  done
  x=$(ratio "$(median window "window Show Files clear")" "$base")
  echo "| window, Show Files clear ≤ 1.2 × ferrybox-cli | $x | $(verdict "$x" 1.2) |"
  x=$(ratio "$(median window "window Show Files ticked")" "$base")
  echo "| window, Show Files ticked ≤ 2 × ferrybox-cli | $x | $(verdict "$x" 2) |"
  echo "| memory < 250 bytes per file | $per_file | $(verdict "$per_file" 250 strict) |"
} >"$results/bench.md"

mkdir -p "$(dirname "$report")"
cp "$results/bench.md" "$report"
cat "$report"
