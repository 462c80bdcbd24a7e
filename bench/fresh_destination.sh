#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# fresh_destination.sh DESTINATION TRASH: moves the last destination into
# TRASH and creates an empty one. Deleting it would slow the next run's
# file creation; emptying its files first lets the next run reuse their
# memory pages while they are warm.
set -eu
dst=$1
trash=$2
if [ -e "$dst" ]; then
  find "$dst" -type f -size +0 -exec truncate -s 0 {} +
  mv "$dst" "$trash/$(date +%s%N)"
fi
mkdir -p "$dst"
