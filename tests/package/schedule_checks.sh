# SPDX-License-Identifier: GPL-3.0-or-later
# Scheduled backups, sourced by package_test.sh with the package unpacked
# in $root: the two units are accepted for a profile whose name holds a
# space, and the service's command line backs up that profile from the
# per-user folder, in the environment a systemd user manager gives.
# shellcheck shell=bash disable=SC2154  # root, scratch, fail: package_test.sh
units=$root/usr/lib/systemd/user
service=$units/ferrybox-backup@.service
instance=$(systemd-escape 'two words')

# Every program the service starts is in the package.
while read -r program; do
  [[ -x $root$program ]] || fail "$service starts $program, not in the package"
done < <(grep -oE '^Exec[A-Za-z]*=[-:@+!]*/[^ ]+' "$service" | sed 's/^[^/]*//')

# systemd-analyze wants the programs on disk: a copy of the units names
# the unpacked ones. Any warning fails too.
mkdir -p "$scratch/units" "$scratch/run"
sed "s|=\([-:@+!]*\)/usr/|=\1$root/usr/|" "$service" \
  >"$scratch/units/ferrybox-backup@.service"
cp "$units/ferrybox-backup@.timer" "$scratch/units/"
if ! verify=$(XDG_RUNTIME_DIR=$scratch/run MANPATH=$root/usr/share/man \
  timeout 60 systemd-analyze verify --user \
  "$scratch/units/ferrybox-backup@$instance.service" \
  "$scratch/units/ferrybox-backup@$instance.timer" 2>&1) || [[ -n $verify ]]; then
  fail "systemd-analyze verify: $verify"
fi

# The service's command line with %I filled in, run as /usr/bin/ferrybox-cli
# (the unpacked programs mounted over /usr/bin in a mount namespace of its
# own) with HOME and without XDG_CONFIG_HOME.
home=$scratch/home
mkdir -p "$home/.config/ferrybox/profiles" "$scratch/src/sub"
echo data >"$scratch/src/sub/file.txt"
printf '%s\r\n%s\r\n 0 \r\n 0 \r\n 1 \r\n' "$scratch/src" "$scratch/dst" \
  >"$home/.config/ferrybox/profiles/two words.prf"
read -ra command <<<"$(sed -n 's/^ExecStart=:\{0,1\}//p' "$service")"
command=("${command[@]//%I/$(systemd-escape --unescape "$instance")}")
if unshare --mount true 2>/dev/null; then
  # shellcheck disable=SC2016  # the inner shell expands them
  env -i HOME="$home" PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 \
    timeout 60 unshare --mount sh -c \
    'mount --bind "$1" /usr/bin && shift && exec "$@"' sh "$root/usr/bin" \
    "${command[@]}" >"$scratch/run.log" 2>&1 ||
    { cat "$scratch/run.log"; fail "the service's command line: ${command[*]}"; }
  [[ $(cat "$scratch/dst/sub/file.txt" 2>/dev/null) == data ]] ||
    fail "the service's run did not back up the profile"
  [[ -f $home/.config/ferrybox/filelog.txt ]] ||
    fail "the service's run kept no copy log in ~/.config/ferrybox"
else
  echo "note: the service's command line was not run: no mount namespace"
fi
