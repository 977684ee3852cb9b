#!/bin/sh
# An SFTP server on 127.0.0.1 for the tests: OpenSSH's sshd with a host key
# of its own, serving the file system to one user who logs in with a key.
#
#   sftp_server.sh DIR PORT HOME
#
# Keeps its keys and configuration in DIR, listens on PORT, and lets the user
# running it log in with a new key pair that it writes to HOME/.ssh/id_rsa,
# where libcurl looks for a key when it is given none. ECDSA: OpenSSH no
# longer accepts the SHA-1 signatures of an RSA key, the only ones libssh2
# 1.10 makes. Runs in the foreground until it is terminated.
set -eu

[ $# -eq 3 ] || { echo "usage: sftp_server.sh DIR PORT HOME" >&2; exit 2; }
dir=$1
port=$2
home=$3

mkdir -p "$dir" "$home/.ssh"
rm -f "$dir/host_key" "$dir/host_key.pub" "$home/.ssh/id_rsa" "$home/.ssh/id_rsa.pub"
ssh-keygen -q -t ecdsa -b 256 -m PEM -N '' -f "$dir/host_key"
ssh-keygen -q -t ecdsa -b 256 -m PEM -N '' -f "$home/.ssh/id_rsa"
cp "$home/.ssh/id_rsa.pub" "$dir/authorized_keys"
cat >"$dir/sshd_config" <<CONFIG
ListenAddress 127.0.0.1
Port $port
HostKey $dir/host_key
PidFile none
AuthorizedKeysFile $dir/authorized_keys
StrictModes no
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
PermitRootLogin prohibit-password
AllowTcpForwarding no
X11Forwarding no
Subsystem sftp internal-sftp
CONFIG
# sshd started by root wants its privilege separation folder.
[ "$(id -u)" -ne 0 ] || mkdir -p /run/sshd
exec /usr/sbin/sshd -D -e -f "$dir/sshd_config"
