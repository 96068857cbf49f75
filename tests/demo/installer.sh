# Demo stage: ObrinInstaller, the program that ships, installs the Android side
# on a stand-in disk laid out as Windows setup lays it out and removes it again; it finds the disk through
# the disk WMI classes and the disk driver as it would on Windows. The layout
# is shown before, between and after. Sourced by tests/demo/run.

# Where the service was registered from: the installer's vendor folder.
show_service_image() {
  echo "\$ reg query HKLM\\SYSTEM\\CurrentControlSet\\Services\\OBRINSERVICE /v ImagePath"
  win reg query 'HKLM\SYSTEM\CurrentControlSet\Services\OBRINSERVICE' /v ImagePath | tr -d '\r' |
    grep ImagePath || echo "(no such service)"
}

show_layout() {
  echo "\$ disksim show"
  (cd "$prefix/drive_c/obrin" && win 'C:\obrin\disksim.exe' show) | tr -d '\r'
}

demo_installer() {
  local prefix=$1
  step "Installer: a machine with EFI, MSR, Windows and Recovery partitions (as Windows setup makes them) and a payload folder"
  run_expect 0 disksim.exe init recovery-last
  run_expect 0 disksim.exe install-tools
  # A setup tool puts the service program where the installer registers it
  # from: its vendor folder under the 32-bit programs' "Program Files".
  mkdir -p "$prefix/drive_c/$program_files/Vantrel/VantrelObrin"
  cp "$prefix/drive_c/obrin/ObrinService.exe" "$prefix/drive_c/$program_files/Vantrel/VantrelObrin/"
  # The firmware stand-in answers the installer's two firmware calls; the
  # service needs it to start.
  [ -x "$prefix/drive_c/obrin/firmsim.exe" ] && run_expect 0 firmsim.exe install
  show_layout
  run_expect 19 ObrinInstaller.exe -check-dualos

  step "Installer: install (shrink Windows, create ANDROID and ASOS, copy the boot files, start the service)"
  OBRIN_DEMO_STEP_TIMEOUT=300 run_expect 0 ObrinInstaller.exe -install-dualos
  show_layout
  show_service_state
  show_service_image
  run_expect 0 ObrinInstaller.exe -check-dualos

  step "Installer: uninstall (delete both partitions, give Windows its space back, remove the boot files and the service)"
  OBRIN_DEMO_STEP_TIMEOUT=300 run_expect 0 ObrinInstaller.exe -uninstall-dualos
  show_layout
  show_service_state
  run_expect 19 ObrinInstaller.exe -check-dualos
  run_expect 2 ObrinInstaller.exe
  return 0
}
