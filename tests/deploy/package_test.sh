#!/usr/bin/env bash
# The Debian package, as an operator meets it: built from the build folder
# by CPack, checked by lintian (no errors and no warnings), installed with
# dpkg -i; the installed programs run (--version, --help, their manual
# pages, a search with tavik-search, and tavik-serve with its defaults
# answering a search and saying it serves the demo site), the service unit
# passes systemd-analyze verify and the log rotation logrotate's check;
# then dpkg -r leaves none of its files but its configuration, and dpkg
# --purge nothing at all.
# usage: tests/deploy/package_test.sh BUILD   (as root; it installs and
# removes the package "tavik" on this machine)
set -euo pipefail
build=${1:?usage: package_test.sh BUILD}
work=$(mktemp -d)
server_pid=
installed=0
cleanup() {
  if [[ -n $server_pid ]]; then kill "$server_pid" 2>/dev/null || true; fi
  # A run that failed half-way takes away what it installed.
  if ((installed)); then dpkg --purge tavik >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "package_test: $*" >&2
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

# The package.
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
packages=("$work"/package/tavik_*_amd64.deb)
((${#packages[@]} == 1)) || fail "expected one tavik_VERSION_amd64.deb, found ${packages[*]}"
deb=${packages[0]}
[[ $(basename "$deb") =~ ^tavik_[0-9]+\.[0-9]+(\.[0-9]+)?_amd64\.deb$ ]] ||
  fail "the package is named $(basename "$deb")"
echo "package_test: $(basename "$deb"), $(stat -c %s "$deb") bytes"

lintian --fail-on error,warning "$deb" 2>&1 | grep -v "^running with root privileges" ||
  [[ ${PIPESTATUS[0]} == 0 ]] || fail "lintian found errors or warnings"

# Installed as an operator installs it. A package left by an earlier run
# that stopped half-way is removed first.
if dpkg-query -W -f='${Status}' tavik 2>/dev/null | grep -q "installed\|config-files"; then
  echo "package_test: removing the tavik package an earlier run left"
  dpkg_waiting --purge tavik
fi
dpkg_waiting -i "$deb"
installed=1
mapfile -t files < <(dpkg -L tavik)
mapfile -t conffiles < <(dpkg-query -W -f='${Conffiles}\n' tavik | awk 'NF {print $1}')

version=$(/usr/bin/tavik-serve --version)
[[ $version =~ ^tavik-serve\ [0-9]+\.[0-9]+$ ]] || fail "tavik-serve --version: $version"
[[ $(/usr/bin/tavik-search --version) == "tavik-search ${version#tavik-serve }" ]] ||
  fail "tavik-search --version differs from tavik-serve's"
/usr/bin/tavik-serve --help | grep -q "^Usage: tavik-serve" || fail "tavik-serve --help"
/usr/bin/tavik-search --help | grep -q "^Usage: tavik-search" || fail "tavik-search --help"
# Every installed program has its manual page, which man reads without a
# warning and which gives its options.
for program in tavik-serve tavik-search; do
  page=/usr/share/man/man1/$program.1.gz
  text=$(MANWIDTH=80 man --warnings -l "$page" 2>"$work/man.err") || fail "man -l $page"
  [[ ! -s $work/man.err ]] || fail "man warns about $page: $(cat "$work/man.err")"
  grep -q -- "--version" <<<"$text" || fail "the manual page of $program lacks its options"
done
/usr/bin/tavik-search /usr/share/tavik/site quokka | grep -q "7 hit(s) found" ||
  fail "tavik-search finds no quokka in the installed site"

# tavik-serve with its defaults: the installed library and demo site.
/usr/bin/tavik-serve --port 0 >"$work/serve.out" 2>"$work/serve.err" &
server_pid=$!
for _ in $(seq 100); do
  grep -q "http://127.0.0.1:" "$work/serve.out" && break
  sleep 0.1
done
port=$(grep -o "127\.0\.0\.1:[0-9]*" "$work/serve.out" | cut -d: -f2) ||
  fail "the installed tavik-serve did not start: $(cat "$work/serve.err")"
grep -q "serving the demo site /usr/share/tavik/site (--docroot DIR serves yours) on" "$work/serve.out" ||
  fail "the installed tavik-serve serves $(cat "$work/serve.out")"
grep -q "loaded /usr/lib/tavik/libtavik.so" "$work/serve.err" ||
  fail "the installed tavik-serve loaded $(cat "$work/serve.err")"
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /search?q=quokka HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n' >&3
answer=$(timeout 10 cat <&3)
exec 3<&-
# A search by URL is a word search: its first result is the quokka's page.
grep -q 'class="tavik-title"><a href="/news/2026/wildlife.htm"' <<<"$answer" ||
  fail "the installed server's search: $answer"
kill "$server_pid"
wait "$server_pid" || fail "the installed tavik-serve did not stop cleanly"
server_pid=

# The unit, as one of its instances, and the log rotation.
mkdir "$work/units"
ln -s /lib/systemd/system/tavik-serve@.service "$work/units/tavik-serve@8081.service"
if ! verdict=$(systemd-analyze verify "$work/units/tavik-serve@8081.service" 2>&1) ||
  grep -q "tavik-serve" <<<"$verdict"; then
  fail "systemd-analyze verify: $verdict"
fi
rotation=$(logrotate -d /etc/logrotate.d/tavik-serve 2>&1) ||
  fail "logrotate -d: $rotation"
! grep -q "^error" <<<"$rotation" || fail "logrotate -d: $rotation"

# Removed: every file but the configuration goes; purged, that too.
dpkg_waiting -r tavik
for file in "${files[@]}"; do
  [[ -d $file ]] && continue  # folders, which other packages share
  is_conffile=0
  for conffile in "${conffiles[@]}"; do
    [[ $file == "$conffile" ]] && is_conffile=1
  done
  if ((is_conffile)); then
    [[ -e $file ]] || fail "dpkg -r removed the configuration $file"
  else
    [[ ! -e $file ]] || fail "dpkg -r left $file"
  fi
done
# The package's own folders.
for folder in /usr/share/doc/tavik /usr/share/tavik /usr/lib/tavik; do
  [[ ! -e $folder ]] || fail "dpkg -r left $folder"
done
dpkg_waiting --purge tavik
installed=0
for conffile in "${conffiles[@]}"; do
  [[ ! -e $conffile ]] || fail "dpkg --purge left $conffile"
done
! dpkg-query -W tavik >/dev/null 2>&1 || fail "dpkg still knows tavik"
echo "package_test: built, checked, installed, run, removed and purged"
