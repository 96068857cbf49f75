# Sourced by the scripts that run Wine prefixes of their own.
#
#   obrin_copy_prefix FROM TO   copies a ready prefix (the template, or one
#                               whose wineserver has ended) into the empty
#                               folder TO
#
# Binaries are hard links to FROM's (nothing writes into them in place;
# replace one by deleting it first); everything else is a private copy, so
# the registry and the files of the two prefixes stay apart.
obrin_copy_prefix() {
  local from=$1 to=$2
  cp -al "$from/." "$to/" || return 1
  (cd "$from" && find . -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.drv' -o -iname '*.sys' \
    -o -iname '*.ocx' -o -iname '*.acm' -o -iname '*.tlb' -o -iname '*.cpl' -o -iname '*.nls' -o -iname '*.ttf' \
    -o -iname '*.fon' -o -iname '*.ds' -o -iname '*.vxd' -o -iname '*.dll16' -o -iname '*.exe16' \) -print0 |
    xargs -0 -r cp -a --parents --remove-destination -t "$to")
}
