# Demo stage: the whole OS switch with the real ObrinSwitcher, the service and
# the firmware stand-in, from the user's request to the restart request.
# Sourced by tests/demo/run.

firmware_codes() {
  (cd "$prefix/drive_c/obrin" && win 'C:\obrin\firmsim.exe' calls | tr -d '\r')
}

# Polls until the firmware stand-in has seen the ready notification (0x11).
wait_for_ready_notification() {
  local limit=$1 start=$SECONDS
  while [ $((SECONDS - start)) -lt "$limit" ]; do
    firmware_codes 2>/dev/null | grep -q '^0x00000011 ' && return 0
    sleep 1
  done
  return 1
}

demo_switch() {
  local prefix=$1
  step "OS switch: the real switcher in place of the recorder, the service installed again"
  rm -f "$prefix/drive_c/obrin/ObrinSwitcher.exe"
  cp "$bin/ObrinSwitcher.exe" "$prefix/drive_c/obrin/ObrinSwitcher.exe"
  run_expect 0 firmsim.exe install
  run_expect 0 firmsim.exe reset
  run_expect 0 ObrinService.exe -install
  wait_for_ready_notification 60 || echo "!! the service sent no ready notification"
  run_expect 0 ObrinService.exe -showmsg 0
  show_registry

  step "The user starts ObrinSwitcher: ready (0x11), mode (0x18), enable (0x10), readiness (0x18), switch request (0x14)"
  run_expect 0 firmsim.exe reset
  run_expect 0 ObrinSwitcher.exe
  show_firmware_calls

  step "The firmware refuses the request (0x14 answered 1): exit code 1"
  run_expect 0 firmsim.exe reset
  run_expect 0 firmsim.exe answer 20 1
  run_expect 1 ObrinSwitcher.exe -now
  show_firmware_calls

  step "Switcher options that end with 1 here: no S3 under Wine, an unknown word after -reboot, the taskbar shortcut"
  run_expect 1 ObrinSwitcher.exe -s3
  run_expect 1 ObrinSwitcher.exe -reboot -bogus
  run_expect 1 ObrinSwitcher.exe -taskbarpin

  step "The firmware asks for the restart (DualOsEvent 0xD2): the service starts ObrinSwitcher -reboot"
  run_expect 0 firmsim.exe reset
  run_expect 0 firmsim.exe raise 0xD2
  echo "ExitWindowsEx(EWX_REBOOT) ends every process of the prefix; Wine then starts the auto-start services again"
  if wait_for_ready_notification 120; then
    echo "OBRINSERVICE started anew and told the firmware it is ready:"
    show_firmware_calls
  else
    echo "!! no restart seen within 120 s" >&2
    failures=$((failures + 1))
  fi
  show_service_state

  step "Remove the service again"
  run_expect 0 ObrinService.exe -uninstall
  return 0
}
