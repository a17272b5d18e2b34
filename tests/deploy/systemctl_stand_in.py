#!/usr/bin/env python3
"""A stand-in for systemctl, for the deployment test on a machine where
systemd does not run (as PID 1): it runs a unit's own commands from its
installed unit file, as systemd would run them, for the few verbs the
operators' guide uses. What it carries out of a unit:

- Environment= and EnvironmentFile= (a "-" file may be missing), and the
  specifiers %i, %I, %n, %N, %p and %%; "${VAR}" in a command is one word,
  "$VAR" splits at white space, as systemd expands them;
- ExecStartPre=, ExecStart=, ExecReload= (with $MAINPID) and ExecStop=, a
  leading "-" letting a command fail;
- Type=forking with PIDFile=, and Type=exec or simple: the process runs in
  a session of its own, its output in a file that stands for the journal
  (STATE/UNIT.journal), its exit status in STATE/UNIT.status;
- DynamicUser=yes (a fixed unprivileged uid and gid, 61184, that no user
  has), User=, UMask=, LimitNOFILE= (as far as this machine's hard limit
  allows) and LogsDirectory= (made and given to that user).

What it leaves out: the sandbox (ProtectSystem=, PrivateTmp=, the system
call filter and the rest), Restart=, cgroups, and the journal itself.

usage: systemctl [enable|disable] [--now] UNIT...
       systemctl start|stop|restart|reload UNIT...
       systemctl is-active UNIT
       systemctl daemon-reload
The state lives in $SYSTEMCTL_STAND_IN_STATE (default
/run/systemctl-stand-in).
"""

import os
import pwd
import resource
import shlex
import signal
import subprocess
import sys
import time

UNIT_FOLDERS = ['/etc/systemd/system', '/lib/systemd/system', '/usr/lib/systemd/system']
STATE = os.environ.get('SYSTEMCTL_STAND_IN_STATE', '/run/systemctl-stand-in')
DYNAMIC_UID = 61184
PATH = '/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin'


def fail(message):
    print(f'systemctl (stand-in): {message}', file=sys.stderr)
    sys.exit(1)


class Unit:
    def __init__(self, name):
        if '.' not in name:
            name += '.service'
        self.name = name
        prefix, _, _ = name.rpartition('.')
        self.instance = ''
        file_name = name
        if '@' in prefix:
            template, _, self.instance = prefix.partition('@')
            file_name = f'{template}@.service'
        self.prefix = prefix.partition('@')[0]
        for folder in UNIT_FOLDERS:
            path = os.path.join(folder, file_name)
            if os.path.exists(path):
                self.path = path
                break
        else:
            fail(f'Unit {name} not found.')
        self.settings = parse_unit(self.path)

    def values(self, key):
        return self.settings.get(key, [])

    def value(self, key, default=''):
        values = self.values(key)
        return values[-1] if values else default

    def specifiers(self, text):
        table = {'i': self.instance, 'I': self.instance, 'n': self.name,
                 'N': self.name.rpartition('.')[0], 'p': self.prefix, '%': '%'}
        out = []
        i = 0
        while i < len(text):
            if text[i] == '%' and i + 1 < len(text) and text[i + 1] in table:
                out.append(table[text[i + 1]])
                i += 2
            else:
                out.append(text[i])
                i += 1
        return ''.join(out)

    def environment(self):
        env = {'PATH': PATH, 'LANG': 'C.UTF-8'}
        for line in self.values('Environment'):
            for word in shlex.split(self.specifiers(line)):
                key, _, value = word.partition('=')
                env[key] = value
        for line in self.values('EnvironmentFile'):
            line = self.specifiers(line)
            optional = line.startswith('-')
            path = line[1:] if optional else line
            if not os.path.exists(path):
                if optional:
                    continue
                fail(f'{self.name}: no environment file {path}')
            with open(path, encoding='utf-8') as file:
                for raw in file:
                    raw = raw.strip()
                    if not raw or raw[0] in '#;' or '=' not in raw:
                        continue
                    key, _, value = raw.partition('=')
                    env[key.strip()] = ' '.join(shlex.split(value))
        return env

    def command(self, line, env):
        """The words of an Exec line and whether its failure is ignored."""
        line = self.specifiers(line)
        ignore = False
        while line and line[0] in '-@:+!':
            ignore = ignore or line[0] == '-'
            line = line[1:]
        words = []
        for word in shlex.split(line):
            if word.startswith('$') and not word.startswith('${') and word[1:].isidentifier():
                words.extend(env.get(word[1:], '').split())
                continue
            out = word
            start = out.find('${')
            while start >= 0:
                end = out.find('}', start)
                if end < 0:
                    break
                value = env.get(out[start + 2:end], '')
                out = out[:start] + value + out[end + 1:]
                start = out.find('${', start + len(value))
            words.append(out)
        return words, ignore

    def state(self, what):
        return os.path.join(STATE, f'{self.name}.{what}')

    def user(self):
        if self.value('DynamicUser') in ('yes', 'true', '1'):
            return DYNAMIC_UID, DYNAMIC_UID
        name = self.value('User')
        if name:
            entry = pwd.getpwnam(name)
            return entry.pw_uid, entry.pw_gid
        return 0, 0

    def main_pid(self):
        pid_file = self.value('PIDFile') if self.value('Type') == 'forking' else self.state('pid')
        try:
            with open(pid_file, encoding='ascii') as file:
                pid = int(file.read().strip())
        except (OSError, ValueError):
            return None
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            return None
        if os.path.exists(self.state('status')) and self.value('Type') != 'forking':
            return None
        return pid


def parse_unit(path):
    settings = {}
    section = None
    pending = ''
    with open(path, encoding='utf-8') as file:
        for raw in file:
            line = pending + raw.rstrip('\n')
            pending = ''
            if line.endswith('\\'):
                pending = line[:-1] + ' '
                continue
            stripped = line.strip()
            if not stripped or stripped[0] in '#;':
                continue
            if stripped.startswith('['):
                section = stripped
                continue
            if section != '[Service]':
                continue
            key, _, value = stripped.partition('=')
            settings.setdefault(key.strip(), []).append(value.strip())
    return settings


def run(unit, key, env, extra_env=None):
    """Runs the unit's `key` commands in turn as root; False when one fails."""
    for line in unit.values(key):
        words, ignore = unit.command(line, {**env, **(extra_env or {})})
        if not words:
            continue
        result = subprocess.run(words, env={**env, **(extra_env or {})}, check=False)
        if result.returncode != 0 and not ignore:
            print(f'systemctl (stand-in): {unit.name}: {key} {" ".join(words)} '
                  f'failed with {result.returncode}', file=sys.stderr)
            return False
    return True


def start(unit):
    if unit.main_pid():
        return True
    env = unit.environment()
    uid, gid = unit.user()
    for folder in unit.value('LogsDirectory').split():
        path = os.path.join('/var/log', folder)
        os.makedirs(path, mode=0o755, exist_ok=True)
        os.chown(path, uid, gid)
    for what in ('status', 'pid'):
        if os.path.exists(unit.state(what)):
            os.remove(unit.state(what))
    if not run(unit, 'ExecStartPre', env):
        return False
    if unit.value('Type') == 'forking':
        return run(unit, 'ExecStart', env)
    words, _ = unit.command(unit.value('ExecStart'), env)
    # A supervisor of its own waits for the service and keeps its exit
    # status, as systemd keeps a unit's result.
    supervisor = subprocess.Popen(
        [sys.executable, os.path.abspath(__file__), '--supervise', unit.name, str(uid),
         str(gid), unit.value('UMask', '0022'), unit.value('LimitNOFILE', ''), '--', *words],
        env=env, start_new_session=True, stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(unit.state('pid')) or os.path.exists(unit.state('status')):
            break
        if supervisor.poll() is not None:
            break
        time.sleep(0.02)
    return os.path.exists(unit.state('pid'))


def supervise(arguments):
    name, uid, gid, umask, nofile, _, *words = arguments
    unit = Unit(name)

    def limit_descriptors():
        # As far as this machine lets a process raise its hard limit.
        if nofile:
            hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
            limit = min(int(nofile), hard)
            resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))

    with open(unit.state('journal'), 'ab') as journal:
        try:
            child = subprocess.Popen(words, stdin=subprocess.DEVNULL, stdout=journal,
                                     stderr=journal, user=int(uid), group=int(gid),
                                     extra_groups=[], umask=int(umask, 8),
                                     preexec_fn=limit_descriptors)
        except OSError as error:
            journal.write(f'{words[0]}: {error}\n'.encode())
            status = 203
        else:
            with open(unit.state('pid'), 'w', encoding='ascii') as file:
                file.write(f'{child.pid}\n')
            status = child.wait()
    with open(unit.state('status'), 'w', encoding='ascii') as file:
        file.write(f'{status}\n')


def stop(unit):
    pid = unit.main_pid()
    if pid is None:
        return True
    env = unit.environment()
    if unit.values('ExecStop'):
        run(unit, 'ExecStop', env, {'MAINPID': str(pid)})
    else:
        os.kill(pid, signal.SIGTERM)
    timeout = float(unit.value('TimeoutStopSec', '90s').rstrip('s'))
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            break
        if os.path.exists(unit.state('status')):
            break
        time.sleep(0.05)
    else:
        os.kill(pid, signal.SIGKILL)
    return True


def reload(unit):
    pid = unit.main_pid()
    if pid is None:
        fail(f'Job for {unit.name} failed: the unit is not active.')
    return run(unit, 'ExecReload', unit.environment(), {'MAINPID': str(pid)})


def main(argv):
    if argv[:1] == ['--supervise']:
        supervise(argv[1:])
        return 0
    os.makedirs(STATE, exist_ok=True)
    if not argv:
        fail('no verb')
    verb, rest = argv[0], argv[1:]
    now = '--now' in rest
    names = [word for word in rest if not word.startswith('-')]
    if verb == 'daemon-reload':
        return 0
    units = [Unit(name) for name in names]
    ok = True
    if verb in ('start', 'restart', 'reload', 'stop') or (verb in ('enable', 'disable') and now):
        for unit in units:
            if verb == 'start' or verb == 'enable':
                ok = start(unit) and ok
            elif verb == 'stop' or verb == 'disable':
                ok = stop(unit) and ok
            elif verb == 'restart':
                ok = stop(unit) and start(unit) and ok
            else:
                ok = reload(unit) and ok
        return 0 if ok else 1
    if verb in ('enable', 'disable'):
        return 0
    if verb == 'is-active':
        active = all(unit.main_pid() for unit in units)
        if active:
            print('active')
            return 0
        failed = any(os.path.exists(unit.state('status')) and
                     open(unit.state('status'), encoding='ascii').read().strip() != '0'
                     for unit in units)
        print('failed' if failed else 'inactive')
        return 3
    fail(f'the stand-in does not know "{verb}"')
    return 1


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
