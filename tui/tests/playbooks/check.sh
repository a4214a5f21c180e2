#!/usr/bin/env bash
# Checks the Ansible side of the project:
#   1. ansible-playbook --syntax-check on bootstrap.yml and every phase;
#   2. ansible-lint (offline, system collections only, the profile of .ansible-lint);
#   3. real runs over SSH against this machine through a throw-away sshd on 127.0.0.1:
#      every phase, and bootstrap.yml, must stop with the "not Arch Linux" message
#      before changing anything (changed=0).
# Exits non-zero when any check fails. The whole bootstrap against booted stand-ins of a
# fresh Arch install is target_check.sh's (make test runs both).
set -uo pipefail

root=$(cd "$(dirname "$0")/../../.." && pwd -P)
fixture=$root/tui/tests/fixtures/sshd.sh
export ANSIBLE_COLLECTIONS_PATH=/usr/lib/python3/dist-packages/ansible_collections
export ANSIBLE_CONFIG=$root/ansible.cfg
export ANSIBLE_NOCOLOR=1

work=$(mktemp -d "${TMPDIR:-/tmp}/tervane-playbooks.XXXXXX")
# The runs log into the work folder, not the user's own run log, and their SSH master
# connections end a second after the last task instead of outliving the checks.
export ANSIBLE_LOG_PATH=$work/ansible.log
export ANSIBLE_SSH_ARGS="-o ControlMaster=auto -o ControlPersist=1s"
sshd_started=0
cleanup() {
  if [ $sshd_started -eq 1 ]; then "$fixture" stop "$work/sshd"; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 130" INT TERM

passed=0 failed=0 skipped=0
pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
skip() { skipped=$((skipped + 1)); echo "SKIPPED: $*"; }

phases=(
  00-preflight.yml 05-openssh.yml 10-user.yml 20-network.yml 30-yay.yml
  40-base-packages.yml 50-ssh.yml 60-tervane.yml 70-desktop-apps.yml 80-finalize.yml
)
playbooks=(bootstrap.yml "${phases[@]/#/playbooks/}")

cd "$root" || exit 1

# bootstrap.yml must run exactly the ten phases, in menu order.
expected=$(printf 'playbooks/%s\n' "${phases[@]}")
actual=$(sed -n 's/^ *ansible\.builtin\.import_playbook: *//p' bootstrap.yml)
if [ "$actual" = "$expected" ]; then
  pass "bootstrap.yml imports the ten phases in order"
else
  fail "bootstrap.yml imports"$'\n'"$actual"$'\n'"instead of"$'\n'"$expected"
fi

# --- 1. syntax -------------------------------------------------------------------------
printf '[workstation]\ntarget ansible_host=127.0.0.1\n' >"$work/syntax.ini"
# One ansible-playbook reads them all (most of its time is its own start); only when that
# fails is each read alone, to name the ones at fault.
all_ok=0
ansible-playbook --syntax-check -i "$work/syntax.ini" "${playbooks[@]}" >/dev/null 2>&1 && all_ok=1
for playbook in "${playbooks[@]}"; do
  if [ $all_ok -eq 1 ] || out=$(ansible-playbook --syntax-check -i "$work/syntax.ini" "$playbook" 2>&1); then
    pass "syntax of $playbook"
  else
    fail "syntax of $playbook"$'\n'"$out"
  fi
done

# --- 2. lint ---------------------------------------------------------------------------
if out=$(ansible-lint --nocolor 2>&1); then
  pass "ansible-lint ($(sed -n 's/^profile: *//p' .ansible-lint) profile, offline)"
else
  fail "ansible-lint"$'\n'"$out"
fi

# --- 3. real runs over SSH -------------------------------------------------------------
# The plays become root with sudo on this machine: only root gets there without a password.
if [ "$(id -u)" -ne 0 ]; then
  for playbook in "${playbooks[@]}"; do skip "$playbook over SSH (needs root: the play becomes root with sudo)"; done
  status=-1
else
  "$fixture" start "$work/sshd"
  status=$?
fi
if [ $status -eq -1 ]; then
  :
elif [ $status -eq 77 ]; then
  skip "preflight over SSH (sshd cannot be started here)"
elif [ $status -ne 0 ]; then
  fail "the test sshd did not start (status $status)"
else
  sshd_started=1
  # shellcheck disable=SC1091
  . "$work/sshd/env"
  # Ansible's distribution fact: the os-release ID, capitalised (debian -> Debian).
  distro=$(. /etc/os-release && echo "${ID^}")

  # The same two files the wizard writes: an inventory with the one workstation host and
  # a JSON document of extra variables.
  printf '[workstation]\nloopback ansible_host=%s ansible_port=%s ansible_user=%s ansible_ssh_private_key_file=%s ansible_ssh_common_args='"'"'-o StrictHostKeyChecking=no -o UserKnownHostsFile=%s'"'"'\n' \
    "$HOST" "$PORT" "$USER" "$KEY" "$KNOWN_HOSTS" >"$work/hosts.ini"
  secret="never-shown-$RANDOM$RANDOM"
  cat >"$work/vars.json" <<EOF
{"ansible_become_password":"$secret","ansible_host":"$HOST","ansible_ssh_private_key_file":"$KEY","ansible_user":"$USER","default_password":"$secret","default_user":"tervanetest","local_tervane_path":"$work/configs","local_transfer_mode":true,"local_wallpapers_path":"$work/wallpapers","noninteractive":true}
EOF

  message="This playbook targets Arch Linux; the target runs $distro."
  for playbook in "${playbooks[@]}"; do
    logins_before=$(grep -c 'Starting session' "$work/sshd/sshd.log")
    out=$(PYTHONUNBUFFERED=1 timeout 300 ansible-playbook "$playbook" -i "$work/hosts.ini" \
      --extra-vars "@$work/vars.json" </dev/null 2>&1)
    status=$?
    logins_after=$(grep -c 'Starting session' "$work/sshd/sshd.log")
    recap=$(grep -E '^loopback +: ' <<<"$out")
    problems=()
    [ $status -eq 2 ] || problems+=("exit status $status, expected 2 (a failed host)")
    grep -qF "$message" <<<"$out" || problems+=("no message \"$message\"")
    grep -qE 'ok=[0-9]+ +changed=0 +unreachable=0 +failed=1 ' <<<"$recap" ||
      problems+=("recap \"$recap\", expected changed=0 unreachable=0 failed=1")
    [ "$logins_after" -gt "$logins_before" ] || problems+=("no SSH session reached the test sshd")
    grep -qF "$secret" <<<"$out" && problems+=("a password appears in the output")
    if [ ${#problems[@]} -eq 0 ]; then
      pass "$playbook over SSH stops on $distro with changed=0"
    else
      fail "$playbook over SSH: $(printf '%s; ' "${problems[@]}")"$'\n'"$out"
    fi
  done
fi

echo "playbooks: $passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
