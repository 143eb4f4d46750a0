#!/usr/bin/env bash
# Installs what is needed, builds and starts Tamsel's window: scripts/run.sh [VIDEO].
# The command-line tool is build/bin/tamsel-cli.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/install-deps.sh"
"$here/build.sh" >/dev/null
exec "$here/../${BUILD_DIR:-build}/bin/tamsel" "$@"
