# Sourced by the project's scripts: names the step a script is in, so that a
# failing command says which step failed and why instead of ending the
# script silently.

TESSEL_STEP=${TESSEL_STEP:-starting}
TESSEL_SCRIPT=$(basename "$0")

tessel_step() { TESSEL_STEP=$1; }

tessel_report_failure() {
    local status=$1 command=$2 line=$3
    echo "$TESSEL_SCRIPT: failed while $TESSEL_STEP: '$command' (line $line) ended with status $status" >&2
    if [ -n "${TESSEL_FAILURE_HINT:-}" ]; then
        echo "$TESSEL_SCRIPT: $TESSEL_FAILURE_HINT" >&2
    fi
}

# Stops the script with a message of its own.
tessel_die() {
    echo "$TESSEL_SCRIPT: failed while $TESSEL_STEP: $1" >&2
    trap - ERR
    exit 1
}

set -eEuo pipefail
trap 'tessel_report_failure $? "$BASH_COMMAND" "$LINENO"' ERR
