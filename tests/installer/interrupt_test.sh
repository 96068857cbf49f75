#!/usr/bin/env bash
# An install or an uninstall cut off after each of its child runs, as a power
# loss or a killed setup tool would leave it, then the power cycle (the
# prefix's wineserver ended and started again: the auto-start service comes
# back), then an install and an uninstall: after the install the machine must
# equal a clean installation, after the uninstall the original machine. The
# power cycle ends every program of the prefix, so this runs outside Wine.
#
#   interrupt_test.sh BIN_DIR [INSTALLER]     (INSTALLER: program in BIN_DIR)
#
# Prints "ok ..." or "FAIL ..." per check and exits 1 when any failed.
# Kill points run side by side in prefixes of their own (OBRIN_INTERRUPT_JOBS,
# default 4): most of a run is waiting. OBRIN_INTERRUPT_POINTS (e.g.
# "install-11 uninstall-3") runs only those points. The machine is
# OBRIN_INTERRUPT_MACHINE (default recovery-last, the layout Windows setup
# makes) under the numbering rule OBRIN_INTERRUPT_NUMBERING (default
# disk-order).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=../wine/prefix.sh
. "$root/tests/wine/prefix.sh"
bin=${1:?usage: interrupt_test.sh BIN_DIR [INSTALLER]}
installer=${2:-ObrinInstaller.exe}
template=${OBRIN_WINE_TEMPLATE:-$root/build/wine-template}
jobs=${OBRIN_INTERRUPT_JOBS:-4}
machine=${OBRIN_INTERRUPT_MACHINE:-recovery-last}
numbering=${OBRIN_INTERRUPT_NUMBERING:-disk-order}

export WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

for program in "$installer" ObrinService.exe installer_probe.exe disksim.exe diskpart.exe firmsim.exe; do
  [ -f "$bin/$program" ] || { echo "missing $bin/$program"; exit 1; }
done
"$root/tests/wine/template" "$template" || exit 1
mkdir -p "$root/build/wine-prefixes"
work=$(mktemp -d "$root/build/wine-prefixes/interrupt.XXXXXX")

cleanup() {
  local p
  for p in "$work"/*/; do
    [ -f "$p/system.reg" ] && WINEPREFIX=$p wineserver -k 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs a program of C:\obrin\ in prefix $1, with a time limit.
in_prefix() {
  local p=$1; shift
  (export WINEPREFIX=$p; cd "$p/drive_c/obrin" && timeout -k 5 "${OBRIN_STEP_TIMEOUT:-300}" wine "$@")
}
start_prefix() { WINEPREFIX=$1 wineserver -p600; }
stop_prefix() { WINEPREFIX=$1 wineserver -k 2>/dev/null; WINEPREFIX=$1 wineserver -w 2>/dev/null; }
state_of() { in_prefix "$1" installer_probe.exe state | tr -d '\r'; }

# A stopped copy of the stopped prefix $1 as $2, running.
copy_of() {
  mkdir -p "$2" && obrin_copy_prefix "$1" "$2" && start_prefix "$2"
}

# The installer's log in prefix $1 after its first $2 lines, indented.
installer_log() {
  local log=$1/drive_c/obrin/DUALOSLOG.log
  [ -f "$log" ] && tail -n +"$(($2 + 1))" "$log" | tr -d '\r' | sed 's/^/    /'
}

# Runs the installer with option $2 in prefix $1 and checks its exit code.
expect_exit() {
  local p=$1 option=$2 expected=$3 label=$4 rc logged=0
  [ -f "$p/drive_c/obrin/DUALOSLOG.log" ] && logged=$(wc -l <"$p/drive_c/obrin/DUALOSLOG.log")
  in_prefix "$p" "$installer" "$option" >/dev/null 2>&1
  rc=$?
  if [ "$rc" = "$expected" ]; then
    echo "ok $label: $option exits $rc"
  else
    echo "FAIL $label: $option exits $rc, expected $expected; the installer logged:"
    installer_log "$p" "$logged"
  fi
}

# Compares the machine in prefix $1 with the state file $2.
expect_state() {
  local p=$1 reference=$2 label=$3 differences
  differences=$(diff "$reference" <(state_of "$p"))
  if [ -z "$differences" ]; then
    echo "ok $label: the machine equals $(basename "$reference" .state)"
  else
    echo "FAIL $label: the machine differs from $(basename "$reference" .state):"
    echo "$differences" | sed 's/^/    /'
  fi
}

# The original machine: its disk with the payload, the service
# program where a setup tool puts it, a policy value of its own, hibernation
# allowed.
original=$work/original
mkdir -p "$original"
obrin_copy_prefix "$template" "$original" || exit 1
mkdir -p "$original/drive_c/obrin" "$original/drive_c/Program Files/Vantrel/VantrelObrin"
cp "$bin"/* "$original/drive_c/obrin/"
cp "$bin/ObrinService.exe" "$original/drive_c/Program Files/Vantrel/VantrelObrin/"
start_prefix "$original"
for step in "firmsim.exe install" "disksim.exe init $machine" "disksim.exe numbering $numbering" \
  "disksim.exe install-tools"; do
  # shellcheck disable=SC2086
  in_prefix "$original" $step >/dev/null || { echo "FAIL preparing: $step"; exit 1; }
done
in_prefix "$original" reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\Explorer' \
  /v NoDriveTypeAutoRun /t REG_BINARY /d 91000000 /f >/dev/null || { echo "FAIL preparing the policy value"; exit 1; }
state_of "$original" >"$work/original.state"
stop_prefix "$original"

# A clean installation of it, and how many child runs each flow makes.
installed=$work/installed
copy_of "$original" "$installed"
install_points=$(in_prefix "$installed" installer_probe.exe kill 999 "$installer" -install-dualos |
  sed -n 's/^ended by itself after \([0-9]*\) child runs, exit code 0\r*$/\1/p')
state_of "$installed" >"$work/installed.state"
stop_prefix "$installed"
reference=$work/reference-uninstall
copy_of "$installed" "$reference"
uninstall_points=$(in_prefix "$reference" installer_probe.exe kill 999 "$installer" -uninstall-dualos |
  sed -n 's/^ended by itself after \([0-9]*\) child runs, exit code 0\r*$/\1/p')
expect_state "$reference" "$work/original.state" "a whole uninstall"
stop_prefix "$reference"
rm -rf "$reference"
if [ -z "$install_points" ] || [ -z "$uninstall_points" ]; then
  echo "FAIL a clean install and uninstall must end with 0 (child runs: '$install_points', '$uninstall_points')"
  exit 1
fi
echo "ok a clean install makes $install_points child runs, an uninstall $uninstall_points"

# Right after a restart the auto-start service is still starting: an
# uninstall waits for it and goes through.
restart=$work/restart
copy_of "$installed" "$restart"
expect_exit "$restart" -uninstall-dualos 0 "uninstall at once after a restart"
expect_state "$restart" "$work/original.state" "uninstall at once after a restart"
stop_prefix "$restart"
rm -rf "$restart"

# One kill point: flow $1 cut off after child run $2.
kill_point() {
  local flow=$1 point=$2 from p label output logged
  label="$flow cut off after child run $point"
  [ "$flow" = install ] && from=$original || from=$installed
  p=$work/$flow-$point
  copy_of "$from" "$p"
  logged=0
  [ -f "$p/drive_c/obrin/DUALOSLOG.log" ] && logged=$(wc -l <"$p/drive_c/obrin/DUALOSLOG.log")
  output=$(in_prefix "$p" installer_probe.exe kill "$point" "$installer" "-$flow-dualos" | tr -d '\r')
  if [ "${output#ended after child run}" = "$output" ]; then
    echo "FAIL $label: $output; the installer logged:"
    installer_log "$p" "$logged"
  else
    stop_prefix "$p"
    start_prefix "$p"
    # An install cut off once it was marked finished is an installation.
    if [ "$flow" = install ]; then
      if in_prefix "$p" reg query 'HKLM\SOFTWARE\Vantrel\VantrelObrin' /v InstallerFinished >/dev/null 2>&1; then
        expect_exit "$p" -check-dualos 0 "$label, marked finished, before any rerun"
      else
        expect_exit "$p" -check-dualos 19 "$label, before any rerun"
      fi
    fi
    expect_exit "$p" -install-dualos 0 "$label, then install"
    expect_state "$p" "$work/installed.state" "$label, then install"
    expect_exit "$p" -uninstall-dualos 0 "$label, then uninstall"
    expect_state "$p" "$work/original.state" "$label, then uninstall"
  fi
  stop_prefix "$p"
  rm -rf "$p"
}

points=()
for point in $(seq 1 "$install_points"); do points+=("install $point"); done
for point in $(seq 1 "$uninstall_points"); do points+=("uninstall $point"); done
if [ -n "${OBRIN_INTERRUPT_POINTS:-}" ]; then
  chosen=()
  for entry in "${points[@]}"; do
    case " $OBRIN_INTERRUPT_POINTS " in *" ${entry/ /-} "*) chosen+=("$entry") ;; esac
  done
  points=("${chosen[@]}")
fi
for entry in "${points[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  # shellcheck disable=SC2086
  kill_point $entry >"$work/${entry/ /-}.result" 2>&1 &
done
wait
cat "$work"/*.result
failures=$(cat "$work"/*.result | grep -c '^FAIL')
echo "$failures check(s) failed over ${#points[@]} kill points"
[ "$failures" = 0 ]
