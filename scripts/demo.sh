#!/usr/bin/env bash
# Sets everything up, then converts the bundled sample document and prints its Markdown.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >&2
python3 -c 'import _paravox, sys; sys.stdout.write(_paravox.hwp_to_markdown("examples/sample.hwp") + "\n")'
