#!/usr/bin/env bash
# A Slurm job array converts a tree in 4 shards on a one-node cluster of its
# own on this machine, and writes exactly the files of one sequential run,
# each converted once. The test starts munged, slurmctld and slurmd itself
# (process tracking without cgroups, ports of its own) and stops every daemon
# it started. Exits 77 (skipped) where it cannot run: not root, or Slurm,
# munge or python3 missing (Debian: slurm-wlm munge python3).
# Usage: slurm_shards_test.sh TAMBERLIT_CLI
set -u
cli=$1
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "the daemons run as root in this test"
for tool in slurmctld slurmd sbatch sinfo munged python3; do
  command -v "$tool" >/dev/null || skip "$tool is missing (Debian: slurm-wlm munge python3)"
done

work=$(mktemp -d)
chmod 755 "$work"  # munged wants its socket reachable by all
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
. "$here/engine_test_tree.sh"
prepare_farm "$cli" "$work"

# Ports of our own, so that a Slurm of the machine is left alone.
port=$((20000 + RANDOM % 20000))
node=$(hostname -s)
dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 2>/dev/null
chmod 400 "$work/munge.key"
mkdir -p "$work/state" "$work/spool"
cat > "$work/slurm.conf" <<CONF
ClusterName=tamberlit
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge.socket
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MpiDefault=none
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=farm Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
# slurmd starts its cgroup plugin even when process tracking and tasks use
# none; where no cgroup file system is mounted (a chroot, some containers) the
# plugin it would detect fails, while the version 1 plugin starts without one.
mountpoint -q /sys/fs/cgroup || echo "CgroupPlugin=cgroup/v1" > "$work/cgroup.conf"
export SLURM_CONF=$work/slurm.conf

munged --foreground --socket="$work/munge.socket" --key-file="$work/munge.key" \
       --pid-file="$work/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munge.seed" \
       >"$work/munged.out.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$work/munge.socket" ] && break; sleep 0.1; done
[ -S "$work/munge.socket" ] || fail "munged did not start"
slurmctld -D -f "$work/slurm.conf" >"$work/slurmctld.out.log" 2>&1 &
pids+=($!)
slurmd -D -f "$work/slurm.conf" >"$work/slurmd.out.log" 2>&1 &
slurmd=$!
pids+=($slurmd)
# A daemon that cannot start on this machine is a reason to skip; a node that
# starts and never comes up is a failure. A minute at most.
state=
deadline=$((SECONDS + 60))
while [ "$SECONDS" -lt "$deadline" ]; do
  kill -0 "$slurmd" 2>/dev/null ||
    skip "slurmd could not start here: $(grep -m1 -i error "$work/slurmd.out.log" || tail -n 1 "$work/slurmd.out.log")"
  state=$(timeout 5 sinfo -h -o %T 2>/dev/null | head -n 1)
  [ "$state" = idle ] && break
  sleep 0.2
done
[ "$state" = idle ] || fail "the node did not come up (state: ${state:-none})"

# The recipe of the README: one array task a shard.
timeout 300 sbatch --wait --array=0-3 --output="$work/task-%a.log" --wrap \
  "'$cli' -q -j 1 --to .png --files-from '$work/work.lst' -0 \
     --shard \$SLURM_ARRAY_TASK_ID/\$SLURM_ARRAY_TASK_COUNT --report \"$work/report-\$SLURM_ARRAY_TASK_ID.jsonl\"" \
  >"$work/sbatch.log" 2>&1 || fail "the job array failed"

same_outputs "$work/once" "$work/farm" || fail "the shards wrote other files than one run"
once "$work"/report-*.jsonl || fail "the shards' reports"
[ "$(ls "$work"/report-*.jsonl | wc -l)" = 4 ] || fail "not every task ran"
echo "ok: 4 array tasks wrote the files of one run"
