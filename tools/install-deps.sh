#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need and are missing,
# saying which ones. Uses sudo when not run as root.
set -euo pipefail

packages=(
  # native build and tests
  cmake ninja-build g++ make pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
  # the simulated installer's database engine
  libmsi-dev libglib2.0-dev
  # the sanitizer build and the fuzz targets (ASan, UBSan, LSan, libFuzzer)
  clang libclang-rt-14-dev
  # the two Windows builds
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  # the Wine tier: packages built with msitools, installed by Wine's msiexec
  wixl msitools wine64
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for package in "${packages[@]}"; do
  if ! installed "$package"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The 32-bit Wine tier runs the shipped i686 DLL under Wine's 32-bit loader,
# an i386 program from Debian's wine32 package (multiarch; it also brings
# some amd64 libraries up to the versions of their i386 twins, about two
# minutes on a fresh machine). Only a kernel that runs i386 programs can use
# it: asked with the smallest such program, the one the Wine tests ask.
if installed wine32:i386; then
  exit 0
fi
check_dir=$(mktemp -d)
trap 'rm -rf "$check_dir"' EXIT
as --32 -o "$check_dir/i386_check.o" "$(dirname "$0")/../tools/wine/i386_check.s"
ld -m elf_i386 -o "$check_dir/i386_check" "$check_dir/i386_check.o"
status=0
"$check_dir/i386_check" 2>/dev/null || status=$?
if [ "$status" -ne 32 ]; then
  echo "install-deps: this kernel does not run i386 programs: wine32 left out, the 32-bit Wine tier will be skipped"
  exit 0
fi
echo "install-deps: installing wine32:i386 (adding the i386 architecture)"
$sudo dpkg --add-architecture i386
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends wine32:i386
