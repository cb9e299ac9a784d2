#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated reader and the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir=${VELMARROW_BUILD_DIR:-build}
sim_pid=""
if [ -x "$build_dir/sim/lumivex-sim" ]; then
  echo "== Starting the simulated reader: $build_dir/sim/lumivex-sim"
  "$build_dir/sim/lumivex-sim" --readers 3 --version 2.3.0.0,3.0.2.1,3.0.2.1 --serial 3 --no-stdin &
  sim_pid=$!
  trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true' EXIT
fi
echo "== Starting Velmarrow: $build_dir/app/velmarrow"
"$build_dir/app/velmarrow" "$@"
