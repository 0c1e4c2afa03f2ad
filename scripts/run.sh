#!/usr/bin/env bash
# The tool's main job, on a fresh machine: builds the lu14 console tool and runs
# a whole firmware update against the built-in simulated meter (about ten
# seconds: the backup, 3760 chunks, the checks). Extra arguments go to lu14,
# e.g. `bash scripts/run.sh --simulate=sum-mismatch update` or `... status`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# lu14 alone, optimised, in build/lu14: the test suites (and GoogleTest) are
# the test command's.
echo "run.sh: building lu14 (build/lu14/bin/lu14)"
cmake --preset lu14 >/dev/null
cmake --build --preset lu14
if (($# == 0)); then set -- --simulate update --yes; fi
exec build/lu14/bin/lu14 "$@"
