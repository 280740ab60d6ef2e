#!/usr/bin/env bash
# Installs what is needed, builds the server and runs it on the sample site (examples/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# A folder of its own: the test builds must never reuse a cache configured without tests.
bash scripts/build.sh run -DKWS_BUILD_TESTS=OFF
exec build/run/host/KestruneWS "$@"
