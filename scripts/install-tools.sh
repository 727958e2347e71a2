#!/usr/bin/env bash
# Installs with apt-get whatever the build, the tests and the demo need and
# this Debian machine lacks. Does nothing when all is there.
set -euo pipefail

have() { command -v "$1" >/dev/null 2>&1; }
missing=()
have cmake || missing+=(cmake)
have make || missing+=(make)
have g++ || missing+=(g++)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
have clang++ || missing+=(clang)
[ -f "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a 2>/dev/null)" ] ||
  missing+=(libclang-rt-14-dev)
have x86_64-w64-mingw32-gcc-posix || missing+=(gcc-mingw-w64-x86-64-posix)
have x86_64-w64-mingw32-g++-posix || missing+=(g++-mingw-w64-x86-64-posix)
have x86_64-w64-mingw32-windres || missing+=(binutils-mingw-w64-x86-64)
have wine || missing+=(wine)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
have Xvfb || missing+=(xvfb)
have xdotool || missing+=(xdotool)
have import || missing+=(imagemagick)
have flock || missing+=(util-linux)
have iconv || missing+=(libc-bin)
have git || missing+=(git)
have python3 || missing+=(python3)
have osslsigncode || missing+=(osslsigncode)
have openssl || missing+=(openssl)

if ((${#missing[@]} == 0)); then
  exit 0
fi
echo "installing: ${missing[*]}"
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
