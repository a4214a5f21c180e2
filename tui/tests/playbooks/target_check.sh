#!/usr/bin/env bash
# Runs the playbooks for real against booted stand-ins of a fresh Arch install (target.sh), in
# two groups:
#   1. logged in as root, with 1,000 more files in each clone: bootstrap.yml on two targets
#      from one inventory, then again on one with the wizard's extra variables (changed=0 in
#      every phase); a new kernel and the run's last words; a changed file through phases 60
#      and 70 (transfer times printed); an sshd change rolled back;
#   2. logged in as a wheel user with a sudo password, from a controller as real users have one
#      (umask 077 clones, an ssh-agent full of keys, no key file): bootstrap.yml twice, then
#      previews, refusals and planted links.
# Each run's first bootstrap is the costly part of the suite, so every check that can start
# from a finished target does. The groups run side by side, each on containers of its own,
# and their reports follow in this order once both have ended. Every container runs on its own
# overlay in this script's private mount namespace and is stopped on exit or interruption.
# Without root, overlayfs or a bootable nspawn the tests are reported SKIPPED by name.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd -P)
root=${TERVANE_PLAYBOOKS_ROOT:-$(cd "$here/../../.." && pwd -P)}
tests=("bootstrap twice as root" "two targets from one inventory"
  "1,000-file transfers in phases 60 and 70"
  "a preview of a target without Python names the phase to run first"
  "a wheel user with a sudo password, umask 077 clones, an agent with five other keys and no key file: bootstrap twice"
  "a preview of the finished target changes nothing" "a changed sshd_port is refused"
  "a key file without .pub beside it is authorized for the account"
  "links planted by the account leave root's files as they were"
  "a refused fresh login puts the previous sshd configuration back"
  "one probe, one fact gathering and one account lookup a run"
  "a newer kernel than the running one is said to need a reboot"
  "the end of a run reads as text, without unfilled templates or remote_tmp warnings")

passed=0 failed=0 skipped=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
skip_all() {
  local t
  for t in "${tests[@]}"; do echo "SKIPPED: $t ($*)"; done
  echo "target playbooks: 0 passed, 0 failed, ${#tests[@]} skipped"
  exit 0
}

[ "$(id -u)" -eq 0 ] || skip_all "needs root"
# A private mount namespace: whatever is mounted here vanishes with this script.
if [ -z "${TERVANE_TARGET_NS:-}" ]; then
  TERVANE_TARGET_NS=1 exec unshare --mount --propagation private -- "$0" "$@"
fi
grep -qw overlay /proc/filesystems || modprobe overlay 2>/dev/null || true
grep -qw overlay /proc/filesystems || skip_all "no overlayfs"

image_started=$SECONDS
"$here/target.sh" image >/dev/null
case $? in 0) ;; 77) skip_all "the target image cannot be built here" ;; *) fail "building the target image"; exit 1 ;; esac
echo "target image ready in $((SECONDS - image_started)) s"

export ANSIBLE_COLLECTIONS_PATH=/usr/lib/python3/dist-packages/ansible_collections
export ANSIBLE_CONFIG=$root/ansible.cfg
export ANSIBLE_NOCOLOR=1 ANSIBLE_STDOUT_CALLBACK=json ANSIBLE_LOG_PATH=/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/tervane-target.XXXXXX")
logs=$here/../../build/target/logs
# Its own SSH control sockets: another run against a container of the same name must not
# share a master connection with this one.
export ANSIBLE_LOCAL_TEMP=$work/ansible-tmp ANSIBLE_SSH_CONTROL_PATH_DIR=$work/cp TERVANE_TARGET_OWNER=$$
running=() lanes=()
cleanup() {
  local n
  # Each group leads a process group of its own (set -m below): its runs end with it.
  for n in "${lanes[@]}"; do kill -TERM -- "-${n#*:}" 2>/dev/null; done
  wait
  for n in "${running[@]}"; do "$here/target.sh" stop "$work/run" "$n" 2>/dev/null; done
  # The runs' output stays for a look after a failure.
  rm -rf "$logs" && mkdir -p "$logs" && cp "$work"/*.out "$work"/*.err "$work"/*.summary "$logs/" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 130" INT TERM HUP

ssh-keygen -q -t ed25519 -N '' -C tervane-test -f "$work/key"

# Boots every container at once, before the groups start: booting is mostly waiting.
start() { # start NAME...
  local n pids=() status booted=0 unable=0
  for n in "$@"; do
    running+=("$n")
    "$here/target.sh" start "$work/run" "$n" "$work/key" >/dev/null 2>"$work/$n.start.log" &
    pids+=($!)
  done
  for n in "$@"; do
    wait "${pids[0]}"; status=$?; pids=("${pids[@]:1}")
    case $status in
      0) booted=1; cat "$work/run/$n/ssh_config" >>"$work/ssh_config" ;;
      77) unable=1; cat "$work/$n.start.log" ;;
      *) cat "$work/$n.start.log"; fail "starting $n" ;;
    esac
  done
  # Only a machine that never booted a container is one that cannot run them.
  [ $unable -eq 1 ] && [ $booted -eq 0 ] && [ $failed -eq 0 ] && skip_all "the containers cannot boot here"
  [ $unable -eq 0 ] && [ $failed -eq 0 ] || { fail "starting the containers"; echo "target playbooks: $passed passed, $failed failed, $skipped skipped"; exit 1; }
}
on() { # on NAME COMMAND: runs COMMAND as root in the container
  ssh -F "$work/ssh_config" -o BatchMode=yes "$1" "$2" </dev/null
}

# The controller's clones, as the wizard makes them: git work trees with an install.fish.
commit() { git -C "$1" add -A && git -C "$1" -c user.name=t -c user.email=t@localhost commit -q -m "$2"; } # DIR MESSAGE
make_clone() { # make_clone DIR IMAGES [TEXT-FILES]
  local dir=$1 i
  mkdir -p "$dir" && git -C "$dir" init -q -b main
  for ((i = 0; i < $2; i++)); do
    mkdir -p "$dir/set$((i % 10))" && printf 'P5\n1 1\n255\n%c' "$((i % 200 + 32))" >"$dir/set$((i % 10))/image$i.pgm"
  done
  for ((i = 0; i < ${3:-0}; i++)); do
    mkdir -p "$dir/many$((i % 20))" && echo "file $i" >"$dir/many$((i % 20))/f$i.txt"
  done
  commit "$dir" initial
}
# The root targets' clones hold 1,000 more files each.
configs=$work/cache/configs wallpapers=$work/cache/wallpapers
make_clone "$configs" 30 1000
cat >"$configs/install.fish" <<'EOF'
# Stand-in installer: records each run.
echo "run as "(id -un)" in "(pwd) >>$HOME/.tervane-installer-runs
EOF
commit "$configs" installer
make_clone "$wallpapers" 300 1000

# vars_json USER BECOME_PASSWORD HOST: the document the wizard writes.
vars_json() {
  printf '{"ansible_become_password":"%s","ansible_host":"%s","ansible_ssh_private_key_file":"%s","ansible_user":"%s","default_password":"583920","default_user":"maria","local_tervane_path":"%s","local_transfer_mode":true,"local_wallpapers_path":"%s","noninteractive":true}' \
    "$2" "$3" "$work/key" "$1" "$configs" "$wallpapers"
}
inventory() { # inventory FILE NAME...: the wizard's inventory line per host
  local file=$1 n; shift
  echo "[workstation]" >"$file"
  for n in "$@"; do
    echo "$n ansible_host=$n ansible_user=root ansible_ssh_private_key_file=$work/key ansible_ssh_common_args='-o StrictHostKeyChecking=no'" >>"$file"
  done
}
# playbook LABEL INVENTORY VARS PLAYBOOK...: runs ansible-playbook, leaves the summary in
# $work/LABEL.summary and the wall time in $last_seconds. Every run logs in afresh, as a
# user's next run would: no SSH master connection is shared with an earlier run.
ssh_file=$work/ssh_config
playbook() {
  local label=$1 inv=$2 vars=$3 started; shift 3
  started=$(date +%s.%N)
  # ssh reads the containers' ProxyCommand from this file.
  (cd "$root" && ANSIBLE_SSH_EXTRA_ARGS="-F $ssh_file" ANSIBLE_SFTP_EXTRA_ARGS="-F $ssh_file" \
    ANSIBLE_SCP_EXTRA_ARGS="-F $ssh_file" ANSIBLE_SSH_CONTROL_PATH_DIR="$work/cp/$label" PYTHONUNBUFFERED=1 timeout 1200 \
    ansible-playbook -i "$inv" --extra-vars "@$vars" "$@" </dev/null >"$work/$label.out" 2>"$work/$label.err")
  last_status=$?
  last_seconds=$(echo "$(date +%s.%N) - $started" | bc 2>/dev/null || python3 -c "print($(date +%s.%N) - $started)")
  python3 "$here/summary.py" <"$work/$label.out" >"$work/$label.summary" 2>>"$work/$label.err" ||
    echo "RECAP|?|unreadable output" >>"$work/$label.summary"
}
show() { # show LABEL: the per-phase table
  awk -F'|' '$1 == "PLAY" {printf "    %-18s %-12s %s\n", $2, $3, $4}' "$work/$1.summary"
}
problems_of_first_run() { # LABEL: failures, unreachable hosts, duplicated handlers
  local label=$1
  [ "$last_status" -eq 0 ] || echo "exit status $last_status"
  grep -E '^RECAP' "$work/$label.summary" | grep -vE 'failed=0 unreachable=0$' || true
  grep -E '^(FAILED|HANDLER)' "$work/$label.summary" || true
  [ -s "$work/$label.summary" ] || { echo "no output:"; tail -20 "$work/$label.err"; }
}
problems_of_second_run() {
  problems_of_first_run "$1"
  awk -F'|' '$1 == "PLAY" && $4 !~ / changed=0 / {print "changed in " $2 ": " $4}' "$work/$1.summary"
}
add() { [ -z "$1" ] || p+="$1"$'\n'; } # add PROBLEMS: collects them in $p
# expect_failure LABEL TEXT: the run failed (exit status 2) with TEXT in its output, no traceback.
expect_failure() {
  [ "$last_status" -eq 2 ] || echo "exit status $last_status, expected 2"
  grep -qF -- "$2" "$work/$1.out" || echo "no message \"$2\""
  ! grep -q Traceback "$work/$1.out" "$work/$1.err" || echo "a traceback"
}
report() { # report NAME LABEL PROBLEMS
  if [ -z "$3" ]; then pass "$1"; else fail "$1"$'\n'"$3"$'\n'"$(tail -5 "$work/$2.err")"; fi
}

# What a finished target must show, whoever ran the bootstrap (target_verify.sh).
target_problems() { # target_problems NAME WALLPAPERS
  "$here/target_verify.sh" "$work/ssh_config" "$1" maria 583920 "${2:-300}"
}
# python and sudo came in the same pacman transaction as the upgrade of the older packages.
partial_upgrade() { # partial_upgrade NAME
  on "$1" 'cat /var/log/pacman.log' |
    awk '/transaction started/ {t = ""} {t = t $0 "\n"} /installed python/ {p = 1} /transaction completed/ && p {print t; exit}' |
    grep -q "upgraded glibc" || echo "python was installed without the full upgrade (a partial upgrade)"
}
arch_habits() { # arch_habits NAME: the AUR's refusal was met, dhcpcd@host0 and yay-debug left alone
  on "$1" '[ ! -e /run/aur/busy ] || echo "the AUR never turned a clone away"
    s="$(systemctl is-enabled dhcpcd@host0) $(systemctl is-active dhcpcd@host0)"; [ "$s" = "disabled active" ] || echo "dhcpcd@host0: $s"
    ls ~maria/.cache/tervane/yay/yay-debug-* >/dev/null 2>&1 || echo "makepkg built no yay-debug"
    ! pacman -Q yay-debug 2>/dev/null || echo "yay-debug is installed"'
}

start t1 t4 t5

# group GROUP FUNCTION: runs FUNCTION in the background, in a process group of its own; its
# report goes to $work/GROUP.report, its counts to $work/GROUP.counts.
group() {
  set -m
  ( trap 'exit 143' TERM; "$2" >"$work/$1.report" 2>&1; echo "$passed $failed" >"$work/$1.counts"
    echo "($1 group: $((SECONDS - group_started)) s)" >>"$work/$1.report" ) &
  set +m
  lanes+=("$1:$!")
}

# --- 1. as root: two targets from one inventory, then one again -----------------------------
as_root() {
  # t4 got Python and sudo earlier, while its keyring was enough; t1 is bare.
  on t4 'cp /srv/repo/core/{python,sudo}-*.zst /tmp && pacman -U --noconfirm /tmp/*.zst >/dev/null 2>&1'
  inventory "$work/two.ini" t1 t4
  vars_json root "" t1 >"$work/t1.json"
  # By hand (the README's way for several machines): the hosts come from the inventory, the
  # rest from a variables file.
  sed -E 's/"ansible_(become_password|host|user)":"[^"]*",//g' "$work/t1.json" >"$work/two.json"
  playbook root-1 "$work/two.ini" "$work/two.json" bootstrap.yml
  echo "${last_seconds%.*}" >"$work/two-targets.seconds"
  p=; add "$(problems_of_first_run root-1)"
  grep -q '^RECAP|t1|' "$work/root-1.summary" && grep -q '^RECAP|t4|' "$work/root-1.summary" || add "not both hosts in the recap"
  add "$(target_problems t4 1300)"
  report "two targets from one inventory" root-1 "$p"
  "$here/target.sh" stop "$work/run" t4

  # Again on t1, as the wizard runs it. A git pull that fetched nothing rewrites files under
  # .git; that alone is no change.
  touch "$configs/.git/FETCH_HEAD" "$configs/.git/index"
  inventory "$work/t1.ini" t1
  playbook root-2 "$work/t1.ini" "$work/t1.json" bootstrap.yml
  p=; add "$(problems_of_second_run root-2)"
  add "$(target_problems t1 1300)"
  add "$(partial_upgrade t1)"
  add "$(arch_habits t1)"
  echo "first run as root, on t1 and t4:"; show root-1
  echo "second run as root, on t1 (${last_seconds%.*} s):"; show root-2
  report "bootstrap twice as root" root-2 "$p"

  # --- 1b. once a run, a new kernel, the run's last words (on t1, finished) --------------------
  # The probe, the fact gathering and the account's lookup that ran in the unchanged rerun.
  once=$(python3 -c 'import json, sys; t = open(sys.argv[1]).read(); print(*sorted(k["task"]["name"].split()[2]
    for p in json.loads(t[t.find("{"):])["plays"] for k in p["tasks"] for r in k["hosts"].values()
    if not r.get("skipped") and k["task"]["name"].startswith(("common : Probe", "common : Gather", "common : Look up"))))' "$work/root-2.out")
  echo "unchanged rerun as root: ${last_seconds%.*} s; ran: $once"
  report "one probe, one fact gathering and one account lookup a run" root-2 "$([ "$once" = "Gather Look Probe" ] || echo "not once a run: $once")"

  kernel_package() { # VERSION MODULES-FOLDER: a stand-in linux package in t1's [core]; pkgbase names it, as Arch's do
    local d=$work/kernel-$1
    mkdir -p "$d/usr/lib/modules/$2" && echo linux >"$d/usr/lib/modules/$2/pkgbase"
    printf 'pkgname = linux\npkgbase = linux\npkgver = %s\nbuilddate = 1700000000\nsize = 1\narch = x86_64\n' "$1" >"$d/.PKGINFO"
    tar -C "$d" --zstd --owner=0 --group=0 -cf "$work/run/t1/root/srv/repo/core/linux-$1-x86_64.pkg.tar.zst" .PKGINFO usr
}
text_run() { ANSIBLE_STDOUT_CALLBACK=default playbook "$1" "$work/t1.ini" "$work/t1.json" "${@:2}"; } # as the wizard shows it
has_line() { grep -qxF -- "$2" "$work/$1.out" || echo "$1: no line \"$2\""; }
kernel_release=$(uname -r)
kernel_package 1-1 "$kernel_release" && on t1 'pacman -U --noconfirm /srv/repo/core/linux-1-1-x86_64.pkg.tar.zst >/dev/null'
text_run kernel-running playbooks/80-finalize.yml
p=; add "$(has_line kernel-running "ok: [t1] => (item=No: no kernel other than the running $kernel_release is installed)")"
# Signed as [core] must be: by the key pacman's own keyring trusts most, its local master key.
kernel_package 2-1 99.1.0-arch1-1 && on t1 'cd /srv/repo/core && k=/etc/pacman.d/gnupg && gpg --homedir $k --batch -q \
  --detach-sign linux-2-1-x86_64.pkg.tar.zst 2>/dev/null && gpgconf --homedir $k --kill all && repo-add -q core.db.tar.gz linux-2-1-x86_64.pkg.tar.zst'
text_run kernel-new playbooks/40-base-packages.yml playbooks/80-finalize.yml
# At the end of 40, which upgraded, and in 80.
notice="ok: [t1] => (item=Yes: kernel 99.1.0-arch1-1 is installed, $kernel_release is running. Reboot to start the new kernel: sudo systemctl reboot)"
[ "$(grep -cxF -- "$notice" "$work/kernel-new.out")" = 2 ] || add "not twice in kernel-new: $notice"
report "a newer kernel than the running one is said to need a reboot" kernel-new "$p"

# The walkthrough as lines, no JSON; in the fresh run no unfilled task name, no remote_tmp warning.
p=; grep -qE '^TASK \[1\. Reboot the machine: sudo systemctl reboot\] \*+$' "$work/kernel-running.out" || add "no step 1 as a line"
add "$(has_line kernel-running "ok: [t1] => (item=$(on t1 'cat /home/maria/.ssh/id_ed25519.pub'))")"
add "$(sed -n '/^TASK \[Tervane is set up/,/^PLAY RECAP/p' "$work/kernel-running.out" | grep -E '=> \{|^ +"')"
add "$(grep -hF '{{' "$work/root-1.summary")"
add "$(grep -hoF 'remote_tmp /home/maria/.ansible/tmp did not exist' "$work/root-1.out" "$work/root-1.err")"
report "the end of a run reads as text, without unfilled templates or remote_tmp warnings" kernel-running "$p"

# --- 2. a change in 1,000-file trees through phases 60 and 70 -----------------------------
transfer_times() { # LABEL: the two transfers' seconds
  awk -F'|' '$1 == "TIME" && $3 ~ /^common : (Pack|Read the packing|Warn about|Make a private|Send the|Compare the|Unpack the|Remove the archive)/ {t[$2] += $4}
    END {for (p in t) printf "%s %.1f s; ", p, t[p]}' "$work/$1.summary"
}
echo "one more" >>"$configs/many3/f3.txt" && echo "one more" >>"$wallpapers/many4/f4.txt"
# What is sent is what git tracks at the checked-out commit.
commit "$configs" more && commit "$wallpapers" more
playbook big-4 "$work/t1.ini" "$work/t1.json" playbooks/60-tervane.yml playbooks/70-desktop-apps.yml
p=; add "$(problems_of_first_run big-4)"
grep -q '^PLAY|60-tervane|t1|.* changed=0 ' "$work/big-4.summary" && add "a changed configuration reported no change"
runs=$(on t1 'grep -c "" /home/maria/.tervane-installer-runs')
[ "$runs" = 2 ] || add "install.fish ran $runs times, expected 2 (bootstrap, one changed file)"
on t1 'cat /home/maria/Pictures/Wallpapers/many4/f4.txt' | grep -q 'one more' || add "the changed wallpaper did not arrive"
echo "1,000-file trees: unchanged (second bootstrap) $(transfer_times root-2)changed $(transfer_times big-4)"
report "1,000-file transfers in phases 60 and 70" big-4 "$p"

# Root is denied by a drop-in that counts only once the Include line is back; the run holds no
# connection open (ControlMaster=no), so only the target's own timer can undo the change.
on t1 'sed -i "/^Include/d" /etc/ssh/sshd_config && echo "DenyUsers root" >/etc/ssh/sshd_config.d/05-site.conf'
ANSIBLE_SSH_ARGS="-o ControlMaster=no" playbook rollback "$work/t1.ini" "$work/t1.json" playbooks/05-openssh.yml -e openssh_rollback_seconds=5
p=; add "$(expect_failure rollback "were put back and sshd was reloaded with them")"
on t1 '! grep -q ^Include /etc/ssh/sshd_config' || add "sshd_config was not put back"
report "a refused fresh login puts the previous sshd configuration back" rollback "$p"
"$here/target.sh" stop "$work/run" t1
}

# --- 2. a wheel user, from a controller as real users have one, on a fresh target -----------
# A fresh install whose administrator made a wheel account with sudo (from its file, with the
# fresh keyring); Python is still missing. Clones made under umask 077 holding an ignored file,
# a 0666 file and links in and out of the tree; an ssh-agent that offers five other keys
# before the right one; no key file anywhere (the wizard's inventory line without a key, a
# host block without IdentityFile).
real_controller() {
  on t5 'cp /srv/repo/core/sudo-*.zst /tmp && pacman -U --noconfirm /tmp/sudo-*.zst >/dev/null 2>&1 && useradd -m -G wheel admin &&
    echo "admin:adm1n pass" | chpasswd && echo "%wheel ALL=(ALL:ALL) ALL" >/etc/sudoers.d/wheel &&
    install -d -o admin -m 700 /home/admin/.ssh && install -o admin -m 600 /root/.ssh/authorized_keys /home/admin/.ssh/'
  inventory "$work/t5.ini" t5 && sed -i 's/ ansible_ssh_private_key_file=[^ ]*//; s/ansible_user=root/ansible_user=admin/' "$work/t5.ini"
  grep -v 'IdentityFile\|IdentitiesOnly' "$work/run/t5/ssh_config" >"$work/agent_config"
  (umask 077 && make_clone "$work/u-configs" 30 && make_clone "$work/u-walls" 300)
  (cd "$work/u-configs" && cp "$configs/install.fish" . && echo secret.env >.gitignore && echo S=1 >secret.env &&
    echo shared >shared.conf && chmod 666 shared.conf && ln -s ../../../../../etc escape && ln -s set0 theme &&
    commit . tree)
  printf 'wifi_networks:\n  - ssid: Home\n    psk: correct horse\n' >"$work/wifi.yml"
  configs=$work/u-configs wallpapers=$work/u-walls vars_json admin "adm1n pass" t5 |
    sed "s|\"ansible_ssh_private_key_file\":\"[^\"]*\",||; s|}\$|,\"network_wifi_file\":\"$work/wifi.yml\"}|" >"$work/t5.json"
  # In the foreground, so that it ends with this group.
  ssh-agent -D -a "$work/agent.sock" >/dev/null & agent_pid=$!
  trap 'kill $agent_pid' EXIT
  export SSH_AUTH_SOCK=$work/agent.sock
  for i in $(seq 100); do [ -S "$SSH_AUTH_SOCK" ] && break; sleep 0.05; done
  for i in 1 2 3 4 5; do ssh-keygen -q -t ed25519 -N '' -f "$work/other$i" && ssh-add -q "$work/other$i"; done
  ssh-add -q "$work/key"
  ssh_file=$work/agent_config

playbook t5-bare "$work/t5.ini" "$work/t5.json" playbooks/60-tervane.yml --check --diff
report "a preview of a target without Python names the phase to run first" t5-bare \
  "$(expect_failure t5-bare "Run playbooks/00-preflight.yml (or the whole bootstrap) once without --check first")"

playbook t5-1 "$work/t5.ini" "$work/t5.json" bootstrap.yml
echo "${last_seconds%.*}" >"$work/one-target.seconds"
p=; add "$(problems_of_first_run t5-1)"
playbook t5-2 "$work/t5.ini" "$work/t5.json" bootstrap.yml
add "$(problems_of_second_run t5-2)"
add "$(target_problems t5)"
grep -qF 'escape -> ../../../../../etc' "$work/t5-1.out" || add "no warning names the link left out"
add "$(on t5 'cd /home/maria/.local/share/tervane && { [ ! -e secret.env ] || echo "the ignored file arrived"
  [ "$(stat -c %a shared.conf)" = 644 ] || echo "shared.conf is not 0644"; [ ! -L escape ] || echo "the link out of the tree arrived"
  [ "$(readlink theme)" = set0 ] || echo "the link inside the tree is missing"
  find . ../../../Pictures/Wallpapers -type d ! -perm 755 -printf "not 0755: %p\n"
  nmcli -t -f NAME connection show | grep -qx Home || echo "NetworkManager has no profile Home"; }')"
echo "first run as admin with sudo, umask 077 clones, agent, no key file:"; show t5-1
echo "second run:"; show t5-2
report "a wheel user with a sudo password, umask 077 clones, an agent with five other keys and no key file: bootstrap twice" t5-2 "$p"

playbook t5-check "$work/t5.ini" "$work/t5.json" bootstrap.yml --check --diff
echo "check mode on the finished target:"; show t5-check
report "a preview of the finished target changes nothing" t5-check "$(problems_of_second_run t5-check)"

playbook t5-port "$work/t5.ini" "$work/t5.json" playbooks/05-openssh.yml -e sshd_port=2222
p=; add "$(expect_failure t5-port "sshd_port is 2222, but this run reached sshd on port 22.")"
on t5 'sshd -T | grep -qx "port 22"' || add "sshd left port 22"
report "a changed sshd_port is refused" t5-port "$p"

# A key that lets the login account in, named by the inventory, whose .pub is gone.
ssh-keygen -q -t ed25519 -N '' -C k2 -f "$work/k2" && on t5 "echo '$(cat "$work/k2.pub")' >>/home/admin/.ssh/authorized_keys"
rm "$work/k2.pub" && sed "s|ansible_user=admin|& ansible_ssh_private_key_file=$work/k2|" "$work/t5.ini" >"$work/t5-k2.ini"
SSH_AUTH_SOCK= playbook t5-k2 "$work/t5-k2.ini" "$work/t5.json" playbooks/50-ssh.yml
p=; add "$(problems_of_first_run t5-k2)"
SSH_AUTH_SOCK= ssh -F "$work/agent_config" -o BatchMode=yes -o IdentitiesOnly=yes -i "$work/k2" -l maria t5 true </dev/null ||
  add "maria does not take the key whose .pub was missing"
report "a key file without .pub beside it is authorized for the account" t5-k2 "$p"

# The account, without sudo, plants links to root's files where its own belong.
root_files='stat -c "%n %U %G %a" /etc/sudoers.d /etc/sudoers.d/* /etc/shadow; sha256sum /etc/sudoers.d/* /etc/shadow'
before=$(on t5 "$root_files")
on t5 'su -s /bin/sh maria -c "mv ~/.ssh ~/.ssh.own && ln -s /etc/sudoers.d ~/.ssh &&
  ln -sf /etc/shadow ~/.local/state/tervane/installed"'
playbook t5-links "$work/t5.ini" "$work/t5.json" bootstrap.yml
p=; add "$(expect_failure t5-links "/home/maria/.ssh (a link to /etc/sudoers.d): the bootstrap does not follow links")"
playbook t5-links-60 "$work/t5.ini" "$work/t5.json" playbooks/60-tervane.yml
add "$(expect_failure t5-links-60 "/home/maria/.local/state/tervane/installed (a link to /etc/shadow)")"
[ "$(on t5 "$root_files")" = "$before" ] || add "root's files changed:"$'\n'"$(diff <(echo "$before") <(on t5 "$root_files"))"
report "links planted by the account leave root's files as they were" t5-links-60 "$p"


"$here/target.sh" stop "$work/run" t5
}

group_started=$SECONDS
group root as_root
group controller real_controller
for n in "${lanes[@]}"; do wait "${n#*:}"; done
lanes=()
for n in root controller; do
  cat "$work/$n.report"
  if [ -f "$work/$n.counts" ]; then
    read -r p f <"$work/$n.counts"; passed=$((passed + p)) failed=$((failed + f))
  else
    fail "the $n group ended early"
  fi
done
echo "first bootstrap on two targets: $(cat "$work/two-targets.seconds" 2>/dev/null) s, on one: $(cat "$work/one-target.seconds" 2>/dev/null) s (each beside the other group)"
echo "target playbooks: $passed passed, $failed failed, $skipped skipped ($SECONDS s)"
[ $failed -eq 0 ]
