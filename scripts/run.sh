#!/usr/bin/env bash
# Starts the viewer from the run folder (build/run). Later steps add the demo pack here.
set -euo pipefail
build=${1:-build}
mkdir -p "$build/run"
cd "$build/run"
exec ../evergreen
