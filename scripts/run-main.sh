#!/usr/bin/env bash
# Sets everything up on a fresh machine and runs the main job: the end-to-end demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
exec build/tools/objstore-backup/objstore-backup demo "$@"
