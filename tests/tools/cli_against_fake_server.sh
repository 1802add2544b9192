#!/usr/bin/env bash
# parlote-cli against the demo fake server, as a user checks a server by hand:
# every command's output and exit status.
set -uo pipefail
cli=$1
fake=$2
failures=0
check() {  # check NAME EXPECTED-STATUS PATTERN -- COMMAND...
    local name=$1 expected=$2 pattern=$3
    shift 4
    local output status
    output=$("$@" 2>&1)
    status=$?
    if [ "$status" -ne "$expected" ] || ! grep -qE -- "$pattern" <<<"$output"; then
        echo "FAIL $name: status $status (expected $expected), output:"
        echo "$output" | head -20
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
}

log=$(mktemp)
"$fake" --port 0 >"$log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 50); do
    grep -q "listening on" "$log" && break
    sleep 0.1
done
address=$(grep -oE 'http://[0-9.]+:[0-9]+' "$log" | head -1)
[ -n "$address" ] || { echo "the fake server did not start"; cat "$log"; exit 1; }
export OLLAMA_HOST=$address

check ping 0 "Ollama is running" -- "$cli" ping
check models 0 "llama3.2:latest" -- "$cli" models
check chat 0 "sky" -- "$cli" chat llama3.2:latest Why is the sky blue?
check "chat with an unknown model" 1 "not found" -- "$cli" chat nosuch:1b hello
check pull 0 "success" -- "$cli" pull phi3:mini
check "pulled model is listed" 0 "phi3:mini" -- "$cli" models
check "pull of an unknown model" 1 "does not exist" -- "$cli" pull no-such-model
check rm 0 "Removed phi3:mini" -- "$cli" rm phi3:mini
check "rm of an unknown model" 1 "not found" -- "$cli" rm phi3:mini
check usage 2 "usage" -- "$cli" frobnicate

kill $server
wait $server 2>/dev/null
check "ping with the server stopped" 1 "does not answer" -- "$cli" ping
check "models with the server stopped" 1 "Could not connect to Ollama at $address" -- "$cli" models

echo "$((12 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
