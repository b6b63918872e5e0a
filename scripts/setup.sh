#!/usr/bin/env bash
# Installs what Palomet needs from Debian's packages, builds it, and then either
# starts the program (`run`), runs every test (`test`) or makes the Debian package
# (`package`, a release build in build-package/ checked with lintian). Works as root
# or, for a user, through sudo (only the package installation needs it).
set -euo pipefail

mode=${1:-}
# test-sanitized: every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer
#   (in $PALOMET_BUILD_DIR, default build-sanitize).
# fuzz: builds the libFuzzer targets with clang-14 (in build-fuzz) and runs each for
#   $PALOMET_FUZZ_SECONDS seconds (default 60) from the seed corpus in fuzz/corpus: the XML
#   import, the workbook engine's cells and names, and the reading of compressed files and
#   archives.
case "$mode" in
  run|test|build|package|test-sanitized|fuzz) ;;
  *) echo "usage: $0 run|test|build|package|test-sanitized|fuzz" >&2; exit 2 ;;
esac

top=$(cd "$(dirname "$0")/.." && pwd)
case "$mode" in
  package) build=${PALOMET_PACKAGE_DIR:-$top/build-package} ;;
  test-sanitized) build=${PALOMET_BUILD_DIR:-$top/build-sanitize} ;;
  fuzz) build=${PALOMET_BUILD_DIR:-$top/build-fuzz} ;;
  *) build=${PALOMET_BUILD_DIR:-$top/build} ;;
esac

# libxlsxwriter-dev: the benchmarks' reference pipeline and the tests' oracle for the .xlsx
# writer, which is built on minizip (zip container), ISA-L (deflate) and zlib. libarchive-dev
# reads archives of XML files (and writes the tests' own); compressed streams are
# decompressed and checked by ISA-L or zlib (gzip), liblzma, libbz2 and libzstd.
packages=(build-essential cmake pkg-config qt6-base-dev qt6-qpa-plugins
          libsqlite3-dev libxml2-dev libxlsxwriter-dev libminizip-dev libisal-dev zlib1g-dev
          libarchive-dev liblzma-dev libbz2-dev libzstd-dev fonts-liberation)
# Manual pages are made with help2man, the package with dpkg-dev's tools; the tests
# check the install tree, the desktop entry and the package.
case "$mode" in
  test|test-sanitized|package) packages+=(help2man dpkg-dev lintian) ;;
esac
if [ "$mode" = test ] || [ "$mode" = test-sanitized ]; then
  # LibreOffice and Gnumeric (ssconvert) read the saved workbooks back, beside openpyxl;
  # the locales package's sources let a test make an 8-bit locale.
  packages+=(libgtest-dev libgmock-dev python3 python3-openpyxl desktop-file-utils unzip
             libreoffice-calc-nogui gnumeric locales)
fi
if [ "$mode" = fuzz ]; then
  packages+=(clang-14 libclang-rt-14-dev)
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

if [ "$mode" = fuzz ]; then
  cmake -S "$top" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DPALOMET_FUZZ=ON \
    -DBUILD_TESTING=OFF "${launcher[@]}"
  cmake --build "$build" -j"$jobs" --target fuzz_xml_import fuzz_cells fuzz_packed
  seconds=${PALOMET_FUZZ_SECONDS:-60}
  for target in xml_import cells packed; do
    corpus=xml
    [ "$target" = cells ] && corpus=cells
    [ "$target" = packed ] && corpus=packed
    work="$build/corpus-$target"
    mkdir -p "$work"
    dict=()
    [ "$corpus" != cells ] && dict=(-dict="$top/fuzz/$corpus.dict")
    (cd "$build" && "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=8192 "${dict[@]}" "$work" "$top/fuzz/corpus/$corpus")
  done
  exit 0
fi

testing=OFF
sanitize=OFF
case "$mode" in
  test) testing=ON ;;
  test-sanitized) testing=ON; sanitize=ON ;;
esac
buildtype=()
[ "$mode" = package ] && buildtype=(-DCMAKE_BUILD_TYPE=Release)
cmake -S "$top" -B "$build" -DBUILD_TESTING=$testing -DPALOMET_SANITIZE=$sanitize \
  "${buildtype[@]}" "${launcher[@]}"
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
  test-sanitized)
    # Undefined behaviour fails the test that meets it; leaks of the system's own libraries
    # (fontconfig, the Qt platform plugin) are not ours to fix.
    export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0
    export LSAN_OPTIONS=suppressions="$top/scripts/lsan.supp":print_suppressions=0
    # Tests labelled long (minutes each, gigabytes of data) run in the plain test run only.
    cd "$build" && ctest --output-on-failure -j"$jobs" -LE long ;;
esac
