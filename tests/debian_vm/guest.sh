#!/bin/bash
# Runs inside the Debian machine (started by the image's kinetra-vmtest unit, as root), from
# the host's shared folder: the steps of debian-guest-test with the arguments the host
# wrote into guest.args, then one line the host looks for:
#   VMTEST RESULT: PASS
#   VMTEST RESULT: FAIL (<why>)
# On a failure the system's journal of this boot is kept beside this script (journal.txt).
here=$(cd "$(dirname "$0")" && pwd)
# The test program brings its own libraries, found by its own loader only: the programs it
# starts (apt-get, the suite's) use the system's.
mapfile -t args <"$here/guest.args"
# Ended before the host gives up on the machine (guest.timeout: seconds from the kernel's
# start), so that the journal is still kept.
uptime=$(cut -d. -f1 /proc/uptime)
left=$(($(cat "$here/guest.timeout") - uptime))
[ "$left" -gt 10 ] || left=10
timeout "$left" "$here/lib/ld-linux-x86-64.so.2" --library-path "$here/lib" "$here/bin/debian-guest-test" \
  "${args[@]}"
status=$?
if [ "$status" -eq 0 ]; then
  echo "VMTEST RESULT: PASS"
  exit 0
fi
journalctl -b --no-pager -o short-monotonic >"$here/journal.txt" 2>&1
echo "VMTEST RESULT: FAIL (debian-guest-test exited with status $status)"
exit 1
