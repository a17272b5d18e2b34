#!/usr/bin/env bash
# The operators' guide, docs/operators.md, followed as written: every step
# marked in it ("<!-- step: NAME -->" before a fenced block) is taken from
# the guide and run with bash, as root, on this machine with Debian's nginx
# as installed, from making the package (scripts/package, in
# BUILD/package-recipe) to purging it; between the steps the test checks
# what a new operator would see. It runs in
# namespaces of its own (network, processes, mounts): port 80 is a private
# network's, everything it starts ends with it, and /etc/nginx, /srv,
# /var/log, /run and logrotate's state are private copies; the package
# itself is really installed and purged. systemd does not run here:
# systemctl is systemctl_stand_in.py, which runs the units' own commands.
# usage: tests/deploy/deployment_steps_test.sh BUILD   (as root)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
guide=$top/docs/operators.md
build=${1:?usage: deployment_steps_test.sh BUILD}

fail() {
  echo "deployment_steps: $*" >&2
  exit 1
}

# The steps the test runs, and so the steps the guide must mark: a step
# marked in the guide and not run here, or run here and not marked, fails.
steps=(package install settings site services health nginx search rotate stop by-hand by-hand-stop
  remove)

# The commands of step $1, as the guide gives them.
step_commands() {
  awk -v name="$1" '
    $0 == "<!-- step: " name " -->" { marked++; state = 1; next }
    state == 1 && /^```/ { state = 2; next }
    state == 1 && NF { state = 0 }
    state == 2 && /^```/ { state = 0; found++; next }
    state == 2 { print }
    END { if (marked != 1 || found != 1) exit 1 }' "$guide"
}

if [[ ${TAVIK_STEPS_INSIDE:-} != 1 ]]; then
  # Outside the namespaces: the package, and its removal whatever happens.
  ((EUID == 0)) || fail "run as root: it installs the package"
  marked=$(sed -n 's/^<!-- step: \(.*\) -->$/\1/p' "$guide" | sort | tr '\n' ' ')
  wanted=$(printf '%s\n' "${steps[@]}" | sort | tr '\n' ' ')
  [[ $marked == "$wanted" ]] ||
    fail "the guide marks the steps [$marked], the test runs [$wanted]"
  for step in "${steps[@]}"; do
    step_commands "$step" >/dev/null || fail "the guide has no single block for step $step"
  done
  if dpkg-query -W -f='${Status}' tavik 2>/dev/null | grep -q "installed\|config-files"; then
    fail "the package tavik is installed here already; the test installs its own"
  fi
  dpkg --verify nginx-common nginx >/dev/null 2>&1 && [[ -L /etc/nginx/sites-enabled/default ]] ||
    fail "/etc/nginx is not as Debian's nginx installs it (dpkg --verify nginx-common)"
  work=$(mktemp -d /tmp/tavik-steps-XXXXXX)
  chmod 755 "$work"
  cleanup() {
    if dpkg-query -W -f='${Status}' tavik 2>/dev/null | grep -q "installed\|config-files"; then
      echo "deployment_steps: purging the package a failed step left" >&2
      dpkg --purge tavik >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
  }
  trap cleanup EXIT
  started=$(date +%s%N)
  TAVIK_STEPS_INSIDE=1 TAVIK_STEPS_WORK=$work \
    unshare --net --pid --fork --mount --mount-proc "$0" "$build"
  elapsed=$((($(date +%s%N) - started) / 1000000))
  echo "deployment_steps: every step of the guide worked as written" \
    "($((elapsed / 1000)).$((elapsed % 1000 / 100)) s in the namespaces)"
  exit 0
fi

# Inside: process 1 of a fresh process tree, in a network of its own.
work=$TAVIK_STEPS_WORK
ip link set lo up
mount -t tmpfs -o mode=755 tmpfs /run
mount -t tmpfs -o mode=755 tmpfs /srv
mount -t tmpfs -o mode=755 tmpfs /var/log
mkdir -p /var/log/apt /var/log/nginx
cp -a /etc/nginx "$work/etc-nginx"
mount --bind "$work/etc-nginx" /etc/nginx
mkdir -p "$work/logrotate"
cp -a /var/lib/logrotate/. "$work/logrotate/" 2>/dev/null || true
mount --bind "$work/logrotate" /var/lib/logrotate
mkdir -p "$work/bin"
ln -s "$here/systemctl_stand_in.py" "$work/bin/systemctl"
export PATH=$work/bin:$PATH
export SYSTEMCTL_STAND_IN_STATE=/run/systemctl-stand-in
journal=$SYSTEMCTL_STAND_IN_STATE

# Runs step $1 in folder $2 (default: the work folder); its output is in
# $work/step-$1.out.
run_step() {
  local name=$1 folder=${2:-$work}
  local commands
  commands=$(step_commands "$name")
  echo "deployment_steps: step $name"
  sed 's/^/    /' <<<"$commands"
  if ! (cd "$folder" && bash -euo pipefail -c "$commands") >"$work/step-$name.out" 2>&1; then
    cat "$work/step-$name.out" >&2
    fail "step $name failed"
  fi
}

# Waits until $1 holds, at most 5 s.
eventually() {
  for _ in $(seq 100); do
    if eval "$1"; then return 0; fi
    sleep 0.05
  done
  return 1
}

# As a fresh install leaves it: Debian's nginx running with its default
# site on port 80.
systemctl start nginx
# What Debian's default site answers: its own page, and 404 for a search.
default_site() {
  [[ $(curl -s -o /dev/null -w '%{http_code}' http://localhost/) == 200 &&
     $(curl -s -o /dev/null -w '%{http_code}' 'http://localhost/search?q=quokka') == 404 ]]
}
default_site || fail "Debian's nginx does not answer on port 80 as installed"
# The operator's site, not yet readable by everyone.
mkdir /srv/www
cp -r "$top/site/." /srv/www/
chmod 700 /srv/www

# The package, made by the guide's recipe in a folder of this build's, so
# that a later run builds only what changed; its build needs none of the
# tests' libraries.
export TAVIK_PACKAGE_DIR=$build/package-recipe
run_step package "$top"
grep -q "^TAVIK_BUILD_TESTS:BOOL=OFF$" "$TAVIK_PACKAGE_DIR/CMakeCache.txt" &&
  ! grep -qi "^GTEST\|^GTest_DIR" "$TAVIK_PACKAGE_DIR/CMakeCache.txt" ||
  fail "scripts/package configured the tests"
chmod 755 "$TAVIK_PACKAGE_DIR"
run_step install "$TAVIK_PACKAGE_DIR"
grep -qx "TAVIK_DOCROOT=" /etc/default/tavik-serve ||
  fail "the package ships no /etc/default/tavik-serve with an empty TAVIK_DOCROOT"
dpkg-query -W -f='${Conffiles}\n' tavik | grep -q "/etc/default/tavik-serve" ||
  fail "/etc/default/tavik-serve is not a configuration file of the package"

# Without a site the service refuses to start and says where to set it.
# (Its start succeeds, as systemctl's does for a service of Type=exec; the
# service then exits.)
systemctl start tavik-serve@8081 || true
eventually '[[ -e $journal/tavik-serve@8081.service.status ]]' ||
  fail "the service without a site did not stop"
[[ $(<"$journal/tavik-serve@8081.service.status") == 1 ]] ||
  fail "the service without a site exited with $(<"$journal/tavik-serve@8081.service.status")"
grep -q "tavik-serve: --docroot is empty: no site is set .*TAVIK_DOCROOT in /etc/default/tavik-serve" \
  "$journal/tavik-serve@8081.service.journal" ||
  fail "the service without a site said: $(cat "$journal/tavik-serve@8081.service.journal")"

run_step settings
# A site its user cannot read: the service refuses, naming the folder, the
# user and what is missing.
systemctl start tavik-serve@8081 || true
eventually 'grep -q "cannot read" "$journal/tavik-serve@8081.service.journal"' ||
  fail "the service on an unreadable site said: $(cat "$journal/tavik-serve@8081.service.journal")"
grep -q "tavik-serve: user uid 61184 cannot read the document root /srv/www: the folder lacks read and search permission (r-x)" \
  "$journal/tavik-serve@8081.service.journal" ||
  fail "the service on an unreadable site said: $(cat "$journal/tavik-serve@8081.service.journal")"

run_step site
run_step services
# A moment, as between two commands typed: the servers listen once they
# have loaded the extension and started their workers.
for port in 8081 8082; do
  eventually "curl -s -o /dev/null http://127.0.0.1:$port/" ||
    fail "tavik-serve@$port does not listen: $(cat "$journal/tavik-serve@$port.service.journal")"
done
run_step health
[[ $(<"$work/step-health.out") == $'ok\nok' ]] ||
  fail "the services' health checks said: $(cat "$work/step-health.out")"

run_step nginx
grep -q "syntax is ok" "$work/step-nginx.out" || fail "nginx -t: $(cat "$work/step-nginx.out")"
! grep -q "\[warn\]\|\[emerg\]" "$work/step-nginx.out" ||
  fail "nginx -t warns: $(cat "$work/step-nginx.out")"

# The search through port 80 finds the site's words, and its links work.
check_search() {
  # nginx's workers take a reload a moment after the command returns.
  eventually "[[ \$(curl -s -o /dev/null -w '%{http_code}' http://localhost/search) == 200 ]]" ||
    fail "port 80 does not pass /search on: $(curl -s http://localhost/search | head -c 300)"
  run_step search
  grep -q "2 results for <q>quokka</q>" "$work/step-search.out" ||
    fail "the search through port 80 answered: $(head -c 600 "$work/step-search.out")"
  local link
  for link in $(grep -o 'class="tavik-title"><a href="/[^"]*' "$work/step-search.out" |
                  sed 's/.*href="//'); do
    [[ $(curl -s -o /dev/null -w '%{http_code}' "http://localhost$link") == 200 ]] ||
      fail "the result's link $link does not answer 200 through port 80"
  done
}
check_search

# Three rotations in a row: after each, both servers write to a fresh log.
check_rotations() {
  local round port
  for round in 1 2 3; do
    for port in 8081 8082; do
      curl -s "http://127.0.0.1:$port/search?q=before$round" >/dev/null
    done
    run_step rotate
    for port in 8081 8082; do
      local log=/var/log/tavik/access-$port.log
      # The server takes SIGHUP a moment after logrotate has sent it, and
      # makes the fresh file as it opens its log again.
      eventually "[[ -e $log ]]" ||
        fail "rotation $round: server $port made no fresh $log"
      curl -s "http://127.0.0.1:$port/search?q=after$round" >/dev/null
      eventually "grep -q 'q=after$round' $log" ||
        fail "rotation $round: server $port does not write to the fresh $log"
      ! grep -q "q=after$round" "$log.1" ||
        fail "rotation $round: server $port still writes to $log.1"
      grep -q "q=before$round" "$log.1" ||
        fail "rotation $round: $log.1 lacks the lines before the rotation"
    done
  done
  for port in 8081 8082; do
    for kept in .1 .2.gz .3.gz; do
      [[ -e /var/log/tavik/access-$port.log$kept ]] ||
        fail "after three rotations there is no access-$port.log$kept"
    done
  done
}
check_rotations

run_step stop
for port in 8081 8082; do
  [[ $(systemctl is-active "tavik-serve@$port" || true) == inactive ]] ||
    fail "tavik-serve@$port is still running after the step stop"
done

# The same without systemd: backends started by hand, as the guide says.
rm -f /var/log/tavik/*
run_step by-hand
for port in 8081 8082; do
  eventually "[[ \$(curl -s http://127.0.0.1:$port/healthz) == ok ]]" ||
    fail "the backend started by hand on $port does not answer its health check"
done
check_search
check_rotations
run_step by-hand-stop
eventually '! pidof tavik-serve >/dev/null' || fail "tavik-serve still runs after the step by-hand-stop"

run_step remove
! dpkg-query -W tavik >/dev/null 2>&1 || fail "dpkg still knows tavik after the step remove"
for gone in /etc/default/tavik-serve /etc/logrotate.d/tavik-serve /usr/bin/tavik-serve; do
  [[ ! -e $gone ]] || fail "the step remove left $gone"
done
eventually default_site ||
  fail "port 80 does not give Debian's default site back after the step remove"
systemctl stop nginx
