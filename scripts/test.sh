#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds, and runs the whole test suite; then builds
# again with AddressSanitizer and UndefinedBehaviorSanitizer and runs the suite once more (the GUI
# tests excepted: Qt's own libraries are not instrumented). Set KELVANE_SANITIZE=0 to skip that pass.
# Tests that need loop devices and mounts run as root (they skip, saying why, otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-format.sh
scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j2 --timeout 900
if [ "${KELVANE_SANITIZE:-1}" != 0 ]; then
    BUILD_DIR=build-sanitize BUILD_TYPE=Debug CMAKE_ARGS="-DKELVANE_SANITIZE=address,undefined" scripts/build.sh
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --test-dir build-sanitize --output-on-failure -j2 --timeout 900 -LE gui
fi
