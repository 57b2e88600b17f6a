#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds, and runs the whole test suite.
# Tests that need loop devices and mounts run as root (they skip, saying why, otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-format.sh
scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j2 --timeout 900
