#!/usr/bin/env bash
# Installs what is needed, builds and runs Tamsel. Until the window lands this runs the
# command-line tool: scripts/run.sh show VIDEO, scripts/run.sh --help, ...
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/install-deps.sh"
"$here/build.sh" >/dev/null
exec "$here/../${BUILD_DIR:-build}/bin/tamsel-cli" "$@"
