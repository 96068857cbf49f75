# Shared by the test scripts that watch Wine from outside, for what ends every
# program of the prefix (a restart, a shutdown), a test program too. Source it
# after setting `root` (the checkout), then:
#   outside_prefix NAME FILE...  makes a throwaway prefix with FILE... in
#                                C:\obrin\ (tests/wine/new-prefix), exports
#                                WINEPREFIX and removes the prefix, after
#                                ending its wineserver, when the script exits
#   ok TEXT / fail TEXT          one result line; $failures counts the failures
#   win PROGRAM ARGS...          runs C:\obrin\PROGRAM there, bounded by
#                                OBRIN_STEP_TIMEOUT seconds (default 60)
export WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

failures=0
ok() { echo "ok $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

outside_cleanup() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$prefix"
}

outside_prefix() {
  prefix=$("$root/tests/wine/new-prefix" "$@") || exit 1
  export WINEPREFIX=$prefix
  trap outside_cleanup EXIT
  trap 'exit 130' INT TERM
}

win() {
  (cd "$prefix/drive_c/obrin" && timeout -k 5 "${OBRIN_STEP_TIMEOUT:-60}" wine "C:\\obrin\\$1" "${@:2}")
}
