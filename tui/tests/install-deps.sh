#!/usr/bin/env bash
# Installs what the tests need and is missing, from Debian's packages; with
# `fuzz`, also clang and libFuzzer for make fuzz.
set -euo pipefail

packages=()
need() { # need <package> <probe command...>
  local pkg=$1; shift
  "$@" >/dev/null 2>&1 || packages+=("$pkg")
}
need cmake command -v cmake
need g++ command -v g++
need make command -v make
need git command -v git
need googletest test -d /usr/src/googletest
need libgtest-dev test -f /usr/include/gtest/gtest.h
need libgmock-dev test -f /usr/include/gmock/gmock.h
need ansible-core command -v ansible-playbook
need ansible test -d /usr/lib/python3/dist-packages/ansible_collections/community/general
need ansible-lint command -v ansible-lint
need openssh-server test -x /usr/sbin/sshd
need openssh-client command -v ssh
need unicode-data test -f /usr/share/unicode/UnicodeData.txt
need python3 command -v python3
need sudo command -v sudo
need libvterm-dev test -f /usr/include/vterm.h
if [ "${1:-}" = fuzz ]; then
  need clang-19 command -v clang++-19
  need libclang-rt-19-dev compgen -G '/usr/lib/llvm-19/lib/clang/19/lib/linux/libclang_rt.fuzzer-*.a'
fi
# The booted Arch stand-in of the playbook tests (systemd-nspawn is unpacked by target.sh).
need debootstrap test -x /usr/sbin/debootstrap
need zstd command -v zstd

if [ ${#packages[@]} -eq 0 ]; then exit 0; fi
if [ "$(id -u)" -ne 0 ]; then
  echo "missing test packages: ${packages[*]}; install them as root (apt-get install ${packages[*]})" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}"
