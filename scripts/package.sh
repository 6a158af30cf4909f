#!/usr/bin/env bash
# Makes the Debian 12 package dist/corvane-email-handler_<version>_<arch>.deb (CPack, from
# packaging/debian/) in a Release build with Debian's hardening flags, and checks it with lintian.
#
#   sudo apt install ./dist/corvane-email-handler_*.deb     then README: "Installing the package"
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh package

build=$root/build-package
rm -rf "$build"  # flags and packaging settings from scratch
# Debian's flags: hardening (stack protector, fortify, relro, now) and reproducible paths.
# CMake reads no CPPFLAGS: they go with the compiler's flags.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF \
  -DCORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target corvane-email-handler

mkdir -p dist
rm -f dist/corvane-email-handler_*.deb
(cd "$build" && cpack -G DEB -B "$build/cpack" >/dev/null)
mv "$build"/cpack/corvane-email-handler_*.deb dist/
deb=$(ls dist/corvane-email-handler_*.deb)
lintian --fail-on error "$deb"
echo "$deb"
