#!/usr/bin/env bash
# Sets everything up, then converts the bundled sample document and prints its Markdown.
set -euo pipefail
cd "$(dirname "$0")/.."
# The sample needs the package alone; the test tools come with scripts/test.sh.
PARAVOX_EXTRAS=${PARAVOX_EXTRAS-} bash scripts/setup.sh >&2
source scripts/venv.sh
"$venv/bin/paravox" examples/sample.hwp
