#!/usr/bin/env bash
# Makes a fresh Wine prefix at TARGET, copied from ROOT/template, and makes
# the template first if this build folder has none yet.
#
#   make-prefix.sh ROOT TARGET
#
# A new prefix from wineboot takes seconds and about 700 MB; a copy takes a
# fraction of a second and almost no disk: drive_c is hard-linked. The .reg
# files are truly copied, because wineserver rewrites them in place and would
# change the template through a link. Tests only add, rename or delete files
# in drive_c, never rewrite a template file in place.
set -euo pipefail

root=$1
target=$2
template=$root/template

mkdir -p "$root"
(
  flock 9
  if [ ! -f "$template/.tarvox-ready" ]; then
    rm -rf "$template"
    echo "making the Wine template prefix in $template" >&2
    # No Mono or Gecko installers: the tests need neither.
    WINEPREFIX=$template WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      DISPLAY= wineboot -i </dev/null >"$root/template.log" 2>&1
    WINEPREFIX=$template wineserver -w
    touch "$template/.tarvox-ready"
  fi
) 9>"$root/template.lock"

rm -rf "$target"
mkdir -p "$target"
cp -al "$template/drive_c" "$target/"
cp -a "$template/dosdevices" "$target/"
cp "$template"/*.reg "$template/.update-timestamp" "$target/"
