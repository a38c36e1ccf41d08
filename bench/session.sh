#!/usr/bin/env bash
# The measurements; started by bench/run.sh inside tests/e2e/run_e2e.sh's desktop.
# The table goes to stdout; the details of every run to stderr and VELMORA_BENCH_LOG.
set -euo pipefail
here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
log=${VELMORA_BENCH_LOG:-/dev/null}
python3 "$here/measure.py" 2> >(tee -- "$log" >&2)
