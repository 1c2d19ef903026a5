#!/usr/bin/env bash
# Builds the kit's three example packages for one architecture, each with
# wixl from its .wxs and the kit's includes, then completed from the kit's
# .idt tables with flatten.sh and with msibuild queries for what wixl leaves
# out (file versions, shared-DLL counting):
#   consumer.msi     a product with both modules' rows
#   server-only.msi  a product with the server module's rows only
#   setup.msi        the standalone setup with its dialogs
# The example programs Skdnt.exe and Skdwin.exe are stand-ins (a product
# ships its own); vrin.inf and 1033\license.txt are copied beside setup.msi,
# where the setup reads them.
#
#   packaging/build-examples.sh win32|win64 DLL OUT-FOLDER
set -euo pipefail

if [ $# -ne 3 ] || { [ "$1" != win32 ] && [ "$1" != win64 ]; }; then
  echo "usage: $0 win32|win64 vrinca.dll OUT-FOLDER" >&2
  exit 2
fi
kit=$(cd "$(dirname "$0")" && pwd)
dll=$(realpath "$2")
mkdir -p "$3"
out=$(realpath "$3")
if [ "$1" = win32 ]; then
  wixl_arch=x86 program_files=ProgramFilesFolder win64=no attributes=8
else
  # 256: a 64-bit component.
  wixl_arch=x64 program_files=ProgramFiles64Folder win64=yes attributes=264
fi
version=9.0.12.0

# build NAME WXS DEFINES... -- TABLES...
build() {
  local name=$1 wxs=$2
  shift 2
  local defines=()
  while [ "$1" != -- ]; do
    defines+=(-D "$1")
    shift
  done
  shift
  local work="$out/work/$name"
  rm -rf "$work"
  mkdir -p "$work"
  cp "$kit/examples/$wxs" "$dll" "$work/"
  [ "$(basename "$dll")" = vrinca.dll ] || cp "$dll" "$work/vrinca.dll"
  echo "Velmora server stand-in" >"$work/Skdnt.exe"
  echo "Velmora console stand-in" >"$work/Skdwin.exe"
  (cd "$work" && wixl -a "$wixl_arch" -D "ProgramFilesFolder=$program_files" -D "Win64=$win64" "${defines[@]}" \
    -I "$kit/common" -I "$kit/server" -I "$kit/console" -I "$kit/setup" -o "$name.msi" "$wxs")
  "$kit/flatten.sh" "$work/$name.msi" "$dll" "$@"
  msibuild "$work/$name.msi" -q "UPDATE \`Component\` SET \`Attributes\` = $attributes" \
    -q "UPDATE \`File\` SET \`Version\` = '$version', \`Language\` = '1033'"
  cp "$work/$name.msi" "$out/$name.msi"
}

build consumer consumer.wxs Console=yes "UpgradeCode={5E9A7C31-2D4B-4F6A-8C1E-7B3D9F2A4CA0}" -- \
  "$kit/common/Error.idt"
build server-only consumer.wxs Console=no "UpgradeCode={5E9A7C31-2D4B-4F6A-8C1E-7B3D9F2A4CA8}" -- \
  "$kit/common/Error.idt"
build setup setup.wxs -- "$kit/common/Error.idt" "$kit/setup"
cp "$kit/examples/vrin.inf" "$out/"
mkdir -p "$out/1033"
cp "$kit/examples/1033/license.txt" "$out/1033/"
rm -rf "$out/work"
echo "build-examples: $(cd "$out" && ls ./*.msi | tr '\n' ' ')in $out"
