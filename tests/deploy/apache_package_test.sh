#!/usr/bin/env bash
# libapache2-mod-tavik, as an operator meets it: built from the build folder
# by CPack beside tavik, checked by lintian (no errors, no warnings),
# installed with tavik by dpkg -i, enabled with a2enmod; then Apache, as a
# foreground process with a configuration of the test's own that takes the
# module's installed .load and .conf from mods-enabled, on a free loopback
# port, must load the installed library by default and answer a search of
# the installed demo site. dpkg -r disables the module and leaves only its
# configuration; dpkg --purge leaves nothing, in /etc/apache2 or in
# Apache's record of its modules. While dpkg runs, no service may start or
# restart (a policy-rc.d refuses, when the machine has none of its own).
# usage: tests/deploy/apache_package_test.sh BUILD   (as root; it installs
# and removes the packages "tavik" and "libapache2-mod-tavik")
set -euo pipefail
build=${1:?usage: apache_package_test.sh BUILD}
work=$(mktemp -d)
chmod 755 "$work"
apache_pid=
installed=0
policy=/usr/sbin/policy-rc.d
own_policy=0
cleanup() {
  if [[ -n $apache_pid ]]; then kill "$apache_pid" 2>/dev/null || true; fi
  # A run that failed half-way takes away what it installed.
  if ((installed)); then
    dpkg --purge libapache2-mod-tavik tavik >/dev/null 2>&1 || true
  fi
  if ((own_policy)); then rm -f "$policy"; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "apache_package_test: $*" >&2
  exit 1
}

# dpkg, waiting (at most 2 minutes) while another program holds its lock.
dpkg_waiting() {
  local output
  for _ in $(seq 60); do
    if output=$(dpkg "$@" 2>&1); then
      return 0
    fi
    grep -q "lock" <<<"$output" || { echo "$output" >&2; return 1; }
    sleep 2
  done
  echo "$output" >&2
  return 1
}

# The packages.
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
module_deb=$(echo "$work"/package/libapache2-mod-tavik_*_amd64.deb)
tavik_deb=$(echo "$work"/package/tavik_*_amd64.deb)
[[ -f $module_deb && -f $tavik_deb ]] ||
  fail "expected the two packages, found $(ls "$work/package")"
echo "apache_package_test: $(basename "$module_deb"), $(stat -c %s "$module_deb") bytes"
lintian --fail-on error,warning "$module_deb" 2>&1 | grep -v "^running with root privileges" ||
  [[ ${PIPESTATUS[0]} == 0 ]] || fail "lintian found errors or warnings"
depends=$(dpkg-deb -f "$module_deb" Depends)
[[ $depends == "tavik (= "*"), apache2-api-"* ]] || fail "Depends: $depends"

# Installed as an operator installs them, with no service started or
# restarted meanwhile. Packages left by an earlier run are removed first.
if [[ ! -e $policy ]]; then
  printf '#!/bin/sh\n# apache_package_test: no service starts while it runs\nexit 101\n' >"$policy"
  chmod 755 "$policy"
  own_policy=1
fi
for package in libapache2-mod-tavik tavik; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "installed\|config-files"; then
    echo "apache_package_test: removing the $package package an earlier run left"
    dpkg_waiting --purge "$package"
  fi
done
dpkg_waiting -i "$tavik_deb" "$module_deb"
installed=1
mapfile -t files < <(dpkg -L libapache2-mod-tavik)
mapfile -t conffiles < <(dpkg-query -W -f='${Conffiles}\n' libapache2-mod-tavik | awk 'NF {print $1}')
[[ ! -e /etc/apache2/mods-enabled/tavik.load ]] || fail "installing enabled the module"
a2enmod -q tavik
[[ -L /etc/apache2/mods-enabled/tavik.load && -L /etc/apache2/mods-enabled/tavik.conf ]] ||
  fail "a2enmod tavik did not enable the module"

# Apache with a configuration of the test's own, the module as enabled.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/apache.conf" <<CONF
ServerRoot $work
DefaultRuntimeDir $work
PidFile $work/apache.pid
ErrorLog $work/error.log
LogLevel warn tavik:info
Listen 127.0.0.1:$port
ServerName 127.0.0.1
User nobody
Group nogroup
LoadModule mpm_event_module /usr/lib/apache2/modules/mod_mpm_event.so
LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so
Include /etc/apache2/mods-enabled/tavik.load
Include /etc/apache2/mods-enabled/tavik.conf
DocumentRoot /usr/share/tavik/site
<Location /search>
    SetHandler tavik
</Location>
CONF
# Its own process group: in the foreground Apache stops by signalling its
# whole group.
setsid /usr/sbin/apache2 -f "$work/apache.conf" -DFOREGROUND >"$work/apache.out" 2>&1 &
apache_pid=$!
answer=
for _ in $(seq 100); do
  if answer=$(timeout 10 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$0" &&
      printf "POST /search HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 8\r\nConnection: close\r\n\r\nq=quokka" >&3 &&
      cat <&3' "$port" 2>/dev/null); then
    break
  fi
  kill -0 "$apache_pid" 2>/dev/null ||
    fail "Apache did not start: $(cat "$work/apache.out" "$work/error.log" 2>/dev/null)"
  sleep 0.1
done
grep -q "7 hit(s) found" <<<"$answer" ||
  fail "the installed module's search: $answer $(cat "$work/error.log")"
grep -q "mod_tavik: loaded /usr/lib/tavik/libtavik.so" "$work/error.log" ||
  fail "the installed module loaded: $(cat "$work/error.log")"
kill "$apache_pid"
wait "$apache_pid" || fail "Apache did not stop cleanly"
apache_pid=

# Removed: the module is disabled, and every file but the configuration
# goes; purged, that too, and Apache's record of the module.
dpkg_waiting -r libapache2-mod-tavik tavik
for link in /etc/apache2/mods-enabled/tavik.load /etc/apache2/mods-enabled/tavik.conf; do
  [[ ! -e $link && ! -L $link ]] || fail "dpkg -r left $link"
done
for file in "${files[@]}"; do
  [[ -d $file ]] && continue  # folders, which other packages share
  if printf '%s\n' "${conffiles[@]}" | grep -qx "$file"; then
    [[ -e $file ]] || fail "dpkg -r removed the configuration $file"
  else
    [[ ! -e $file ]] || fail "dpkg -r left $file"
  fi
done
dpkg_waiting --purge libapache2-mod-tavik tavik
installed=0
left=$(find /etc/apache2 /var/lib/apache2 /usr/lib/apache2 /usr/share/doc -name '*tavik*' 2>/dev/null)
[[ -z $left ]] || fail "dpkg --purge left $left"
for package in libapache2-mod-tavik tavik; do
  ! dpkg-query -W "$package" >/dev/null 2>&1 || fail "dpkg still knows $package"
done
echo "apache_package_test: built, checked, installed, enabled, run, removed and purged"
