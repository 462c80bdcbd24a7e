#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# make bench: ferrybox-cli and the window program against cp and rsync.
#
# Builds in release mode, writes deterministic trees into a scratch folder,
# measures with hyperfine (medians of several runs, ratios taken within the
# same run) and writes the table to build/bench.md.
#
# Rows (BENCH_ROWS, any of them, separated by spaces or commas; all when
# empty):
#   full         full backup into an empty folder, warm cache
#   incremental  no-change incremental run, warm cache
#   cold         no-change incremental run, page cache dropped before every
#                run (root only)
#   share        onto a destination that answers each metadata request after
#                1 ms (FUSE): a no-change incremental run, and a full backup
#                into an empty folder against cp -a && sync -f, the two taking
#                turns
#   window       the window program on a real X server (Xvfb)
#   memory       peak memory at 200,000 files
#   leave-out    no-change incremental run of the small tree leaving out
#                half of its folders, against the same run leaving out none
#   versions     incremental runs of the small tree keeping earlier versions
#                (--keep-versions 30) against the same runs keeping none:
#                one that changes nothing, one that replaces every file
#   depth        full backup of a 3,000-level tree with a file at each of
#                seven depths, against the same tree with the seven files
#                at its bottom
#
# Environment: BENCH_RUNS (runs per command, 10; the cold row makes at
# least 3 rounds), BENCH_ROWS, BENCH_BUILD (release build folder,
# build-release), BENCH_SCRATCH (trees and destinations,
# BENCH_BUILD/bench-scratch), BENCH_REPORT (build/bench.md),
# BENCH_BASELINE (another ferrybox-cli, say an earlier version's release
# build, timed beside this one in every row but the window's).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-release}
scratch=${BENCH_SCRATCH:-$build/bench-scratch}
runs=${BENCH_RUNS:-10}
report=${BENCH_REPORT:-$root/build/bench.md}
baseline=${BENCH_BASELINE:-}
all_rows="full incremental cold share window memory leave-out versions depth"
rows=${BENCH_ROWS:-$all_rows}
rows=${rows//,/ }

log() { printf '== %s\n' "$*" >&2; }
q() { printf '%q' "$1"; }
selected() { [[ " $rows " == *" $1 "* ]]; }

for row in $rows; do
  [[ " $all_rows " == *" $row "* ]] ||
    { log "unknown row $row (rows: $all_rows)"; exit 2; }
done

# What is left running when the script ends, however it ends: the slow
# share's mount and its server, and the X server.
slow_mount=$scratch/slow-share
slowfs_pid=
xvfb_pid=
fusermount=$(command -v fusermount3 || command -v fusermount || true)

is_mounted() { findmnt --mountpoint "$1" >/dev/null 2>&1; }

unmount_slow_share() {
  if is_mounted "$slow_mount"; then
    # A program that was stopped may still hold a file open for a moment.
    for _ in 1 2 3 4 5; do
      "$fusermount" -u "$slow_mount" 2>/dev/null && break
      sleep 1
    done
    is_mounted "$slow_mount" && "$fusermount" -u -z "$slow_mount"
  fi
  if [ -n "$slowfs_pid" ]; then
    for _ in $(seq 50); do
      kill -0 "$slowfs_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$slowfs_pid" 2>/dev/null || true
    wait "$slowfs_pid" 2>/dev/null || true
    slowfs_pid=
  fi
}

stop_x_server() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  fi
}

cleanup() {
  unmount_slow_share || true
  stop_x_server
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The trees each row needs; tiny is the memory baseline and the tree of the
# window's platform check.
kinds=()
selected full || selected incremental && kinds+=(small large mixed)
selected cold && [[ " ${kinds[*]} " != *" small "* ]] && kinds+=(small)
selected window && [[ " ${kinds[*]} " != *" small "* ]] && kinds+=(small)
selected leave-out && [[ " ${kinds[*]} " != *" small "* ]] && kinds+=(small)
selected versions && [[ " ${kinds[*]} " != *" small "* ]] && kinds+=(small)
selected share && kinds+=(share)
selected memory && kinds+=(huge)
selected memory || selected window && kinds+=(tiny)

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
# A mount left by a run that was killed outright.
unmount_slow_share

# This file system skips recently freed inodes (for a minute, five more
# while their inode table block is unwritten), which slows every mass create
# right after a mass delete: deleting a bench's leftovers, some 500,000
# files, slowed `cp -a` of the small tree 6x at once and still 2x three
# minutes later. So delete what earlier runs left before anything else, and
# time file creation only five minutes after.
deleted_at=$scratch/deleted-at
if [ -n "$(ls -A "$trash")" ] || [ -e "$dst" ]; then
  log "deleting the destinations of the last run"
  rm -rf "$trash" "$dst"
  mkdir -p "$trash"
  date +%s >"$deleted_at"
fi

# Trees are kept between runs and made again when the generator changes.
generator_sum=$(sha256sum "$root/bench/make_tree.cc" | cut -d' ' -f1)
for kind in "${kinds[@]}"; do
  if [ "$(cat "$trees/$kind.done" 2>/dev/null)" != "$generator_sum" ]; then
    log "making the $kind tree"
    if [ -e "$trees/$kind" ] || [ -e "$complete/$kind" ]; then
      rm -rf "${trees:?}/$kind" "${complete:?}/$kind"
      date +%s >"$deleted_at"
    fi
    "$make_tree" "$kind" "$trees/$kind"
    echo "$generator_sum" >"$trees/$kind.done"
  fi
done

# Complete destinations for the no-change runs, checked against their
# source: a benchmark of a wrong copy would mean nothing.
for kind in "${kinds[@]}"; do
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

if [ -f "$deleted_at" ] && { selected full || selected window; }; then
  wait=$(($(cat "$deleted_at") + 300 - $(date +%s)))
  if [ "$wait" -gt 0 ]; then
    log "waiting ${wait}s for the file system to settle after deletes"
    sleep "$wait"
  fi
fi

# Other work on the machine distorts every figure: note the load.
load_before=$(cut -d' ' -f1 /proc/loadavg)

# The baseline's hyperfine arguments for one command, in `extra`: its name,
# then its arguments, already quoted. Nothing without a baseline.
extra=()
baseline_args() {
  extra=()
  [ -z "$baseline" ] || extra=(-n "baseline $1" "$(q "$baseline") $2")
}

# One round of ferrybox-cli against another command, in `order`: ROUND,
# then the name and command of each. The two take turns to go first, the
# baseline's arguments (`extra`) right after ferrybox-cli's.
turn_order() {
  if (($1 % 2)); then
    order=(-n "$2" "$3" "${extra[@]}" -n "$4" "$5")
  else
    order=(-n "$4" "$5" "${extra[@]}" -n "$2" "$3")
  fi
}

hyper() {
  local name=$1
  shift
  hyperfine --style basic --runs "$runs" --export-csv "$results/$name.csv" \
    "$@" >&2
}

if selected full; then
  for kind in small large mixed; do
    src=$trees/$kind
    log "full backup, $kind tree"
    baseline_args ferrybox-cli "$(q "$src") $(q "$dst")"
    hyper "full-$kind" --warmup 1 \
      --prepare "$(q "$fresh") $(q "$dst") $(q "$trash")" \
      -n ferrybox-cli "$(q "$cli") $(q "$src") $(q "$dst")" "${extra[@]}" \
      -n "cp -a" "cp -a $(q "$src")/. $(q "$dst")" \
      -n "cp -a && sync -f" \
      "cp -a $(q "$src")/. $(q "$dst") && sync -f $(q "$dst")" \
      -n "rsync -a" "rsync -a $(q "$src")/ $(q "$dst")/" \
      -n "rsync -aW" "rsync -aW $(q "$src")/ $(q "$dst")/"
  done
fi

if selected incremental; then
  for kind in small large mixed; do
    src=$trees/$kind
    log "no-change incremental run, $kind tree"
    baseline_args "ferrybox-cli --incremental" \
      "--incremental $(q "$src") $(q "$complete/$kind")"
    hyper "incremental-$kind" --warmup 2 \
      -n "ferrybox-cli --incremental" \
      "$(q "$cli") --incremental $(q "$src") $(q "$complete/$kind")" \
      "${extra[@]}" \
      -n "rsync -a" "rsync -a $(q "$src")/ $(q "$complete/$kind")/"
  done
fi

# Half of the small tree's folders: four of the eight top-level subtrees,
# whose folders and files the run never reads. The destination stays
# complete, since leaving out deletes nothing.
leave_out_pattern='/folder-1-00[0-3]/'
if selected leave-out; then
  src=$trees/small
  log "no-change incremental run, small tree, half its folders left out"
  hyper leave-out --warmup 2 \
    -n "ferrybox-cli --incremental" \
    "$(q "$cli") --incremental $(q "$src") $(q "$complete/small")" \
    -n "ferrybox-cli --incremental --exclude" \
    "$(q "$cli") --incremental --exclude $(q "$leave_out_pattern") $(q "$src") $(q "$complete/small")"
fi

# Earlier versions kept: a run that changes nothing must cost no more, and
# one that replaces every file of the small tree (its source's times all
# moved, the destination a complete backup again before each run) at most
# 1.3x the same run keeping nothing.
if selected versions; then
  src=$trees/small
  log "incremental runs of the small tree, versions kept and not"
  hyper versions-none --warmup 2 \
    -n "ferrybox-cli --incremental" \
    "$(q "$cli") --incremental $(q "$src") $(q "$complete/small")" \
    -n "ferrybox-cli --incremental --keep-versions 30" \
    "$(q "$cli") --incremental --keep-versions 30 $(q "$src") $(q "$complete/small")"
  touched=$scratch/touched-small
  rm -rf "$touched"
  cp -a "$src" "$touched"
  find "$touched" -type f -exec touch -m -d 2020-01-01 {} +
  replace_dst=$scratch/replace-dst
  # The earlier backup is on the disk before each run, as last night's is:
  # otherwise a run keeping nothing replaces copies never written out,
  # while one keeping them must write them first.
  prepare="$(q "$fresh") $(q "$replace_dst") $(q "$trash") && cp -a $(q "$complete/small")/. $(q "$replace_dst") && sync -f $(q "$replace_dst")"
  hyper versions-all --warmup 1 --prepare "$prepare" \
    -n "ferrybox-cli --incremental" \
    "$(q "$cli") --incremental $(q "$touched") $(q "$replace_dst")" \
    -n "ferrybox-cli --incremental --keep-versions 30" \
    "$(q "$cli") --incremental --keep-versions 30 $(q "$touched") $(q "$replace_dst")"
fi

# Depth: a run's cost grows with its entries, not with depth times entries.
# Two chains of 3,000 folders: one with a file at each of seven depths
# (every 3,000/7 levels), one with the seven files at its bottom. The
# levels are made by handle, one below the other: their paths are longer
# than the system's path limit.
if selected depth; then
  for spread in seven bottom; do
    tree=$trees/depth-$spread
    if [ ! -f "$tree.done" ]; then
      log "making the $spread depth tree"
      rm -rf "$tree"
      python3 - "$tree" "$spread" <<'PY'
import os, sys
root, spread = sys.argv[1], sys.argv[2]
levels = 3000
depths = [levels * k // 7 for k in range(1, 8)]
if spread == "bottom":
    depths = [levels] * 7
os.makedirs(root)
fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
for level in range(1, levels + 1):
    os.mkdir("d", dir_fd=fd)
    below = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
    os.close(fd)
    fd = below
    for i, depth in enumerate(depths):
        if depth == level:
            f = os.open("f%d" % i, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
            os.write(f, b"x" * 1000)
            os.close(f)
PY
      touch "$tree.done"
    fi
  done
  log "full backup of a 3,000-level tree, files at seven depths and at one"
  # Moved aside whole: its paths are too long for fresh_destination.sh's
  # truncate, and its seven files too small to matter.
  depth_fresh="if [ -e $(q "$dst") ]; then mv $(q "$dst") $(q "$trash")/depth-\$(date +%s%N); fi; mkdir -p $(q "$dst")"
  hyper depth --warmup 1 --prepare "$depth_fresh" \
    -n "seven depths" "$(q "$cli") $(q "$trees/depth-seven") $(q "$dst")" \
    -n "one depth" "$(q "$cli") $(q "$trees/depth-bottom") $(q "$dst")"
fi

# The window program on a real X server, which paints as a desktop does.
# One server for the whole row, so that its start is not timed.
start_x_server() {
  local display_file=$scratch/xvfb-display
  : >"$display_file"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 \
    3>"$display_file" 2>"$scratch/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$display_file" ] ||
    { log "the X server did not start: $(tail -n 3 "$scratch/xvfb.log")"; exit 1; }
  DISPLAY=:$(head -n 1 "$display_file")
  export DISPLAY QT_QPA_PLATFORM=xcb
  if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    mkdir -p "$scratch/runtime"
    chmod 700 "$scratch/runtime"
    export XDG_RUNTIME_DIR=$scratch/runtime
  fi
}

if selected window; then
  log "window program on an X server, small tree"
  start_x_server
  # The driver falls back to the offscreen platform when none is named:
  # make sure it is the X server's that is timed.
  platform=$("$window" --print-platform "$trees/tiny" "$scratch/platform-check")
  rm -rf "$scratch/platform-check"
  [ "$platform" = xcb ] ||
    { log "the window program ran on $platform, not xcb"; exit 1; }
  src=$trees/small
  hyper window --warmup 1 --prepare "$(q "$fresh") $(q "$dst") $(q "$trash")" \
    -n ferrybox-cli "$(q "$cli") $(q "$src") $(q "$dst")" \
    -n "window Show Files clear" "$(q "$window") $(q "$src") $(q "$dst")" \
    -n "window Show Files ticked" \
    "$(q "$window") --show-files $(q "$src") $(q "$dst")" \
    -n "ferrybox-cli --show-files" \
    "$(q "$cli") --show-files $(q "$src") $(q "$dst")"
  stop_x_server
  unset DISPLAY QT_QPA_PLATFORM
fi

# Peak memory of a no-change run with the program's default settings:
# median of three, 200,000 files against one file.
peak_kb() { # program, source, destination
  local samples=()
  for _ in 1 2 3; do
    samples+=("$( { /usr/bin/time -v "$1" --incremental "$2" "$3" \
      >/dev/null; } 2>&1 | awk -F': ' '/Maximum resident set size/ {print $2}')")
  done
  printf '%s\n' "${samples[@]}" | sort -n | sed -n 2p
}
if selected memory; then
  log "peak memory"
  huge_kb=$(peak_kb "$cli" "$trees/huge" "$complete/huge")
  tiny_kb=$(peak_kb "$cli" "$trees/tiny" "$complete/tiny")
  if [ -n "$baseline" ]; then
    base_huge_kb=$(peak_kb "$baseline" "$trees/huge" "$complete/huge")
    base_tiny_kb=$(peak_kb "$baseline" "$trees/tiny" "$complete/tiny")
  fi
  huge_files=$(find "$trees/huge" -type f | wc -l)
fi

# Cold cache: the page cache is dropped before every run of every command,
# as for a nightly backup. hyperfine times one command after the other, so
# each round is a call of its own, the commands taking turns to go first.
cold_note=
cold_rounds=$((runs < 3 ? 3 : runs))
drop_caches="sync; echo 3 > /proc/sys/vm/drop_caches"
if selected cold; then
  if [ "$(id -u)" != 0 ]; then
    cold_note="skipped: dropping the page cache needs root"
  elif ! sh -c "$drop_caches" 2>/dev/null; then
    cold_note="skipped: /proc/sys/vm/drop_caches cannot be written here"
  fi
fi
if selected cold && [ -z "$cold_note" ]; then
  log "no-change incremental run, small tree, cold cache ($cold_rounds rounds)"
  src=$trees/small
  cold_fb=("ferrybox-cli --incremental"
    "$(q "$cli") --incremental $(q "$src") $(q "$complete/small")")
  cold_rs=("rsync -a" "rsync -a $(q "$src")/ $(q "$complete/small")/")
  baseline_args "ferrybox-cli --incremental" \
    "--incremental $(q "$src") $(q "$complete/small")"
  # Each command once untimed, so that every timed run finds nothing to do.
  sh -c "${cold_rs[1]} && ${cold_fb[1]}" >/dev/null
  for ((round = 1; round <= cold_rounds; round++)); do
    turn_order "$round" "${cold_fb[@]}" "${cold_rs[@]}"
    hyperfine --style basic --runs 1 --prepare "$drop_caches" \
      --export-csv "$results/cold-round-$round.csv" "${order[@]}" >&2
  done
  # The rounds' times, as one table in hyperfine's columns.
  {
    echo "command,mean,stddev,median"
    for name in "${cold_fb[0]}" "${cold_rs[0]}" "baseline ${cold_fb[0]}"; do
      awk -F, -v name="$name" 'FNR > 1 && $1 == name { print $4 }' \
        "$results"/cold-round-*.csv | sort -g |
        awk -v name="$name" '{ t[NR] = $1 }
          END { m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
                printf "%s,,,%s\n", name, m }'
    done
  } >"$results/cold.csv"
fi

# A share one round trip away: the complete backup of the 2,000-file tree,
# mounted again through a passthrough that waits 1 ms before answering each
# metadata request, then a folder for full backups mounted the same way.
# The source stays local.
share_note=
mount_slow_share() { # the folder mounted
  local log_file=$scratch/slowfs.log
  if [ ! -c /dev/fuse ]; then
    share_note="skipped: no /dev/fuse"
    return
  fi
  if [ -z "$fusermount" ]; then
    share_note="skipped: no fusermount"
    return
  fi
  if ! /usr/bin/python3 -c 'import fusepy' 2>/dev/null; then
    share_note="skipped: python3-fusepy is missing"
    return
  fi
  mkdir -p "$slow_mount"
  /usr/bin/python3 "$root/bench/slowfs.py" "$1" "$slow_mount" 1 \
    >"$log_file" 2>&1 &
  slowfs_pid=$!
  for _ in $(seq 100); do
    is_mounted "$slow_mount" && return
    kill -0 "$slowfs_pid" 2>/dev/null || break
    sleep 0.1
  done
  # libfuse's reason comes first.
  share_note="skipped: the FUSE mount failed ($(head -n 1 "$log_file"))"
  unmount_slow_share
}
if selected share; then
  log "no-change incremental run onto a share 1 ms away, 2,000 files"
  mount_slow_share "$complete/share"
fi
if selected share && [ -z "$share_note" ]; then
  src=$trees/share
  baseline_args "ferrybox-cli --incremental" \
    "--incremental $(q "$src") $(q "$slow_mount")"
  hyper share --warmup 1 \
    -n "ferrybox-cli --incremental" \
    "$(q "$cli") --incremental $(q "$src") $(q "$slow_mount")" \
    "${extra[@]}" \
    -n "rsync -a" "rsync -a $(q "$src")/ $(q "$slow_mount")/"
  unmount_slow_share
fi

# Full backups onto the share, each into an empty folder: the last one is
# moved aside on the backing folder, outside the timed part and without
# the share's delays (removing 2,000 files through it takes seconds). Each
# round times every command once, the commands taking turns to go first.
share_full_rounds=$((runs < 3 ? 3 : runs))
if selected share && [ -z "$share_note" ]; then
  log "full backup onto a share 1 ms away, 2,000 files ($share_full_rounds rounds)"
  share_backing=$scratch/share-full
  mkdir -p "$share_backing"
  mount_slow_share "$share_backing"
fi
if selected share && [ -z "$share_note" ]; then
  src=$trees/share
  share_dst=$slow_mount/dst
  share_fb=(ferrybox-cli "$(q "$cli") $(q "$src") $(q "$share_dst")")
  share_cp=("cp -a && sync -f"
    "cp -a $(q "$src")/. $(q "$share_dst") && sync -f $(q "$share_dst")")
  baseline_args ferrybox-cli "$(q "$src") $(q "$share_dst")"
  for ((round = 1; round <= share_full_rounds; round++)); do
    turn_order "$round" "${share_fb[@]}" "${share_cp[@]}"
    hyperfine --style basic --runs 1 \
      --prepare "$(q "$fresh") $(q "$share_backing/dst") $(q "$trash")" \
      --export-csv "$results/share-full-round-$round.csv" "${order[@]}" >&2
  done
  # The rounds' times, as one table in hyperfine's columns.
  {
    echo "command,mean,stddev,median"
    for name in "${share_fb[0]}" "${share_cp[0]}" "baseline ${share_fb[0]}"; do
      awk -F, -v name="$name" 'FNR > 1 && $1 == name { print $4 }' \
        "$results"/share-full-round-*.csv | sort -g |
        awk -v name="$name" '{ t[NR] = $1 }
          END { if (!NR) exit
                m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
                printf "%s,,,%s\n", name, m }'
    done
  } >"$results/share-full.csv"
  unmount_slow_share
fi

load_after=$(cut -d' ' -f1 /proc/loadavg)

if selected full || selected window; then
  log "clearing the destinations"
  rm -rf "$trash" "$dst"
  mkdir -p "$trash"
  date +%s >"$deleted_at"
fi

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
# The table of a no-change row timed on one tree: its CSV name, the tree.
one_tree_table() {
  local f r
  echo "| tree | ferrybox-cli --incremental | rsync -a | ÷ rsync -a |"
  echo "|---|---:|---:|---:|"
  f=$(median "$1" "ferrybox-cli --incremental")
  r=$(median "$1" "rsync -a")
  echo "| $2 | $(secs "$f") | $(secs "$r") | $(ratio "$f" "$r") |"
}
# One line of the targets: its text, then the row it belongs to and either
# a skip note or the measured value, its limit and "strict" for "<".
target() {
  local text=$1 row=$2 note=$3
  shift 3
  if ! selected "$row"; then
    echo "| $text | | not measured (BENCH_ROWS) |"
  elif [ -n "$note" ]; then
    echo "| $text | | $note |"
  else
    echo "| $text | $1 | $(verdict "$@") |"
  fi
}

{
  echo "# Ferrybox benchmark"
  echo
  echo "$(date -u +%Y-%m-%d), $(uname -sr), $(nproc) CPUs," \
    "$(df -T "$scratch" | awk 'NR == 2 { print $2 }') scratch file system." \
    "Medians of $runs runs with hyperfine $(hyperfine --version |
      cut -d' ' -f2), warm cache unless said. Load average $load_before" \
    "before, $load_after after."
  if awk -v a="$load_before" -v b="$load_after" 'BEGIN { exit !(a > 1.5 || b > 1.5) }'; then
    echo
    echo "**The machine was busy while this ran: the figures are unreliable.**"
  fi
  if [ "$rows" != "$all_rows" ]; then
    echo
    echo "Rows measured: $rows."
  fi
  echo
  echo "Trees: small = 20,000 files of 1-8 KiB in 400 folders, 4 levels;" \
    "large = 4 files of 256 MiB; mixed = 4,000 files from empty to 16 MiB" \
    "in 100 folders; share = 2,000 files of 1-8 KiB in 40 folders;" \
    "huge = 200,000 files of up to 64 bytes in 2,000 folders."
  if selected full; then
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
  fi
  if selected incremental; then
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
  fi
  if selected cold; then
    echo
    echo "## No-change incremental run, cold cache"
    echo
    if [ -n "$cold_note" ]; then
      echo "${cold_note^}."
    else
      echo "Page cache dropped before every run of every command; medians of"
      echo "$cold_rounds rounds, the commands taking turns to go first."
      echo
      one_tree_table cold small
    fi
  fi
  if selected share; then
    echo
    echo "## No-change incremental run onto a share 1 ms away"
    echo
    if [ -n "$share_note" ]; then
      echo "${share_note^}."
    else
      echo "The destination answers each metadata request after 1 ms (a FUSE"
      echo "passthrough that keeps no attributes); the source is local."
      echo
      one_tree_table share share
      echo
      echo "Full backup of the share tree into an empty folder on the share;"
      echo "medians of $share_full_rounds rounds, the commands taking turns to go first."
      echo
      echo "| tree | ferrybox-cli | cp -a && sync -f | ÷ cp -a && sync -f |"
      echo "|---|---:|---:|---:|"
      f=$(median share-full ferrybox-cli)
      c=$(median share-full "cp -a && sync -f")
      echo "| share | $(secs "$f") | $(secs "$c") | $(ratio "$f" "$c") |"
    fi
  fi
  if selected window; then
    echo
    echo "## The window program on an X server, full backup of the small tree"
    echo
    echo "| program | median | ÷ ferrybox-cli |"
    echo "|---|---:|---:|"
    base=$(median window ferrybox-cli)
    for name in ferrybox-cli "window Show Files clear" \
      "window Show Files ticked" "ferrybox-cli --show-files"; do
      m=$(median window "$name")
      echo "| $name | $(secs "$m") | $(ratio "$m" "$base") |"
    done
  fi
  if selected memory; then
    echo
    echo "## Peak memory of a no-change incremental run"
    echo
    per_file=$(awk -v h="$huge_kb" -v t="$tiny_kb" -v n="$huge_files" \
      'BEGIN { printf "%.0f", (h - t) * 1024 / n }')
    echo "| files | peak RSS | baseline (1 file) | bytes per file |"
    echo "|---:|---:|---:|---:|"
    echo "| $huge_files | $huge_kb KiB | $tiny_kb KiB | $per_file |"
  fi
  if selected leave-out; then
    echo
    echo "## No-change incremental run leaving out half of the small tree"
    echo
    echo "Leaving out \`$leave_out_pattern\` (228 of its 400 folders)."
    echo
    echo "| run | median | ÷ leaving out nothing |"
    echo "|---|---:|---:|"
    n=$(median leave-out "ferrybox-cli --incremental")
    l=$(median leave-out "ferrybox-cli --incremental --exclude")
    echo "| leaving out nothing | $(secs "$n") | 1.00 |"
    echo "| leaving out half | $(secs "$l") | $(ratio "$l" "$n") |"
  fi
  if selected versions; then
    echo
    echo "## Incremental runs of the small tree keeping earlier versions"
    echo
    echo "| run | keeping none | --keep-versions 30 | ÷ keeping none |"
    echo "|---|---:|---:|---:|"
    for what in none all; do
      n=$(median "versions-$what" "ferrybox-cli --incremental")
      k=$(median "versions-$what" "ferrybox-cli --incremental --keep-versions 30")
      label="no change"
      [ "$what" = all ] && label="every file replaced"
      echo "| $label | $(secs "$n") | $(secs "$k") | $(ratio "$k" "$n") |"
    done
  fi
  if selected depth; then
    echo
    echo "## Full backup of a 3,000-level tree"
    echo
    echo "| files | median | ÷ one depth |"
    echo "|---|---:|---:|"
    o=$(median depth "one depth")
    s=$(median depth "seven depths")
    echo "| seven at its bottom | $(secs "$o") | 1.00 |"
    echo "| one at each of seven depths | $(secs "$s") | $(ratio "$s" "$o") |"
  fi
  if [ -n "$baseline" ]; then
    echo
    echo "## Against the baseline"
    echo
    echo "The baseline is $baseline, timed in the same hyperfine calls."
    echo
    echo "| row | ferrybox-cli | baseline | ÷ baseline |"
    echo "|---|---:|---:|---:|"
    against() { # row label, CSV name, command name
      local f b
      [ -f "$results/$2.csv" ] || return 0
      f=$(median "$2" "$3")
      b=$(median "$2" "baseline $3")
      [ -n "$f" ] && [ -n "$b" ] || return 0
      echo "| $1 | $(secs "$f") | $(secs "$b") | $(ratio "$f" "$b") |"
    }
    for kind in small large mixed; do
      selected full && against "full, $kind" "full-$kind" ferrybox-cli
    done
    for kind in small large mixed; do
      selected incremental && against "no-change incremental, $kind" \
        "incremental-$kind" "ferrybox-cli --incremental"
    done
    selected cold && against "cold cache" cold "ferrybox-cli --incremental"
    selected share && against share share "ferrybox-cli --incremental"
    selected share && against "full onto the share" share-full ferrybox-cli
    if selected memory; then
      base_per_file=$(awk -v h="$base_huge_kb" -v t="$base_tiny_kb" \
        -v n="$huge_files" 'BEGIN { printf "%.0f", (h - t) * 1024 / n }')
      echo "| memory, bytes per file | $per_file | $base_per_file | $(ratio "$per_file" "$base_per_file") |"
    fi
  fi
  echo
  echo "## Targets"
  echo
  echo "| target | measured | |"
  echo "|---|---:|---|"
  for kind in small large; do
    x=
    selected full &&
      x=$(ratio "$(median "full-$kind" ferrybox-cli)" \
        "$(median "full-$kind" "cp -a && sync -f")")
    target "full, $kind files ≤ 0.9 × cp -a && sync -f" full "" "$x" 0.9
  done
  for kind in small large mixed; do
    x=
    selected incremental &&
      x=$(ratio "$(median "incremental-$kind" "ferrybox-cli --incremental")" \
        "$(median "incremental-$kind" "rsync -a")")
    target "no-change incremental, $kind ≤ 0.5 × rsync -a" incremental "" \
      "$x" 0.5
  done
  x=
  selected cold && [ -z "$cold_note" ] &&
    x=$(ratio "$(median cold "ferrybox-cli --incremental")" \
      "$(median cold "rsync -a")")
  target "no-change incremental, cold cache ≤ 0.5 × rsync -a" cold \
    "$cold_note" "$x" 0.5
  x=
  selected share && [ -z "$share_note" ] &&
    x=$(ratio "$(median share "ferrybox-cli --incremental")" \
      "$(median share "rsync -a")")
  target "no-change incremental, share 1 ms away ≤ 0.25 × rsync -a" share \
    "$share_note" "$x" 0.25
  x=
  selected share && [ -z "$share_note" ] &&
    x=$(ratio "$(median share-full ferrybox-cli)" \
      "$(median share-full "cp -a && sync -f")")
  target "full, share tree onto the share 1 ms away ≤ 0.5 × cp -a && sync -f" \
    share "$share_note" "$x" 0.5
  for ticked in clear ticked; do
    x=
    selected window &&
      x=$(ratio "$(median window "window Show Files $ticked")" \
        "$(median window ferrybox-cli)")
    limit=1.2
    [ "$ticked" = ticked ] && limit=2
    target "window on X, Show Files $ticked ≤ $limit × ferrybox-cli" window "" \
      "$x" "$limit"
  done
  target "memory < 250 bytes per file at 200,000 files" memory "" \
    "${per_file:-}" 250 strict
  x=
  selected leave-out &&
    x=$(ratio "$(median leave-out "ferrybox-cli --incremental --exclude")" \
      "$(median leave-out "ferrybox-cli --incremental")")
  target "no-change incremental, half the small tree left out ≤ 0.55 × none" \
    leave-out "" "$x" 0.55
  x=
  selected versions &&
    x=$(ratio "$(median versions-all "ferrybox-cli --incremental --keep-versions 30")" \
      "$(median versions-all "ferrybox-cli --incremental")")
  target "every file of the small tree replaced, versions kept ≤ 1.3 × none" \
    versions "" "$x" 1.3
  x=
  selected depth &&
    x=$(ratio "$(median depth "seven depths")" "$(median depth "one depth")")
  target "3,000-level tree, files at seven depths ≤ 3 × at one depth" depth "" \
    "$x" 3
} >"$results/bench.md"

mkdir -p "$(dirname "$report")"
cp "$results/bench.md" "$report"
cat "$report"
