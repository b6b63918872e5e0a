#!/usr/bin/env bash
# Writes the workbooks of the benchmark workloads and of the fuzz corpus with one build of
# palomet-import, in both sheet modes, so that two builds can be compared cell for cell:
#
#     bench/workload_books.sh build-before/bin/palomet-import DATA books-before
#     bench/workload_books.sh build/bin/palomet-import DATA books-after
#     bench/compare_xlsx.py --dirs books-before books-after
#
# DATA is a folder written by bench/gen.py (flat.xml, many/, nested.xml). The fuzz corpus
# is imported with --keep-going, since some of its files are refused on purpose; the lines
# each run prints on standard error go to OUT/NAME.log, to be compared too.
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 PALOMET-IMPORT DATA OUT" >&2
  exit 2
fi
program=$(realpath "$1")
data=$(realpath "$2")
mkdir -p "$3"
out=$(realpath "$3")
# From the top of the checkout, so that the corpus' paths in the logs are the same in every
# checkout.
cd "$(dirname "$0")/.."
run() {
  local name=$1
  shift
  for mode in one multiple; do
    local flags=(-q)
    [ "$mode" = multiple ] && flags+=(--multiple-sheets)
    set +e
    "$program" "${flags[@]}" -o "$out/$name-$mode.xlsx" "$@" 2> "$out/$name-$mode.log"
    echo "exit $?" >> "$out/$name-$mode.log"
    set -e
  done
}
run w1 "$data/flat.xml"
run w2 "$data/many"
run w3 "$data/nested.xml"
run fuzz -k fuzz/corpus/xml/*.xml
