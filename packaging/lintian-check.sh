#!/usr/bin/env bash
# Checks a built palomet .deb with lintian: fails on any error and shows the warnings.
#
#   packaging/lintian-check.sh build-package/palomet_*.deb
#
# One tag is left out: initial-upload-closes-no-bugs, which asks the first upload to
# Debian's archive to close its packaging request; this package is not uploaded there.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 PACKAGE.deb" >&2
  exit 2
fi
if ! command -v lintian >/dev/null 2>&1; then
  echo "$0: lintian is not installed (apt-get install lintian)" >&2
  exit 2
fi

exec lintian --fail-on error --display-level '>=warning' --tag-display-limit 0 \
  --suppress-tags initial-upload-closes-no-bugs "$1"
