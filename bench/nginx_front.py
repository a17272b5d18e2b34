"""nginx in front of tavik-serve backends for the load benchmark, configured
by deploy/nginx/ as the tests configure it: the shipped files with the
lines that name places (the port, the site, the backends, the paths of logs
and temporary files) replaced, run as an ordinary foreground process in a
folder of its own. No system service is touched."""
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEPLOY = os.path.join(TOP, "deploy", "nginx")
NGINX = os.environ.get("TAVIK_NGINX", "/usr/sbin/nginx")


def replace_line(text, old, new):
    """`text` with its one line `old` (spaces around it ignored) as `new`."""
    lines = text.split("\n")
    found = [i for i, line in enumerate(lines) if line.strip() == old]
    if len(found) != 1:
        raise RuntimeError("the shipped nginx configuration has no single line %r" % old)
    lines[found[0]] = new
    return "\n".join(lines)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Front:
    """nginx serving `site` and passing searches to the backends on
    `backend_ports`; its URL in `base`."""

    def __init__(self, site, backend_ports):
        self.folder = tempfile.mkdtemp(prefix="tavik-bench-nginx-")
        os.chmod(self.folder, 0o755)
        self.port = free_port()
        self.base = "http://127.0.0.1:%d" % self.port
        folder = self.folder
        with open(os.path.join(DEPLOY, "nginx.conf")) as source:
            main = source.read()
        for old, new in (
                ("user www-data;", ""),
                ("pid /run/nginx.pid;", "pid %s/nginx.pid;" % folder),
                ("error_log /var/log/nginx/error.log;", "error_log %s/error.log;" % folder),
                ("include /etc/nginx/modules-enabled/*.conf;", ""),
                # No access log: the benchmark measures the front, not its disk.
                ("access_log /var/log/nginx/access.log;", "access_log off;"),
                ("include /etc/nginx/conf.d/*.conf;",
                 "".join("%s_temp_path %s/%s_temp; " % (kind, folder, kind)
                         for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))),
                ("include /etc/nginx/sites-enabled/*;", "include %s/tavik.conf;" % folder)):
            main = replace_line(main, old, new)
        with open(os.path.join(DEPLOY, "tavik.conf")) as source:
            site_conf = source.read()
        # The shipped backends' lines give way to these, with the same parameters.
        first = re.search(r"server 127\.0\.0\.1:8081 (.*);", site_conf)
        second = re.search(r"server 127\.0\.0\.1:8082 .*;", site_conf)
        site_conf = replace_line(
            site_conf, first.group(0),
            "\n".join("    server 127.0.0.1:%d %s;" % (port, first.group(1))
                      for port in backend_ports))
        site_conf = replace_line(site_conf, second.group(0), "")
        site_conf = replace_line(site_conf, "listen 80;", "    listen 127.0.0.1:%d;" % self.port)
        site_conf = replace_line(site_conf, "listen [::]:80;", "")
        site_conf = replace_line(site_conf, "root /usr/share/tavik/site;", "    root %s;" % site)
        with open(os.path.join(folder, "nginx.conf"), "w") as out:
            out.write(main)
        with open(os.path.join(folder, "tavik.conf"), "w") as out:
            out.write(site_conf)
        os.makedirs(os.path.join(folder, "snippets"))
        shutil.copy(os.path.join(DEPLOY, "snippets", "tavik-proxy.conf"),
                    os.path.join(folder, "snippets"))
        self.process = subprocess.Popen(
            [NGINX, "-p", folder + "/", "-c", folder + "/nginx.conf",
             "-e", folder + "/error.log", "-g", "daemon off;"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    raise RuntimeError("nginx did not start")
                time.sleep(0.05)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=30)
        shutil.rmtree(self.folder, ignore_errors=True)
