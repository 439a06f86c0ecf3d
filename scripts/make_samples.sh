#!/usr/bin/env bash
# Writes the bundled sample board Samples/ESP32_RevA.zip (the desktop program's "Open Sample Board").
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 tools/make_sample_board.py "$@"
