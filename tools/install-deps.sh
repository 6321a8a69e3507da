#!/usr/bin/env bash
# Installs the Debian packages the build needs, or names the missing ones in one error.
set -euo pipefail
packages=(cmake make g++ libgtest-dev libgmock-dev googletest libbenchmark-dev libyaml-cpp-dev)
# `install-deps.sh fuzz`: also clang with its libFuzzer and sanitizer runtimes.
[ "${1:-}" = fuzz ] && packages+=(clang libclang-rt-dev)
# Captures in and out of the packet path, and the independent decoder of the packet tests.
packages+=(libpcap-dev python3-scapy)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "error: missing Debian packages: ${missing[*]}; run as root or: sudo apt-get install ${missing[*]}" >&2
    exit 1
fi
echo "installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
