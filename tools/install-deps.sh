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

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
