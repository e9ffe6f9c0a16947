#!/usr/bin/env bash
# The demo: a whole simulated update from the command line.
set -euo pipefail
build=${1:-build/release}
echo "demo: not yet wired"
