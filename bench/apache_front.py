"""Apache httpd with mod_tavik for the load benchmark: the event model as
docs/apache.md recommends it, the tree as its DocumentRoot with the mount
/search, run as an ordinary foreground process (in a process group of its
own) with its configuration, logs and pid file in a folder of its own, on a
free loopback port, without an access log. No system service is touched."""
import os
import shutil
import socket
import subprocess
import tempfile
import time

from nginx_front import free_port

APACHE = os.environ.get("TAVIK_APACHE", "/usr/sbin/apache2")
MODULES = os.environ.get("TAVIK_APACHE_MODULES", "/usr/lib/apache2/modules")
# As docs/apache.md recommends for the event model.
EVENT_LINES = (
    "StartServers 4", "ServerLimit 4", "ThreadLimit 640", "ThreadsPerChild 640",
    "MaxRequestWorkers 2560", "MinSpareThreads 25", "MaxSpareThreads 2560")


class Apache:
    """Apache serving and searching `site` with the module `module`, which
    loads `extension`; its URL in `base`."""

    def __init__(self, site, module, extension):
        self.folder = tempfile.mkdtemp(prefix="tavik-bench-apache-")
        os.chmod(self.folder, 0o755)
        self.port = free_port()
        self.base = "http://127.0.0.1:%d" % self.port
        folder = self.folder
        lines = [
            "ServerRoot %s" % folder,
            "DefaultRuntimeDir %s" % folder,
            "PidFile %s/apache.pid" % folder,
            "ErrorLog %s/error.log" % folder,
            "Listen 127.0.0.1:%d" % self.port,
            "ServerName 127.0.0.1",
        ]
        if os.getuid() == 0:
            lines += ["User nobody", "Group nogroup"]
        lines += ["LoadModule mpm_event_module %s/mod_mpm_event.so" % MODULES,
                  *EVENT_LINES,
                  "LoadModule authz_core_module %s/mod_authz_core.so" % MODULES,
                  "LoadModule tavik_module %s" % module,
                  "TavikExtension %s" % extension,
                  "DocumentRoot %s" % site,
                  "<Location /search>", "  SetHandler tavik", "</Location>", ""]
        with open(os.path.join(folder, "apache.conf"), "w") as out:
            out.write("\n".join(lines))
        # In the foreground Apache stops by signalling its whole process
        # group: a group of its own.
        self.process = subprocess.Popen(
            [APACHE, "-f", os.path.join(folder, "apache.conf"), "-DFOREGROUND"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 15
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    log = os.path.join(folder, "error.log")
                    reason = open(log).read() if os.path.exists(log) else ""
                    self.stop()
                    raise RuntimeError("Apache did not start: " + reason)
                time.sleep(0.05)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=60)
        shutil.rmtree(self.folder, ignore_errors=True)
