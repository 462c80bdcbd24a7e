#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the helper that reports a failed scheduled backup on a private
# session bus, with a stand-in notification service that writes down each
# notification it is sent: summary and body, a line each.
# Usage: notify_test.sh HELPER
set -u
helper=$(readlink -f -- "$1")
if [[ -z ${NOTIFY_TEST_BUS-} ]]; then
  # A bus of our own, with no services to start, gone when the test ends.
  config=$(mktemp)
  trap 'rm -f "$config"' EXIT
  cat >"$config" <<'XML'
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
XML
  NOTIFY_TEST_BUS=1 timeout 60 dbus-run-session --config-file="$config" -- \
    bash "$0" "$@"
  exit
fi
export LC_ALL=C
scratch=$(mktemp -d)
standin=
trap 'kill $standin 2>/dev/null; rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
received=$scratch/received

# notify EXPECTED SERVICE_RESULT EXIT_STATUS PROFILE: runs the helper for
# PROFILE's unit; EXPECTED is what the stand-in receives ("" for nothing).
notify() {
  local expected=$1 unit
  unit="ferrybox-backup@$(systemd-escape -- "$4").service"
  : >"$received"
  SERVICE_RESULT=$2 EXIT_STATUS=$3 timeout 10 sh "$helper" "$4" "$unit" ||
    fail "the helper failed for $2 $3"
  [[ $(<"$received") == "$expected" ]] ||
    fail "$2 $3 $(printf %q "$4")"$'\n'"received: $(<"$received")"$'\n'"expected: $expected"
}
odd=$'it\'s "$(touch pwned)"\\ \n<b>&\xff'

# No notification service on the bus yet, then no bus at all: nothing, no
# failure, no wait.
notify '' exit-code 1 'two words'
DBUS_SESSION_BUS_ADDRESS=unix:path=$scratch/none XDG_RUNTIME_DIR=$scratch \
  notify '' exit-code 1 'two words'

/usr/bin/python3 - "$received" "$scratch/ready" <<'PY' &
import sys
import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()


class StandIn(dbus.service.Object):
    @dbus.service.method("org.freedesktop.Notifications",
                         in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints,
               timeout):
        with open(sys.argv[1], "a", encoding="utf-8") as out:
            out.write("%s\n%s\n" % (summary, body))
        return 1


name = dbus.service.BusName("org.freedesktop.Notifications", bus)
StandIn(bus, "/org/freedesktop/Notifications")
open(sys.argv[2], "w").close()
GLib.MainLoop().run()
PY
standin=$!
for ((i = 0; i < 100; i++)); do
  [[ -e $scratch/ready ]] && break
  sleep 0.1
done
[[ -e $scratch/ready ]] || { echo "FAIL: the stand-in did not start"; exit 1; }

cd "$scratch" || exit 1
log="Its log: journalctl --user -u"
notify "Scheduled backup failed: two words
Some files could not be copied. $log 'ferrybox-backup@two\\x20words.service'" \
  exit-code 1 'two words'
# Quotes, shell code, a line break, markup and a byte that is not UTF-8
# arrive as text; the control character as "?", the stray byte left out.
notify "Scheduled backup failed: it's \"\$(touch pwned)\"\\ ?<b>&
The run was refused, or the profile could not be read. $log \
'ferrybox-backup@$(systemd-escape -- "$odd").service'" exit-code 2 "$odd"
[[ ! -e pwned ]] || fail "the profile name ran as shell code"
notify "Scheduled backup failed: nightly
The run ended early (signal KILL). $log 'ferrybox-backup@nightly.service'" \
  signal KILL nightly
# Success, and a run stopped by SIGTERM (exit status 130, taken as success
# by the unit): nothing.
notify '' success 0 nightly
notify '' success 130 nightly

if ((failures > 0)); then
  echo "$failures notification checks failed"
  exit 1
fi
echo "all notification checks passed"
