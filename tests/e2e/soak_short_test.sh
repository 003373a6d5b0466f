#!/usr/bin/env bash
# The short form of the lifecycle soak (tests/soak/soak.sh runs the long one):
# 10 start/stop cycles, 3 shutdowns, a 1-minute growth check.
exec bash "$(dirname "$0")/../soak/soak.sh" "${1:-${BUILD_DIR:-}}" 10 3 1
