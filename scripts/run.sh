#!/usr/bin/env bash
# Installs what is needed, builds the server and runs it on the sample site (examples/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh normal -DKWS_BUILD_TESTS=OFF
exec build/normal/host/KestruneWS "$@"
