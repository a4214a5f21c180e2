#!/usr/bin/env bash
# Prints, one a line, what a target bootstrapped for ACCOUNT lacks; nothing when it is
# finished. Exit status 1 when something is missing.
#   target_verify.sh SSH_CONFIG HOST ACCOUNT PASSWORD WALLPAPER_COUNT
# HOST is reached as root through SSH_CONFIG (target.sh's ssh_config); the account must also
# log in there with the same key.
set -uo pipefail
[ $# -eq 5 ] || { echo "usage: target_verify.sh SSH_CONFIG HOST ACCOUNT PASSWORD WALLPAPER_COUNT" >&2; exit 2; }
config=$1 host=$2 account=$3 password=$4 wallpapers=$5

# Runs on the target as root; the password arrives on standard input, never on a command line.
read -r -d '' check <<'EOF'
a=$1 walls=$2
home=$(getent passwd "$a" | cut -d: -f6)
read -r password
id -nG "$a" 2>/dev/null | tr " " "\n" | grep -qx wheel || echo "$a is not in wheel"
printf '%s\n' "$password" | su -s /bin/sh "$a" -c "sudo -S -p '' -k true" >/dev/null 2>&1 ||
  echo "sudo refuses $a's password"
settings=$(sshd -T -C "user=$a,host=client,addr=127.0.0.1")
grep -qx "passwordauthentication no" <<<"$settings" || echo "sshd accepts password logins"
grep -qx "logingracetime 30" <<<"$settings" || echo "the sshd drop-in is not in effect"
[ -x /usr/bin/yay ] && pacman -Qq yay >/dev/null 2>&1 || echo "yay is not installed"
runs=$(grep -c "" "$home/.tervane-installer-runs" 2>/dev/null)
[ "$runs" = 1 ] || echo "install.fish ran ${runs:-0} times"
grep -qx "run as $a in $home/.local/share/tervane" "$home/.tervane-installer-runs" 2>/dev/null ||
  echo "install.fish did not run as $a in its configuration"
[ -z "$(find "$home/.local/share/tervane" "$home/Pictures/Wallpapers" ! -user "$a" 2>&1 | head -1)" ] ||
  echo "configuration or wallpapers not owned by $a"
[ "$(find "$home/Pictures/Wallpapers" -type f 2>/dev/null | wc -l)" = "$walls" ] || echo "not $walls wallpapers"
[ ! -e "$home/.local/share/tervane/.git" ] && [ ! -e "$home/Pictures/Wallpapers/.git" ] || echo ".git was transferred"
EOF

out=$(printf '%s\n' "$password" |
  ssh -F "$config" -o BatchMode=yes "$host" "bash -c $(printf '%q' "$check") verify $(printf '%q' "$account") $wallpapers" 2>&1)
ssh -F "$config" -o BatchMode=yes -l "$account" "$host" true </dev/null >/dev/null 2>&1 ||
  out+=$'\n'"$account cannot log in with the controller's key"
out=$(sed '/^$/d' <<<"$out")
[ -z "$out" ] || { echo "$out"; exit 1; }
