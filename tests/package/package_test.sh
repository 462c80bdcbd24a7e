#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package as `make package` does and checks what a user
# gets from it: the file list, the control fields, programs that run, and
# desktop entry, software-centre metadata and manual pages that their own
# tools accept, Debian's own checkers, lintian and hardening-check, and the
# scheduled-backup units. Each step is a test of its own, so that each has
# its own time limit; `build` makes the package the others check.
# Usage: package_test.sh build DIR CPACK CPACK_CONFIG VERSION
#        package_test.sh contents|lintian|schedule DIR VERSION [hardened]
set -u
export LC_ALL=C
step=$1
dir=$2
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if [[ $step == build ]]; then
  cpack=$3
  config=$4
  version=$5
  rm -rf "$dir"
  mkdir -p "$dir"
  "$cpack" --config "$config" -B "$dir" >"$dir/cpack.log" 2>&1 ||
    { cat "$dir/cpack.log"; echo "FAIL: cpack"; exit 1; }
  deb=$dir/ferrybox_${version}_$(dpkg --print-architecture).deb
  [[ -f $deb ]] || { ls "$dir"; echo "FAIL: no $deb"; exit 1; }
  dpkg-deb -x "$deb" "$dir/root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
  exit 0
fi

version=$3
hardened=${4:-}
deb=$dir/ferrybox_${version}_$(dpkg --print-architecture).deb
root=$dir/root
[[ -f $deb && -d $root ]] || { echo "FAIL: no package in $dir"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

case $step in
contents)
# Exactly these files, owned by root, programs executable and nothing else,
# and nothing outside /usr.
expected="-rwxr-xr-x root/root ./usr/bin/ferrybox
-rwxr-xr-x root/root ./usr/bin/ferrybox-cli
-rw-r--r-- root/root ./usr/lib/systemd/user/ferrybox-backup@.service
-rw-r--r-- root/root ./usr/lib/systemd/user/ferrybox-backup@.timer
-rwxr-xr-x root/root ./usr/libexec/ferrybox/ferrybox-backup-failed
-rw-r--r-- root/root ./usr/share/applications/org.example.ferrybox.desktop
-rw-r--r-- root/root ./usr/share/bash-completion/completions/ferrybox-cli
-rw-r--r-- root/root ./usr/share/doc/ferrybox/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/ferrybox/copyright
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/ferrybox.svg
-rw-r--r-- root/root ./usr/share/man/man1/ferrybox-cli.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/ferrybox.1.gz
-rw-r--r-- root/root ./usr/share/metainfo/org.example.ferrybox.metainfo.xml"
listing=$(dpkg-deb -c "$deb") || fail "dpkg-deb -c"
files=$(awk '$1 !~ /^d/ { print $1, $2, $6 }' <<<"$listing" | sort -k3)
[[ $files == "$expected" ]] ||
  fail "file list:"$'\n'"$files"$'\n'"expected:"$'\n'"$expected"
outside=$(awk '$6 !~ /^\.\/(usr\/.*)?$/ || $2 != "root/root"' <<<"$listing")
[[ -z $outside ]] || fail "entries outside /usr or not root's: $outside"

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == ferrybox ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
[[ $(field Maintainer) == *'<'*@*'>' ]] || fail "Maintainer: $(field Maintainer)"
[[ $(field Description) == *$'\n'* ]] || fail "no long description"
# Read from the programs' libraries, plus the platform plugins.
for dependency in libc6 libstdc++6 libqt6core6 libqt6widgets6 \
  libqt6network6 qt6-qpa-plugins; do
  [[ $(field Depends) =~ (^|, )"$dependency"( |,|$) ]] ||
    fail "Depends lacks $dependency: $(field Depends)"
done

[[ $("$root/usr/bin/ferrybox-cli" --version) == "$version" ]] ||
  fail "ferrybox-cli --version"
desktop-file-validate \
  "$root/usr/share/applications/org.example.ferrybox.desktop" ||
  fail "desktop-file-validate"
# Also checks that the metadata names a desktop entry the package holds.
appstreamcli validate-tree --no-net --strict "$root" >"$scratch/as.log" 2>&1 ||
  { cat "$scratch/as.log"; fail "appstreamcli validate-tree"; }
bash -n "$root/usr/share/bash-completion/completions/ferrybox-cli" ||
  fail "the completion is not valid bash"

for page in ferrybox ferrybox-cli; do
  file=$root/usr/share/man/man1/$page.1.gz
  warnings=$(zcat "$file" | LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 2>&1)
  [[ -z $warnings ]] || fail "$page.1: $warnings"
  # The version and the shared sections are filled in by the build.
  for line in "^\\.TH .* \"Ferrybox $version\"" '^\.SH FILES' \
    '^\.SH GUARANTEES'; do
    zcat "$file" | grep -q "$line" || fail "$page.1 lacks $line"
  done
done
# Every option --help names is described in the manual page.
page=$(zcat "$root/usr/share/man/man1/ferrybox-cli.1.gz")
for option in $("$root/usr/bin/ferrybox-cli" --help |
  grep -oE -- '--[a-z][a-z-]*' | sort -u); do
  grep -qF -- "${option//-/\\-}" <<<"$page" ||
    fail "ferrybox-cli.1 does not describe $option"
done

;;
lintian)
# Every tag lintian finds fails, but those the package overrides with their
# reasons. Left out: misspelt words lintian reads in the programs' machine
# code, which come and go from build to build, and in a debug or sanitizer
# build the hardening it is meant to lack.
suppress=spelling-error-in-binary
[[ $hardened == hardened ]] ||
  suppress+=,hardening-no-bindnow,hardening-no-fortify-functions
lintian -I -E --pedantic --fail-on error,warning,info,pedantic,experimental \
  --suppress-tags "$suppress" "$deb" >"$scratch/lintian.log" 2>&1 ||
  { cat "$scratch/lintian.log"; fail "lintian"; }
# Not control-flow protection: the C start-up files of Debian 12 lack its
# marking, so no program linked with them has it.
if [[ $hardened == hardened ]]; then
  hardening-check --nocfprotection "$root"/usr/bin/* \
    >"$scratch/hardening.log" 2>&1 ||
    { cat "$scratch/hardening.log"; fail "hardening-check"; }
fi
;;
schedule)
  # shellcheck source-path=SCRIPTDIR source=schedule_checks.sh
  source "$(dirname "$0")/schedule_checks.sh"
  ;;
*)
  echo "FAIL: no step $step"
  exit 2
  ;;
esac

if ((failures > 0)); then
  echo "$failures package checks failed"
  exit 1
fi
echo "all $step checks passed"
