#!/usr/bin/env bash
# Installs what Palomet needs from Debian's packages, builds it, and then either
# starts the program (`run`), runs every test (`test`) or makes the Debian package
# (`package`, a release build in build-package/ checked with lintian). Works as root
# or, for a user, through sudo (only the package installation needs it).
set -euo pipefail

mode=${1:-}
case "$mode" in
  run|test|build|package) ;;
  *) echo "usage: $0 run|test|build|package" >&2; exit 2 ;;
esac

top=$(cd "$(dirname "$0")/.." && pwd)
build=${PALOMET_BUILD_DIR:-$top/build}
[ "$mode" = package ] && build=${PALOMET_PACKAGE_DIR:-$top/build-package}

packages=(build-essential cmake pkg-config qt6-base-dev qt6-qpa-plugins
          libsqlite3-dev libxml2-dev libxlsxwriter-dev fonts-liberation)
# Manual pages are made with help2man, the package with dpkg-dev's tools; the tests
# check the install tree, the desktop entry and the package.
if [ "$mode" = test ] || [ "$mode" = package ]; then
  packages+=(help2man dpkg-dev lintian)
fi
if [ "$mode" = test ]; then
  packages+=(libgtest-dev libgmock-dev python3 python3-openpyxl desktop-file-utils)
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update
  # Through env, so that sudo's environment reset keeps apt from asking questions.
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
fi

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
jobs=$(nproc 2>/dev/null || echo 2)

testing=OFF
[ "$mode" = test ] && testing=ON
buildtype=()
[ "$mode" = package ] && buildtype=(-DCMAKE_BUILD_TYPE=Release)
cmake -S "$top" -B "$build" -DBUILD_TESTING=$testing "${buildtype[@]}" "${launcher[@]}"
cmake --build "$build" -j"$jobs"

case "$mode" in
  run) exec "$build/bin/palomet" ;;
  test) cd "$build" && ctest --output-on-failure -j"$jobs" ;;
  package)
    (cd "$build" && cpack -G DEB)
    for deb in "$build"/palomet_*.deb; do
      "$top/packaging/lintian-check.sh" "$deb"
      echo "Made $deb"
    done ;;
esac
