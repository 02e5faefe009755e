#!/usr/bin/env bash
# MergedFollowLatency with the two files followed through ssh: a private sshd on 127.0.0.1
# (a free port, its own host key, user key and known hosts, as the end-to-end test makes
# them), then quill_gui_bench's remote case pointed at a client configuration for it.
#   bench/merged-remote-follow.sh [build/bin/quill_gui_bench]
set -euo pipefail
cd "$(dirname "$0")/.."
bench=$(realpath "${1:-build/bin/quill_gui_bench}")
work=$(mktemp -d "${TMPDIR:-/tmp}/quill-merged-remote.XXXXXX")
sshd_pid=
cleanup() {
    [[ -n "$sshd_pid" ]] && kill "$sshd_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
for key in host_key user_key; do
    ssh-keygen -q -t ed25519 -N "" -C "$key" -f "$work/$key"
done
cp "$work/user_key.pub" "$work/authorized_keys"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/sshd_config" <<CONFIG
Port $port
ListenAddress 127.0.0.1
HostKey $work/host_key
AuthorizedKeysFile $work/authorized_keys
PidFile none
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
CONFIG
[[ $(id -u) -eq 0 ]] && mkdir -p /run/sshd
/usr/sbin/sshd -D -e -f "$work/sshd_config" 2>"$work/sshd.log" &
sshd_pid=$!
echo "[127.0.0.1]:$port $(cat "$work/host_key.pub")" >"$work/known_hosts"
cat >"$work/ssh_config" <<CONFIG
Host *
  Port $port
  IdentityFile $work/user_key
  IdentitiesOnly yes
  IdentityAgent none
  UserKnownHostsFile $work/known_hosts
  GlobalKnownHostsFile /dev/null
  ControlMaster no
CONFIG
for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
QUILL_BENCH_SSH_CONFIG="$work/ssh_config" QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
    "$bench" --benchmark_filter='MergedFollowLatency/remote:1'
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
