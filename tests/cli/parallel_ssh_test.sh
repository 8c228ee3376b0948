#!/usr/bin/env bash
# GNU parallel over ssh converts a tree in 4 shards on two login entries, and
# writes exactly the files of one sequential run, each converted once. The
# test starts sshd on a loopback address and a port of its own, with a host
# key and an authorized key made for it; nothing else is contacted. Exits 77
# (skipped) where it cannot run: parallel, sshd, ssh or python3 missing
# (Debian: parallel openssh-server openssh-client python3).
# Usage: parallel_ssh_test.sh TAMBERLIT_CLI
set -u
cli=$1
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "skipped: $*"; exit 77; }
sshd=$(command -v sshd || echo /usr/sbin/sshd)
[ -x "$sshd" ] || skip "sshd is missing (Debian: openssh-server)"
for tool in parallel ssh ssh-keygen python3; do
  command -v "$tool" >/dev/null || skip "$tool is missing (Debian: parallel openssh-client python3)"
done

work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
. "$here/engine_test_tree.sh"
prepare_farm "$cli" "$work"

port=$((20000 + RANDOM % 20000))
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key" || fail "no host key"
ssh-keygen -q -t ed25519 -N '' -f "$work/client_key" || fail "no client key"
cp "$work/client_key.pub" "$work/authorized_keys"
chmod 600 "$work/authorized_keys"
[ "$(id -u)" = 0 ] && mkdir -p /run/sshd  # sshd's privilege separation wants it
cat > "$work/sshd_config" <<CONF
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
AuthorizedKeysFile $work/authorized_keys
PasswordAuthentication no
KbdInteractiveAuthentication no
PubkeyAuthentication yes
PermitRootLogin prohibit-password
UsePAM no
StrictModes no
PidFile $work/sshd.pid
CONF
echo "[127.0.0.1]:$port $(cat "$work/host_key.pub")" > "$work/known_hosts"
# Two login entries, as two machines of a farm would be.
cat > "$work/ssh_config" <<CONF
Host first second
  HostName 127.0.0.1
  Port $port
  User $(id -un)
  IdentityFile $work/client_key
  IdentitiesOnly yes
  UserKnownHostsFile $work/known_hosts
  StrictHostKeyChecking yes
  BatchMode yes
CONF
"$sshd" -D -f "$work/sshd_config" -E "$work/sshd.log" &
server=$!
for _ in $(seq 100); do
  ssh -F "$work/ssh_config" first true 2>/dev/null && break
  sleep 0.1
done
ssh -F "$work/ssh_config" first true 2>"$work/ssh.log" || fail "cannot log in over ssh"

# The recipe of the README: one shard a job, on every login.
export HOME=$work/home
mkdir -p "$HOME"
timeout 300 parallel --will-cite --ssh "ssh -F $work/ssh_config" --sshlogin 1/first,1/second \
  "'$cli' -q -j 1 --to .png --files-from '$work/work.lst' -0 --shard {}/4 --report '$work/report-{}.jsonl'" \
  ::: 0 1 2 3 >"$work/parallel.log" 2>&1 || fail "parallel failed"

same_outputs "$work/once" "$work/farm" || fail "the shards wrote other files than one run"
once "$work"/report-*.jsonl || fail "the shards' reports"
[ "$(ls "$work"/report-*.jsonl | wc -l)" = 4 ] || fail "not every job ran"
echo "ok: 4 jobs over ssh wrote the files of one run"
