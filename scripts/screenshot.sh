#!/usr/bin/env bash
# Remakes assets/screenshot.png, the README's picture of the main window, from
# the real window drawn headless (Qt's offscreen platform). Builds the program
# first when needed (set PALOMET_BUILD_DIR to use another build folder).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${PALOMET_BUILD_DIR:-$top/build}

if [ ! -x "$build/bin/palomet" ]; then
  cmake -S "$top" -B "$build"
  cmake --build "$build" -j2 --target palomet
fi

QT_QPA_PLATFORM=offscreen "$build/bin/palomet" --screenshot "$top/assets/screenshot.png" \
  /home/ana/orders/2026-01-orders.xml \
  /home/ana/orders/2026-02-orders.xml \
  /home/ana/orders/customers.xml \
  /home/ana/catalogue/products.xml
echo "wrote $top/assets/screenshot.png"
