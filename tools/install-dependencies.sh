#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the main job need,
# and any named as arguments (fuzz/run.sh names clang), when they are missing.
# The argument "wine" stands for what the system on Wine needs: Wine (64-bit)
# and the 64-bit mingw-w64 cross compiler with POSIX threads; "wine32" for
# the 32-bit Wine (wine32 of the i386 architecture, which is added), only on
# a machine whose kernel runs 32-bit programs: elsewhere it could not start.
set -euo pipefail
cd "$(dirname "$0")/.."
extra=()
add_i386=false
for arg in "$@"; do
  if [ "$arg" = wine ]; then
    extra+=(wine wine64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
  elif [ "$arg" = wine32 ]; then
    if said=$(tools/runs-32-bit-programs); then
      add_i386=true
      extra+=(wine wine32:i386)
    else
      echo "install-dependencies: no 32-bit Wine: $said" >&2
    fi
  else
    extra+=("$arg")
  fi
done
set -- "${extra[@]+"${extra[@]}"}"

# gpsd and its clients read the relay through a pseudo-terminal in a test;
# GPSBabel turns a track into GPX;
# GTK 3 and X11 for the window, Xvfb for its test, IPA P Gothic and Mona for the captions;
# the 32-bit Windows cross compiler and its binutils (windres, dlltool) for the
# resource script, the device's own build and the 32-bit programs for Wine; nlohmann's JSON reader for the
# window trace; Python for the check of the host's shape.
packages=(cmake g++ make pkg-config libgtest-dev libbenchmark-dev gpsd gpsd-clients gpsbabel libgtk-3-dev libx11-dev
  xvfb xauth fonts-ipafont-gothic fonts-mona g++-mingw-w64-i686 g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  nlohmann-json3-dev python3 "$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if $add_i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
# A mirror caught in a sync serves an index that its release file does not
# name; the lists are fetched afresh once then.
if ! $sudo apt-get update -qq; then
  $sudo rm -rf /var/lib/apt/lists/*
  $sudo apt-get update -qq
fi
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
