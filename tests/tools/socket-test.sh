#!/usr/bin/env bash
# vyrnat-host --listen and vyrnat-cli end to end, as an operator uses them: the reply over the
# socket is the one the scenario's own show step printed, the socket is the owner's alone, a live
# socket is not taken over but a stale one is, a signal removes it, and the client refuses what
# the agent would not answer.
set -euo pipefail
host=${1:?usage: socket-test.sh VYRNAT-HOST VYRNAT-CLI SOURCE-DIR}
cli=${2:?}
src=${3:?}
export RINGLOG_DISABLE=1
dir=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$dir"
}
trap cleanup EXIT
# Others may enter the directory, so that only the socket's own mode keeps them out.
chmod 755 "$dir"
fail() {
    echo "FAIL: $*" >&2
    for f in "$dir"/*.out; do echo "--- $f" >&2; cat "$f" >&2; done
    exit 1
}
# Starts a listener; its pid goes to $started.
listen() {
    local sock=$1 out=$2 scenario=$3
    "$host" --listen "$sock" "$scenario" >"$out" 2>&1 &
    started=$!
    pids+=("$started")
    for _ in $(seq 300); do
        grep -q '^listening on ' "$out" && return 0
        kill -0 "$started" 2>/dev/null || fail "the host stopped before listening"
        sleep 0.1
    done
    fail "no 'listening on' within 30 s"
}
expect_exit() {
    local want=$1 says=$2
    shift 2
    local code=0 out
    out=$("$@" 2>&1) || code=$?
    [ "$code" = "$want" ] || fail "$* exited $code, not $want: $out"
    [[ "$out" == *"$says"* ]] || fail "$* said '$out', not '$says'"
}

sock=$dir/agent.sock
listen "$sock" "$dir/host.out" "$src/tests/tools/data/cli-entries.yaml"
host_pid=$started
[ -S "$sock" ] || fail "$sock is not a socket"
[ "$(stat -c %a "$sock")" = 600 ] || fail "socket mode $(stat -c %a "$sock"), not 600"
[ "$(stat -c %u "$sock")" = "$(id -u)" ] || fail "socket not owned by $(id -u)"

# The scenario's show step printed the reply line by line behind "  | "; rebuild its text.
awk '/^show "showNatStatic ingress snat all":$/ { on = 1; next }
     on && /^  \| / { printf "%s%s", sep, substr($0, 5); sep = "\n"; next }
     on && /^  \(reply: .*no line end/ { exit }
     on && /^  \(reply: / { printf "\n"; exit }
     on { exit }' "$dir/host.out" >"$dir/expected.txt"
"$cli" -s "$sock" showNatStatic ingress snat all >"$dir/got.txt" || fail "the client failed"
cmp -s "$dir/expected.txt" "$dir/got.txt" ||
    fail "socket reply differs from the show step's: $(diff "$dir/expected.txt" "$dir/got.txt")"
# One quoted argument with extra blanks is the same request.
"$cli" -s "$sock" "showNatStatic  ingress snat all" | cmp -s - "$dir/expected.txt" ||
    fail "the quoted form differs"
"$cli" -s "$sock" showNatSummary >/dev/null || fail "showNatSummary failed"

# Another user cannot connect, though the directory lets them in.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    expect_exit 3 "Permission denied" setpriv --reuid=65534 --regid=65534 --clear-groups \
        "$cli" -s "$sock" showNatSummary
fi

# Checked before sending; nothing reaches the agent.
expect_exit 2 "unknown command 'showNatBogus'" "$cli" -s "$sock" showNatBogus
expect_exit 2 "missing TYPE" "$cli" -s "$sock" showNatStatic ingress snat
expect_exit 2 "unknown TABLE 'dynamicSnat1'" "$cli" -s "$sock" showNatDynamic dnat dynamicSnat1
expect_exit 2 "is not an IPv4 address" "$cli" -s "$sock" showNatAddress 10.0.0
expect_exit 3 "No such file or directory" "$cli" -s "$dir/none.sock" showNatSummary

# A live socket is not taken over, and stays.
expect_exit 3 "is in use" "$host" --listen "$sock" "$src/tests/tools/data/cli-entries.yaml"
[ -S "$sock" ] || fail "the refused host removed the live socket"

# A signal stops the host cleanly and removes the socket.
kill -TERM "$host_pid"
code=0
wait "$host_pid" || code=$?
[ "$code" = 0 ] || fail "the host exited $code on SIGTERM"
[ ! -e "$sock" ] || fail "the socket is left after SIGTERM"
grep -q '^stopped listening on Terminated: 3 requests answered' "$dir/host.out" ||
    fail "no stop line"

# A host killed outright leaves its socket; the next one replaces it and says so.
listen "$sock" "$dir/killed.out" "$src/tests/tools/data/cli-entries.yaml"
kill -KILL "$started"
wait "$started" 2>/dev/null || true
[ -S "$sock" ] || fail "no stale socket after SIGKILL"
listen "$sock" "$dir/again.out" "$src/tests/tools/data/cli-entries.yaml"
grep -q "replaced the stale socket $sock" "$dir/again.out" || fail "the stale socket was not named"
"$cli" -s "$sock" showNatSummary >/dev/null || fail "no answer after replacing the stale socket"
kill -INT "$started"
wait "$started" || fail "the host exited non-zero on SIGINT"
[ ! -e "$sock" ] || fail "the socket is left after SIGINT"

# A chip without interface NAT: the agent refuses, and so does the client.
listen "$dir/vrf.sock" "$dir/vrf.out" "$src/scenarios/vrf.yaml"
expect_exit 1 "the agent refused showNatSummary: Command not supported in this profile" \
    "$cli" -s "$dir/vrf.sock" showNatSummary
kill -TERM "$started"
wait "$started" || true
echo "socket test passed"
