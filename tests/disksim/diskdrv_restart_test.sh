#!/usr/bin/env bash
# The kernel-mode disk stand-in across a restart of the prefix, watched from
# outside Wine: ending the wineserver ends every program of the prefix, the
# test program too. After the restart Wine starts OBRINDISK again with the
# prefix's auto-start services, and it must serve the model as it was last
# saved (read from C:\disksim\model.bin), or no disk when that file is damaged.
#
#   diskdrv_restart_test.sh BIN_DIR TEST_PROGRAM
#
# Checks, each a line "ok ..." or "FAIL ...":
#   1. after diskpart changed the layout and the prefix restarted, the driver
#      answers as the model says and drive C works (DiskDriverAfterRestart.
#      ServesTheModelOfThePrefix);
#   2. after the image file was damaged and the prefix restarted, it serves no
#      disk and drive C still works (DiskDriverAfterRestart.
#      ServesNoDiskFromADamagedImageFile).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=${1:?usage: diskdrv_restart_test.sh BIN_DIR TEST_PROGRAM}
program=${2:?usage: diskdrv_restart_test.sh BIN_DIR TEST_PROGRAM}

# shellcheck source=../wine/outside.sh
. "$root/tests/wine/outside.sh"

for file in disksim.exe diskpart.exe obrindisk.sys; do
  [ -f "$bin/$file" ] || { echo "missing $bin/$file"; exit 1; }
done

outside_prefix diskdrv-restart "$bin"/* "$program"

# A power cycle: every program ends, then the first one starts the prefix and
# its auto-start services again.
restart() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  wineserver -p600 </dev/null >/dev/null 2>&1
}

check() {
  local what=$1 filter=$2 log=$prefix/check.log
  if win "$(basename "$program")" --gtest_filter="$filter" >"$log" 2>&1; then
    ok "$what"
  else
    fail "$what"
    tr -d '\r' <"$log"
  fi
}

wineserver -p600 </dev/null >/dev/null 2>&1
win disksim.exe init standard || { echo "disksim init failed"; exit 1; }
win disksim.exe install-tools || { echo "disksim install-tools failed"; exit 1; }
# A layout that is not the machine's first: Windows shrunk, a new volume O:.
printf 'select disk 0\r\nselect par 4\r\nshrink minimum=1024\r\ncreate partition primary\r\nformat quick fs=ntfs label="ASOS"\r\nassign letter=O\r\nexit\r\n' \
  >"$prefix/drive_c/restart-test.txt"
win diskpart.exe /s 'C:\restart-test.txt' >/dev/null || { echo "diskpart failed"; exit 1; }

restart
check "after a restart the driver serves the model as last saved" 'DiskDriverAfterRestart.ServesTheModelOfThePrefix'

wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
printf 'not a device image' >"$prefix/drive_c/disksim/model.bin"
restart
check "after a restart with a damaged image file the driver serves no disk" \
  'DiskDriverAfterRestart.ServesNoDiskFromADamagedImageFile'

echo "$failures failure(s)"
[ "$failures" = 0 ]
