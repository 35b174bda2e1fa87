#!/usr/bin/env bash
# Runs every benchmark of the suite: bash bench/run.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
bash bench/tally_bench.sh "${1:-5}"
echo
bash bench/flip_bench.sh "${1:-5}"
