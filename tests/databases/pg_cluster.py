"""A throwaway PostgreSQL cluster for tests.

initdb into a temporary directory, the server listening on a Unix socket in
that directory only (no TCP port), as the user postgres when the tests run
as root (the server refuses to run as root). The cluster is stopped and its
directory removed when the `with` block ends, also when a test in it fails.
If the server cannot start, ClusterError carries its log. Clusters(n) starts
several side by side (shards and a coordinator) and removes them all.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import threading


class ClusterError(RuntimeError):
    pass


def _tool(name):
    found = shutil.which(name)
    if found:
        return found
    for path in sorted(glob.glob(f"/usr/lib/postgresql/*/bin/{name}"), reverse=True):
        return path
    raise ClusterError(f"{name} is not installed (scripts/install-deps installs postgresql)")


class Cluster:
    def __init__(self, user="zul", settings=""):
        self.user = user
        self.settings = settings  # more server options, "-c shared_buffers=1GB"
        self.base = tempfile.mkdtemp(prefix="zul-pg-")
        self.data = os.path.join(self.base, "data")
        self.socket = self.base
        self.log = os.path.join(self.base, "server.log")
        self._started = False
        self._as_root = os.geteuid() == 0
        if self._as_root:
            shutil.chown(self.base, "postgres", "postgres")

    def _run(self, argv):
        if self._as_root:
            argv = ["runuser", "-u", "postgres", "--"] + argv
        return subprocess.run(argv, capture_output=True, text=True)

    def _server_log(self):
        try:
            with open(self.log) as f:
                return f.read()
        except OSError:
            return "(no server log)"

    def start(self):
        r = self._run([_tool("initdb"), "-D", self.data, "-U", self.user, "--auth=trust",
                       "-E", "UTF8", "--no-locale", "--no-sync"])
        if r.returncode != 0:
            raise ClusterError("initdb failed:\n" + r.stdout + r.stderr)
        return self.start_again()

    def start_again(self):
        """Starts the server of the cluster made by start(), after crash()."""
        options = (f"-c listen_addresses='' -c unix_socket_directories='{self.socket}' -c fsync=off "
                   + self.settings)
        r = self._run([_tool("pg_ctl"), "-D", self.data, "-l", self.log, "-w", "-t", "60",
                       "-o", options, "start"])
        if r.returncode != 0:
            raise ClusterError("the PostgreSQL server did not start:\n" + r.stdout + r.stderr +
                               "\nserver log:\n" + self._server_log())
        self._started = True
        self._reap_when_gone()
        return self

    # Runs detached: waits while the test's process lives and the cluster
    # is there, then stops the server and removes the directory.
    _WATCHER = """
import os, shutil, subprocess, sys, time
pid, pg_ctl, data, base, as_root = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5] == "1"
while os.path.isdir(data):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        argv = [pg_ctl, "-D", data, "-m", "immediate", "-w", "stop"]
        subprocess.run((["runuser", "-u", "postgres", "--"] if as_root else []) + argv, capture_output=True)
        shutil.rmtree(base, ignore_errors=True)
        break
    time.sleep(1)
"""

    def _reap_when_gone(self):
        """A test killed outright (ctest's timeout kills) runs no `finally`,
        and its server would run on: a watcher in a session of its own stops
        and removes the cluster once the test's process has gone."""
        if getattr(self, "_watched", False):
            return
        self._watched = True
        subprocess.Popen([sys.executable, "-c", self._WATCHER, str(os.getpid()), _tool("pg_ctl"),
                          self.data, self.base, "1" if self._as_root else "0"],
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, start_new_session=True)

    def crash(self):
        """Stops the server at once, as a crash would: every session ends."""
        self._run([_tool("pg_ctl"), "-D", self.data, "-m", "immediate", "-w", "stop"])

    def stop(self):
        try:
            if self._started:
                self._run([_tool("pg_ctl"), "-D", self.data, "-m", "immediate", "-w", "stop"])
        finally:
            shutil.rmtree(self.base, ignore_errors=True)

    def conninfo(self, dbname="postgres", extra=""):
        return f"host={self.socket} dbname={dbname} user={self.user}" + (" " + extra if extra else "")

    def psql(self, sql, dbname="postgres"):
        """Runs sql through psql; its output (unaligned, tuples only)."""
        r = subprocess.run([_tool("psql"), "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1",
                            "-h", self.socket, "-U", self.user, "-d", dbname, "-c", sql],
                           capture_output=True, text=True)
        if r.returncode != 0:
            raise ClusterError(f"psql failed on {sql!r}:\n{r.stderr}")
        return r.stdout

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.stop()
            raise

    def __exit__(self, *exc):
        self.stop()
        return False


class Clusters:
    """Several throwaway clusters, started in parallel. Every one is stopped
    and removed when the `with` block ends, also when one of them fails to
    start or a test in the block fails."""

    def __init__(self, count, user="zul"):
        self.count, self.user = count, user
        self.members = []

    def __enter__(self):
        errors = []

        def start(cluster):
            try:
                cluster.start()
            except BaseException as e:  # reported after every start has ended
                errors.append(e)

        try:
            for _ in range(self.count):
                self.members.append(Cluster(self.user))
            threads = [threading.Thread(target=start, args=(c,)) for c in self.members]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            if errors:
                raise errors[0]
            return self.members
        except BaseException:
            self.stop()
            raise

    def stop(self):
        for cluster in self.members:
            try:
                cluster.stop()
            except Exception:  # the others are still removed
                pass

    def __exit__(self, *exc):
        self.stop()
        return False


def run_checks(checker, checks):
    """Runs every check; one that breaks is a failure of its own, not the
    end of the others. ZUL_CHECKS=name,name runs only those (while working
    on them; CTest runs all)."""
    only = [n for n in os.environ.get("ZUL_CHECKS", "").split(",") if n]
    for check in checks:
        if only and check.__name__ not in only:
            continue
        try:
            check()
        except Exception as e:
            checker.fail(f"{check.__name__}: {e}")


def check_main(open_clusters, make_checker, checks_of):
    """The main() of a database check script, run as `script ZUL WORKDIR
    [...]`: a fresh work folder, the clusters of open_clusters() (one
    Cluster, or a Clusters tuple), a checker made from them and loaded,
    then every check of checks_of(checker). Exit status 1 when a cluster
    fails to start or any check fails."""
    zul, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        with open_clusters() as clusters:
            checker = make_checker(zul, work, clusters)
            checker.load()
            run_checks(checker, checks_of(checker))
    except RuntimeError as e:  # a cluster that did not start (ClusterError), a failed load
        print("FAIL:", e)
        return 1
    return 1 if checker.failures else 0
