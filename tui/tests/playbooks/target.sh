#!/usr/bin/env bash
# A booted stand-in for a fresh Arch Linux install, built only from Debian packages, for the
# playbook tests. Needs root, overlayfs and a systemd-nspawn able to boot a container.
#
#   target.sh image                 build (or reuse) the image; prints its directory
#   target.sh start RUN NAME KEY    boot NAME on a fresh overlay of the image under RUN,
#                                   root's login key KEY.pub authorized; writes RUN/NAME/env
#                                   (and RUN/NAME/ssh_config, for ssh -F). With
#                                   TERVANE_TARGET_OWNER=PID, stopped when PID is gone.
#   target.sh stop RUN NAME         power the container off, remove its overlay
#
# Callers run start and stop in a private mount namespace (unshare -m), so that nothing stays
# mounted even if they are killed. Exit status 77: this machine cannot run the target.
#
# The image: a debootstrap root (cached in tui/build/target/, named after its package list)
# made to look like Arch: os-release, /usr/sbin a link to bin, a wheel group, sshd.service, and pacman with
# local file:// repositories [core] and [extra] holding small stand-in packages for every
# package the playbooks install. python and sudo are moved out of the root into their
# packages, so they exist only once the bootstrap installed them; NetworkManager's, bluez's
# and sddm's units arrive the same way. A git daemon inside serves the AUR: the container's
# /etc/gitconfig rewrites https://aur.archlinux.org/ to it, and turns its first clone away.
# Packages are signed by a key that the installed archlinux-keyring does not trust yet;
# dhcpcd@host0 is enabled; makepkg builds debug packages.
set -euo pipefail

# Callers may run with a PATH made for ordinary users.
export PATH=$PATH:/usr/local/sbin:/usr/sbin:/sbin
here=$(cd "$(dirname "$0")" && pwd -P)
root=$(cd "$here/../../.." && pwd -P)
build=${TERVANE_TARGET_BUILD:-$root/tui/build/target}
image=$build/image

die() { echo "target.sh: $*" >&2; exit 1; }
unable() { echo "target.sh: $*" >&2; exit 77; }

debian_packages=systemd,systemd-sysv,dbus,libpam-systemd,openssh-server,python3,sudo,openssl,git,fish,network-manager,pacman-package-manager,makepkg,libarchive-tools,zstd,fakeroot,iproute2,binutils
base_tar=$build/debian-base-$(echo "$debian_packages" | sha256sum | cut -c1-12).tar.zst

nspawn_binary() {
  if command -v systemd-nspawn >/dev/null 2>&1; then command -v systemd-nspawn; return; fi
  # Unpacked, not installed: installing systemd-container could upgrade the machine's systemd.
  local dir=$build/nspawn version
  if [ ! -x "$dir/root/usr/bin/systemd-nspawn" ]; then
    version=$(dpkg-query -W -f='${Version}' systemd 2>/dev/null) || unable "no systemd-nspawn and no Debian systemd"
    mkdir -p "$dir"
    (cd "$dir" && apt-get download -q "systemd-container=$version" >/dev/null 2>&1 &&
      dpkg -x systemd-container_*.deb root) || unable "cannot fetch systemd-container $version"
  fi
  echo "$dir/root/usr/bin/systemd-nspawn"
}

mirror() {
  local m
  m=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -m1 -E '/debian/?$' || true)
  [ -n "$m" ] || m=$(sed -n 's/^deb \(\[[^]]*\] \)\?\([^ ]*\/debian\/\?\) .*/\2/p' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | head -1)
  echo "${m:-http://deb.debian.org/debian}"
}

# ---- stand-in packages -----------------------------------------------------------------
# pkg DIR NAME VERSION [key=value...] -- builds DIR/NAME-VERSION-x86_64.pkg.tar.zst from the
# files staged in $stage/NAME (moved there from the root by `carry`) and its .INSTALL.
stage=
pkg() {
  local out=$1 name=$2 version=$3; shift 3
  local dir=$stage/$name tmp
  mkdir -p "$dir/usr/share/doc/tervane-stand-in" "$out"
  echo "stand-in for the Arch package $name $version" >"$dir/usr/share/doc/tervane-stand-in/$name"
  tmp=$(mktemp -d)
  cp -a "$dir/." "$tmp/"
  {
    echo "pkgname = $name"
    echo "pkgbase = $name"
    echo "pkgver = $version"
    echo "pkgdesc = Tervane test stand-in for $name"
    echo "url = https://archlinux.org/packages/"
    echo "builddate = 1700000000"
    echo "packager = Tervane tests"
    echo "size = $(du -sb "$tmp" | cut -f1)"
    echo "arch = x86_64"
    echo "license = custom"
    local kv
    for kv in "$@"; do echo "${kv%%=*} = ${kv#*=}"; done
  } >"$tmp/.PKGINFO"
  # .PKGINFO first, where pacman looks for it; no "./" prefixes: pacman skips names that start with a dot.
  (cd "$tmp" && tar --zstd --owner=0 --group=0 --numeric-owner -cf "$out/$name-$version-x86_64.pkg.tar.zst" .PKGINFO $(ls -A | grep -x .INSTALL) -- *)
  rm -rf "$tmp"
}

# carry NAME PATH... -- moves PATHs out of the root into the payload of package NAME.
carry() {
  local name=$1 p; shift
  for p in "$@"; do
    [ -e "$rootfs$p" ] || [ -L "$rootfs$p" ] || die "carry $name: $p is not in the root"
    mkdir -p "$stage/$name$(dirname "$p")"
    mv "$rootfs$p" "$stage/$name$p"
  done
}

# in_root COMMAND...: runs COMMAND in the root being built, with /dev and /proc mounted in a
# mount namespace of its own (gone when it ends).
in_root() {
  unshare --mount --propagation private -- sh -c \
    'r=$1; shift; mount --rbind /dev "$r/dev" && mount -t proc proc "$r/proc" && exec chroot "$r" "$@"' \
    in_root "$rootfs" "$@"
}

# gpg_in_root HOME SCRIPT: runs SCRIPT in the root with GNUPGHOME=HOME, then stops gpg's agents.
gpg_in_root() {
  in_root sh -c 'export GNUPGHOME=$1; sh -c "$2"; s=$?; gpgconf --kill all; exit $s' gpg_in_root "$@"
}

# unit NAME FILE CONTENT -- a unit file in the payload of package NAME.
unit() {
  mkdir -p "$stage/$1/usr/lib/systemd/system"
  printf '%s' "$3" >"$stage/$1/usr/lib/systemd/system/$2"
}

arch_ify() {
  rootfs=$1
  stage=$(mktemp -d)
  local repo=$rootfs/srv/repo

  # Arch's identity; Ansible's facts then say Archlinux.
  rm -rf "$rootfs"/var/cache/apt/archives/*.deb "$rootfs"/var/lib/apt/lists/*
  rm -f "$rootfs/etc/os-release" "$rootfs/usr/lib/os-release"
  cat >"$rootfs/usr/lib/os-release" <<'EOF'
NAME="Arch Linux"
PRETTY_NAME="Arch Linux"
ID=arch
BUILD_ID=rolling
ANSI_COLOR="38;2;23;147;209"
HOME_URL="https://archlinux.org/"
LOGO=archlinux-logo
EOF
  ln -s ../usr/lib/os-release "$rootfs/etc/os-release"
  : >"$rootfs/etc/arch-release"
  rm -f "$rootfs/etc/debian_version"
  echo tervane-target >"$rootfs/etc/hostname"

  # /usr/sbin is a link to bin on Arch.
  local f
  for f in "$rootfs"/usr/sbin/* "$rootfs"/usr/sbin/.[!.]*; do
    [ -e "$f" ] || [ -L "$f" ] || continue
    [ -e "$rootfs/usr/bin/${f##*/}" ] && { rm -f "$f"; continue; }
    mv "$f" "$rootfs/usr/bin/"
  done
  rmdir "$rootfs/usr/sbin"
  ln -s bin "$rootfs/usr/sbin"

  in_root groupadd -r wheel

  # Present on a fresh install (sshd reached the container), at an older release than in [core].
  rm -f "$rootfs/usr/lib/systemd/system/ssh.service" "$rootfs/usr/lib/systemd/system/ssh.socket" \
    "$rootfs/usr/lib/systemd/system/ssh@.service" "$rootfs/etc/systemd/system/sshd.service" \
    "$rootfs/etc/systemd/system/multi-user.target.wants/ssh.service" \
    "$rootfs/etc/systemd/system/sockets.target.wants/ssh.socket"
  rm -f "$rootfs"/etc/ssh/ssh_host_*
  mkdir -p "$rootfs/etc/ssh/sshd_config.d"

  # Only the bootstrap brings these.
  carry python /usr/bin/python3 /usr/bin/python3.11
  ln -s python3 "$stage/python/usr/bin/python"
  carry sudo /usr/bin/sudo /usr/bin/visudo
  local u
  for u in NetworkManager.service NetworkManager-dispatcher.service NetworkManager-wait-online.service; do
    [ -e "$rootfs/usr/lib/systemd/system/$u" ] && carry networkmanager "/usr/lib/systemd/system/$u"
  done
  find "$rootfs/etc/systemd/system" -lname '*NetworkManager*' -delete
  unit bluez bluetooth.service '[Unit]
Description=Bluetooth service
ConditionPathIsDirectory=/sys/class/bluetooth

[Service]
Type=simple
ExecStart=/usr/bin/sleep infinity

[Install]
WantedBy=bluetooth.target
Alias=dbus-org.bluez.service
'
  unit sddm sddm.service '[Unit]
Description=Simple Desktop Display Manager (stand-in)

[Service]
ExecStart=/usr/bin/sleep infinity

[Install]
Alias=display-manager.service
'

  # sshd as Arch ships it, plus the privilege separation directory Debian's binary wants.
  local sshd_unit='[Unit]
Description=OpenSSH Daemon
Wants=sshd-keygen.target
After=network.target

[Service]
ExecStartPre=/usr/bin/ssh-keygen -A
ExecStart=/usr/bin/sshd -D
ExecReload=/bin/kill -HUP $MAINPID
KillMode=process
Restart=always
RuntimeDirectory=sshd

[Install]
WantedBy=multi-user.target
'
  unit openssh sshd.service "$sshd_unit"
  # The running system has openssh already: its files are also in the root.
  mkdir -p "$rootfs/usr/lib/systemd/system"
  printf '%s' "$sshd_unit" >"$rootfs/usr/lib/systemd/system/sshd.service"
  ln -sf /usr/lib/systemd/system/sshd.service "$rootfs/etc/systemd/system/multi-user.target.wants/sshd.service"

  # The AUR, served from inside the container.
  mkdir -p "$rootfs/srv/git"
  local aur
  aur=$(mktemp -d)
  cat >"$aur/PKGBUILD" <<'EOF'
# Stand-in for the AUR's yay: same dependencies, a tiny program with debug information.
pkgname=yay
pkgver=12.4.2
pkgrel=1
pkgdesc='Yet another yogurt (test stand-in)'
arch=('x86_64')
url='https://github.com/Jguer/yay'
license=('GPL-3.0-or-later')
depends=('pacman>5' 'git')
makedepends=('go>=1.21')
options=('!lto')

build() {
  printf '%s\n' '.globl _start' '_start: mov $1, %eax' 'mov $1, %edi' 'lea text(%rip), %rsi' 'mov $length, %edx' \
    syscall 'mov $60, %eax' 'xor %edi, %edi' syscall "text: .ascii \"yay v$pkgver (stand-in)\\n\"" 'length = . - text' >yay.s
  as -g -o yay.o yay.s && ld --build-id -o yay yay.o
}

package() {
  install -Dm755 yay "$pkgdir/usr/bin/yay"
}
EOF
  git -C "$aur" init -q -b master
  git -C "$aur" -c user.name=aur -c user.email=aur@localhost add PKGBUILD
  git -C "$aur" -c user.name=aur -c user.email=aur@localhost commit -q -m 'yay 12.4.2-1'
  git clone -q --bare "$aur" "$rootfs/srv/git/yay.git"
  rm -rf "$aur"
  printf '#!/bin/sh\n! rm /run/aur/busy 2>/dev/null || { echo "too busy, try again"; exit 1; }\n' >"$rootfs/srv/busy"
  chmod 755 "$rootfs/srv/busy"
  cat >"$rootfs/etc/systemd/system/git-daemon.service" <<'EOF'
[Unit]
Description=Local AUR for the tests

[Service]
User=nobody
RuntimeDirectory=aur
ExecStartPre=/usr/bin/touch /run/aur/busy
ExecStart=/usr/bin/git -c safe.directory=* daemon --reuseaddr --export-all --base-path=/srv/git --listen=127.0.0.1 --informative-errors --access-hook=/srv/busy /srv/git

[Install]
WantedBy=multi-user.target
EOF
  ln -s /etc/systemd/system/git-daemon.service "$rootfs/etc/systemd/system/multi-user.target.wants/git-daemon.service"
  printf '[url "git://127.0.0.1/"]\n\tinsteadOf = https://aur.archlinux.org/\n' >"$rootfs/etc/gitconfig"
  # Arch's makepkg options, debug packages on.
  sed -i 's/^OPTIONS=.*/OPTIONS=(strip docs !libtool !staticlibs emptydirs zipman purge debug lto)/' "$rootfs/etc/makepkg.conf"
  unit dhcpcd dhcpcd@.service $'[Service]\nExecStart=/usr/bin/sleep infinity\n[Install]\nWantedBy=multi-user.target\n'
  ln -s /usr/lib/systemd/system/dhcpcd@.service "$rootfs/etc/systemd/system/multi-user.target.wants/dhcpcd@host0.service"

  # pacman with local repositories only.
  cat >"$rootfs/etc/pacman.conf" <<'EOF'
[options]
HoldPkg = pacman glibc
Architecture = x86_64
SigLevel = Required DatabaseOptional
LocalFileSigLevel = Optional
ParallelDownloads = 1

[core]
Server = file:///srv/repo/core

[extra]
Server = file:///srv/repo/extra
EOF
  mkdir -p "$rootfs/var/lib/pacman/local" "$rootfs/var/lib/pacman/sync" "$rootfs/var/cache/pacman/pkg"
  echo 9 >"$rootfs/var/lib/pacman/local/ALPM_DB_VERSION"

  # Packages a fresh install has; some at an older release, so the first upgrade has work.
  local old=$stage/old core=$repo/core extra=$repo/extra
  pkg "$old" glibc 2.39-1
  pkg "$old" openssh 9.7p1-1 "depend=glibc"
  pkg "$old" base 3-1 "depend=glibc" "depend=pacman" "depend=openssh"
  pkg "$old" pacman 6.1.0-1 "depend=glibc"
  pkg "$core" glibc 2.40-1
  pkg "$core" openssh 9.8p1-1 "depend=glibc"
  pkg "$core" base 3-2 "depend=glibc" "depend=pacman" "depend=openssh"
  pkg "$core" pacman 6.1.0-1 "depend=glibc"
  pkg "$old" dhcpcd 10.0.8-1
  pkg "$core" dhcpcd 10.0.8-1
  # The fresh install's keyring trusts the old packager key; the newer one in [core], signed
  # with it, adds the new key, which signs every other package.
  local who keys=$stage/archlinux-keyring/usr/share/keyrings
  mkdir -p "$keys" && install -d -m 700 "$rootfs/tmp/gpg"
  printf 'post_upgrade() { usr/bin/pacman-key --populate archlinux; }\npost_install() { post_upgrade; }\n' >"$keys/../../../.INSTALL"
  for who in old new; do
    gpg_in_root /tmp/gpg "gpg --batch --passphrase '' --quick-gen-key $who@packager.test ed25519 sign never &&
      gpg --export $who@packager.test >/tmp/$who.gpg && gpg --with-colons -k $who@packager.test" 2>/dev/null |
      awk -F: '$1 == "fpr" {print $10 ":4:"}' >>"$keys/archlinux-trusted"
    cat "$rootfs/tmp/$who.gpg" >>"$keys/archlinux.gpg"
    [ $who = new ] || pkg "$old" archlinux-keyring 20240313-1
  done
  pkg "$core" archlinux-keyring 20240709-1

  # What the playbooks install: [core] ...
  pkg "$core" python 3.12.4-1 "depend=glibc"
  pkg "$core" sudo 1.9.15-1 "depend=glibc"
  pkg "$core" openssl 3.3.1-1
  pkg "$core" make 4.4.1-2 "group=base-devel-tools"
  pkg "$core" gcc 14.1.1-1 "group=base-devel-tools"
  pkg "$core" fakeroot 1.35-1
  pkg "$core" base-devel 1-2 "depend=make" "depend=gcc" "depend=fakeroot" "depend=sudo"
  pkg "$core" less 1:661-1
  pkg "$core" man-db 2.12.1-1
  pkg "$core" curl 8.8.0-1
  # ... and [extra].
  pkg "$extra" gum 0.14.1-1
  pkg "$extra" networkmanager 1.48.2-1
  pkg "$extra" git 2.45.2-1
  pkg "$extra" go 2:1.22.5-1
  pkg "$extra" fish 3.7.1-1
  pkg "$extra" neovim 0.10.0-1
  pkg "$extra" starship 1.19.0-1
  pkg "$extra" wget 1.24.5-1
  pkg "$extra" unzip 6.0-21
  pkg "$extra" ttf-jetbrains-mono-nerd 3.2.1-1 "group=nerd-fonts"
  pkg "$extra" ttf-nerd-fonts-symbols 3.2.1-1 "group=nerd-fonts"
  pkg "$extra" noto-fonts 1:24.7.1-1
  pkg "$extra" noto-fonts-emoji 1:2.042-1
  pkg "$extra" hyprland 0.41.2-1
  pkg "$extra" xdg-desktop-portal-hyprland 1.3.2-1
  pkg "$extra" kitty 0.35.2-1
  pkg "$extra" sddm 0.21.0-1
  pkg "$extra" bluez 5.77-1
  pkg "$extra" bluez-utils 5.77-1 "depend=bluez"
  pkg "$extra" blueman 2.4.3-1 "depend=bluez"
  gpg_in_root /tmp/gpg 'for f in /srv/repo/*/*.pkg.tar.zst; do case $f in *keyring*) k=old ;; *) k=new ;; esac
    gpg --batch --detach-sign -u $k@packager.test "$f" || exit 1; done' || die "cannot sign the packages"
  local r
  for r in core extra; do
    in_root sh -c "repo-add -q /srv/repo/$r/$r.db.tar.gz /srv/repo/$r/*.pkg.tar.zst" >/dev/null
  done

  # The installed set: registered only (their files are Debian's, already in the root).
  cp "$old"/*.pkg.tar.zst "$rootfs/tmp/"
  in_root pacman -U --dbonly --noconfirm --asdeps --noscriptlet \
    /tmp/glibc-2.39-1-x86_64.pkg.tar.zst /tmp/pacman-6.1.0-1-x86_64.pkg.tar.zst >/dev/null 2>&1
  in_root pacman -U --dbonly --noconfirm --noscriptlet \
    /tmp/base-3-1-x86_64.pkg.tar.zst /tmp/openssh-9.7p1-1-x86_64.pkg.tar.zst >/dev/null 2>&1
  in_root pacman -U --noconfirm --noscriptlet /tmp/archlinux-keyring-20240313-1-x86_64.pkg.tar.zst /tmp/dhcpcd-10.0.8-1-x86_64.pkg.tar.zst >/dev/null 2>&1
  [ "$(in_root pacman -Qq 2>/dev/null | tr '\n' ' ')" = "archlinux-keyring base dhcpcd glibc openssh pacman " ] || die "the local pacman database is incomplete"
  # The new key known but not trusted, as after a lookup on a key server.
  gpg_in_root /etc/pacman.d/gnupg 'pacman-key --init && pacman-key --populate archlinux && pacman-key --add /tmp/new.gpg' \
    >/dev/null 2>&1 || die "cannot set up pacman's keyring"
  rm -rf "$rootfs"/tmp/*.pkg.tar.zst "$rootfs"/tmp/gpg "$rootfs"/tmp/*.gpg
  rm -rf "$stage"

  # Quiet, fast boots.
  ln -sf /dev/null "$rootfs/etc/systemd/system/systemd-timesyncd.service"
  ln -sf /dev/null "$rootfs/etc/systemd/system/apt-daily.timer"
  ln -sf /dev/null "$rootfs/etc/systemd/system/apt-daily-upgrade.timer"
  ln -sf /dev/null "$rootfs/etc/systemd/system/e2scrub_all.timer"
  image_stamp >"$rootfs/.tervane-image"
}

# The image is rebuilt whenever the code that makes it changes.
image_stamp() {
  { echo "$debian_packages"; declare -f arch_ify pkg carry unit in_root gpg_in_root; } | sha256sum | cut -c1-16
}

cmd_image() {
  local stamp
  stamp=$(image_stamp)
  [ "$(id -u)" -eq 0 ] || unable "not root"
  command -v zstd >/dev/null || unable "zstd is not installed"
  mkdir -p "$build"
  # One builder at a time; the others wait and reuse its image.
  exec 9>"$build/lock"
  flock 9
  if [ -f "$image/.tervane-image" ] && [ "$(cat "$image/.tervane-image")" = "$stamp" ]; then
    echo "$image"; return
  fi
  mkdir -p "$build"
  if [ ! -f "$base_tar" ]; then
    command -v debootstrap >/dev/null || unable "debootstrap is not installed"
    rm -rf "$build/base.tmp"
    debootstrap --variant=minbase --include="$debian_packages" bookworm "$build/base.tmp" "$(mirror)" \
      >"$build/debootstrap.log" 2>&1 || die "debootstrap failed, see $build/debootstrap.log"
    rm -rf "$build/base.tmp"/var/cache/apt/archives/*.deb "$build/base.tmp"/var/lib/apt/lists/*
    rm -f "$build"/debian-base*.tar.zst
    tar -C "$build/base.tmp" --zstd -cpf "$base_tar.tmp" . && mv "$base_tar.tmp" "$base_tar"
    rm -rf "$build/base.tmp"
  fi
  rm -rf "$image" "$image.tmp"
  mkdir -p "$image.tmp"
  tar -C "$image.tmp" --zstd -xpf "$base_tar"
  arch_ify "$image.tmp" >&2
  mv "$image.tmp" "$image"
  echo "$image"
}

# Closes every descriptor above 2: what runs on after this script (the container, the
# watchdog) must not hold a pipe of the caller, who may read our output until its end.
close_inherited() {
  local fd
  for fd in /proc/$BASHPID/fd/*; do
    fd=${fd##*/}
    [ "$fd" -gt 2 ] && eval "exec $fd>&-" 2>/dev/null
  done
  return 0
}

# The mounted cgroup hierarchies systemd works in: name=systemd (v1) and the unified one.
cgroup_roots() {
  awk '$3 == "cgroup2" || ($3 == "cgroup" && $4 ~ /(^|,)name=systemd(,|$)/) {print $2}' /proc/mounts
}

cmd_start() {
  local run=$1 name=$2 key=$3 dir=$1/$2 nspawn pid i
  nspawn=$(nspawn_binary)
  [ "$(readlink /proc/self/ns/mnt)" != "$(readlink /proc/1/ns/mnt)" ] ||
    die "start runs only in a private mount namespace (unshare --mount --propagation private)"
  # nspawn keeps per-container state under /run/systemd/nspawn and insists on a tmpfs there.
  if ! mountpoint -q /run/systemd/nspawn; then
    mkdir -p /run/systemd/nspawn && mount -t tmpfs -o mode=0755 tmpfs /run/systemd/nspawn
  fi
  mkdir -p "$dir/upper" "$dir/work" "$dir/root"
  # A source that looks like a device: Ansible's mount facts skip sources that do not start with /.
  mount -t overlay "/dev/tervane-$name" -o "lowerdir=$image,upperdir=$dir/upper,workdir=$dir/work" "$dir/root" ||
    unable "no overlayfs here"
  install -d -m 700 "$dir/root/root/.ssh"
  install -m 600 "$key.pub" "$dir/root/root/.ssh/authorized_keys"
  echo "$name" >"$dir/root/etc/hostname"
  # Detached from the caller's terminal; its console output goes to a log. Under systemd
  # (with its bus), nspawn gets a scope of its own; elsewhere each container gets cgroups made here, in the
  # hierarchies systemd uses, so that several can run at once and stop leaves nothing.
  local -a flags=(--quiet --boot --register=no --private-network --machine="$name" --directory="$dir/root" --console=pipe)
  local groups=() h
  if [ ! -d /run/systemd/system ] || [ ! -S /run/dbus/system_bus_socket ]; then
    flags+=(--keep-unit)
    # Named after the run directory too, so that runs from two checkouts never share one.
    local group
    group=tervane-$name-$(printf '%s' "$dir" | md5sum | cut -c1-12)
    for h in $(cgroup_roots); do
      mkdir -p "$h/$group" && groups+=("$h/$group")
    done
  fi
  printf '%s\n' "${groups[@]}" >"$dir/cgroups"
  (
    for h in "${groups[@]}"; do echo "$BASHPID" >"$h/cgroup.procs"; done
    close_inherited
    exec setsid "$nspawn" "${flags[@]}" </dev/null >"$dir/console.log" 2>&1
  ) &
  echo $! >"$dir/nspawn.pid"
  # The container's init: the process that is PID 1 in its own namespace under nspawn.
  local child
  pid=
  for i in $(seq 1 100); do
    for child in $(pgrep -P "$(cat "$dir/nspawn.pid")"); do
      grep -qE '^NSpid:.*[[:space:]]1$' "/proc/$child/status" 2>/dev/null && pid=$child
    done
    [ -n "$pid" ] && break
    kill -0 "$(cat "$dir/nspawn.pid")" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "${pid:-}" ] || { cat "$dir/console.log" >&2; unable "systemd-nspawn cannot start a container"; }
  echo "$pid" >"$dir/leader.pid"
  # With TERVANE_TARGET_OWNER=PID the container is stopped once that process is gone, even
  # if it was killed without a chance to clean up.
  if [ -n "${TERVANE_TARGET_OWNER:-}" ]; then
    (
      close_inherited
      exec setsid bash -c 'while kill -0 "$1" 2>/dev/null && [ -d "$2/$3" ]; do sleep 1; done
        [ -d "$2/$3" ] && exec "$4" stop "$2" "$3"' watch "$TERVANE_TARGET_OWNER" "$run" "$name" "$here/target.sh" \
        </dev/null >/dev/null 2>&1
    ) &
  fi
  cat >"$dir/ssh_config" <<EOF
Host $name
  HostName $name
  User root
  IdentityFile $key
  IdentitiesOnly yes
  StrictHostKeyChecking no
  UserKnownHostsFile $dir/known_hosts
  ProxyCommand nsenter --target $pid --net -- python3 $here/relay.py 127.0.0.1 22
EOF
  # Booted once sshd answers.
  for i in $(seq 1 120); do
    if ssh -F "$dir/ssh_config" -o ConnectTimeout=5 -o BatchMode=yes "$name" true </dev/null >/dev/null 2>&1; then
      printf 'NAME=%s\nLEADER=%s\nSSH_CONFIG=%s\n' "$name" "$pid" "$dir/ssh_config" >"$dir/env"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
  done
  cat "$dir/console.log" >&2
  nsenter --target "$pid" --mount --pid -- journalctl -b --no-pager 2>&1 | tail -40 >&2
  unable "the container $name did not boot to sshd"
}

cmd_stop() {
  local dir=$1/$2 pid i g
  if [ -f "$dir/nspawn.pid" ]; then
    pid=$(cat "$dir/nspawn.pid")
    # SIGTERM asks nspawn for an orderly shutdown of the container; SIGKILL after 20 s.
    kill -TERM "$pid" 2>/dev/null || true
    for i in $(seq 1 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    # The container's init takes everything in its PID namespace with it.
    if [ -f "$dir/leader.pid" ]; then kill -KILL "$(cat "$dir/leader.pid")" 2>/dev/null || true; fi
    rm -f "$dir/nspawn.pid"
  fi
  # Whatever is left in the container's cgroups, then the cgroups themselves.
  if [ -f "$dir/cgroups" ]; then
    while read -r g; do
      [ -d "$g" ] || continue
      for i in $(seq 1 50); do
        [ -z "$(find "$g" -name cgroup.procs -exec cat {} +)" ] && break
        find "$g" -name cgroup.procs -exec cat {} + | xargs -r kill -KILL 2>/dev/null
        sleep 0.1
      done
      find "$g" -depth -type d -exec rmdir {} \; 2>/dev/null
    done <"$dir/cgroups"
  fi
  if mountpoint -q "$dir/root" 2>/dev/null; then
    umount "$dir/root" 2>/dev/null || umount -l "$dir/root"
  fi
  rm -rf "$dir"
}

case "${1:-}" in
  image) cmd_image ;;
  start) [ $# -eq 4 ] || die "usage: target.sh start RUN NAME KEY"; cmd_start "$2" "$3" "$4" ;;
  stop) [ $# -eq 3 ] || die "usage: target.sh stop RUN NAME"; cmd_stop "$2" "$3" ;;
  *) die "usage: target.sh image | start RUN NAME KEY | stop RUN NAME" ;;
esac
