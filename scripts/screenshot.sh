#!/usr/bin/env bash
# Renders the window offscreen with one rotator open on the emulated
# controller and saves it as docs/orbalt.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --run
scripts/build.sh
mkdir -p docs
QT_QPA_PLATFORM=offscreen build/orbalt --demo --screenshot docs/orbalt.png
echo "Saved docs/orbalt.png"
