#!/usr/bin/env bash
# The restart half of an OS switch and the shutdown, watched from outside
# Wine: ExitWindowsEx ends every process of the prefix (a test program too).
# After EWX_REBOOT Wine starts the auto-start services again, so a restart
# shows as OBRINSERVICE starting anew and telling the firmware stand-in it is
# ready (code 17) once more.
#
#   restart_shutdown_test.sh BIN_DIR     (run under xvfb-run: the notice is a window)
#
# Checks, each a line "ok ..." or "FAIL ...":
#   1. firmsim raise 0xD2: the service starts the switcher with -reboot, which
#      restarts the prefix (ShowMsg 0: no notice).
#   2. ShowMsg 1 with "-reboot -nomsg" and "-nomsg -reboot": a restart
#      without the 5-second notice.
#   3. ShowMsg 1 with "-reboot": the restart comes after the notice closed.
#   4. "-shutdown" with ShowMsg 2 (no notice) and 1 (after the notice) ends
#      every process of the prefix.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=${1:?usage: restart_shutdown_test.sh BIN_DIR}

# shellcheck source=../wine/outside.sh
. "$root/tests/wine/outside.sh"

for program in ObrinService.exe ObrinSwitcher.exe firmsim.exe firmwmi.dll; do
  [ -f "$bin/$program" ] || { echo "missing $bin/$program"; exit 1; }
done

outside_prefix reboot "$bin"/*

# The service lives only while a server does; the restart keeps this one.
wineserver -p600

calls() {
  win firmsim.exe calls | tr -d '\r'
}

# Polls until the firmware stand-in has seen code 17 again, up to $1 seconds.
wait_for_ready_call() {
  local limit=$1 start=$SECONDS
  while [ $((SECONDS - start)) -lt "$limit" ]; do
    calls | grep -q '^0x00000011 ' && return 0
    sleep 1
  done
  return 1
}

set_showmsg() {
  timeout -k 5 60 wine reg add 'HKLM\SOFTWARE\Vantrel\VantrelObrin' /v ShowMsg /t REG_DWORD /d "$1" /f >/dev/null
}

log_lines() {
  tr -d '\r' <"$prefix/drive_c/obrin/DUALOSLOG.log" 2>/dev/null
}

log_has() {
  log_lines | grep -qF -- "$1"
}

win firmsim.exe install >/dev/null || { echo "firmsim install failed"; exit 1; }
win ObrinService.exe -install || { echo "ObrinService.exe -install failed"; exit 1; }
wait_for_ready_call 60 || { echo "the service never told the firmware it is ready"; exit 1; }

# 1. The firmware asks for the restart.
set_showmsg 0
win firmsim.exe reset
win firmsim.exe raise 0xD2
if wait_for_ready_call 120; then
  ok "raise 0xD2: the service started anew after the switcher's restart"
else
  fail "raise 0xD2: no restart seen within 120 s"
fi
if log_lines | grep -F "Launch(" | grep -qF -- "-reboot"; then
  ok "raise 0xD2: the service launched the switcher with -reboot"
else
  fail "raise 0xD2: no launch of the switcher with -reboot in the log"
fi

# 2. and 3. The switcher's own restart options with ShowMsg 1.
restart_with() {
  local expect_notice=$1; shift
  set_showmsg 1
  win firmsim.exe reset
  local start=$SECONDS
  win ObrinSwitcher.exe "$@"
  local took=$((SECONDS - start))
  if ! wait_for_ready_call 120; then
    fail "$*: no restart seen within 120 s"
    return
  fi
  if [ "$expect_notice" = yes ] && [ "$took" -ge 5 ]; then
    ok "$*: restart after the notice (${took} s)"
  elif [ "$expect_notice" = no ] && [ "$took" -lt 5 ]; then
    ok "$*: restart without the notice (${took} s)"
  else
    fail "$*: notice expected: $expect_notice, the switcher ran ${took} s"
  fi
}
restart_with no -reboot -nomsg
restart_with no -nomsg -reboot
restart_with yes -reboot

# 4. "-shutdown" ends every process of the prefix (Wine starts nothing again
# afterwards): a waiting "cmd /c pause" ends with it. ShowMsg 2 shuts down at
# once, ShowMsg 1 after the notice.
holder_fifo=$prefix/holder.fifo
mkfifo "$holder_fifo"
shutdown_with() {
  local level=$1 expect_notice=$2
  set_showmsg "$level"
  timeout -k 5 120 wine cmd.exe /c pause <"$holder_fifo" >/dev/null 2>&1 &
  local holder=$!
  exec 8>"$holder_fifo"
  sleep 3
  local start=$SECONDS
  win ObrinSwitcher.exe -shutdown
  local took=$((SECONDS - start))
  local waited=0
  while kill -0 "$holder" 2>/dev/null && [ "$waited" -lt 30 ]; do
    sleep 1
    waited=$((waited + 1))
  done
  if kill -0 "$holder" 2>/dev/null; then
    fail "ShowMsg $level -shutdown: the prefix's processes still run"
    kill "$holder" 2>/dev/null
  else
    ok "ShowMsg $level -shutdown: the prefix's processes ended"
  fi
  exec 8>&-
  wait "$holder" 2>/dev/null
  if [ "$expect_notice" = yes ] && [ "$took" -ge 5 ]; then
    ok "ShowMsg $level -shutdown: after the notice (${took} s)"
  elif [ "$expect_notice" = no ] && [ "$took" -lt 5 ]; then
    ok "ShowMsg $level -shutdown: without a notice (${took} s)"
  else
    fail "ShowMsg $level -shutdown: notice expected: $expect_notice, the switcher ran ${took} s"
  fi
}
shutdown_with 2 no
shutdown_with 1 yes

if log_has "Fail to enter Reboot" || log_has "Fail to enter Shutdown" || log_has "priviledge"; then
  fail "the log has a failed restart or shutdown"
fi
echo "$failures failure(s)"
[ "$failures" = 0 ]
