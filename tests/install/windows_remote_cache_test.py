#!/usr/bin/env python3
"""A build farm of Linux and Windows agents sharing one remote cache.

Debian's nginx, started here on a loopback port (WebDAV PUT, a prefix behind
basic authentication, one that answers 500), serves agents of both builds: the
Linux zelkor, and zelkor.exe under Wine (scripts/wine-run). Every build packs
the same tree with a KeySeedPath, so every archive must equal the one the Linux
build makes without any cache. Checked: an agent of one system fills the server
and one of the other builds from it, both ways, also with a URL path and a
cache directory in letters no code page holds together; a damaged entry is a
miss, and put right; a server that cannot be used is one warning; read-only
writes nothing; a wrong password is refused.

Usage: windows_remote_cache_test.py WINDOWS_BUILD_DIR LINUX_BUILD_DIR SOURCE_DIR [unittest arguments]
"""
import json
import os
import pathlib
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

WINDOWS, LINUX, SOURCE = (pathlib.Path(arg).resolve() for arg in sys.argv[1:4])
NGINX = "/usr/sbin/nginx"
AGENTS = {
    "linux": [str(LINUX / "zelkor")],
    "windows": [str(SOURCE / "scripts" / "wine-run"), str(WINDOWS / "zelkor.exe")],
}


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Server:
    """nginx on loopback: / takes GET and PUT from anyone, /locked/ only from
    agent:right, /failing/ answers 500. Its requests are logged as "METHOD URI
    STATUS" lines."""

    def __init__(self, work):
        if not os.access(NGINX, os.X_OK):
            raise AssertionError(f"{NGINX} is not installed (scripts/bootstrap nginx installs it)")
        self.dir = work / "nginx"
        (self.dir / "root").mkdir(parents=True)
        (self.dir / "temp").mkdir()
        (self.dir / "users").write_text("agent:{PLAIN}right\n")
        self.port = free_port()
        temp_paths = "".join(f"  {t}_temp_path {self.dir}/temp;\n"
                             for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        (self.dir / "nginx.conf").write_text(
            f"daemon off;\nmaster_process off;\npid {self.dir}/nginx.pid;\nerror_log {self.dir}/error.log;\n"
            "events { worker_connections 256; }\n"
            "http {\n  log_format requests '$request_method $uri $status';\n"
            f"  access_log {self.dir}/access.log requests;\n{temp_paths}  client_max_body_size 0;\n"
            f"  server {{\n    listen 127.0.0.1:{self.port};\n    root {self.dir}/root;\n"
            "    location / { dav_methods PUT; create_full_put_path on; }\n"
            "    location /locked/ { dav_methods PUT; create_full_put_path on;\n"
            f"                        auth_basic cache; auth_basic_user_file {self.dir}/users; }}\n"
            "    location /failing/ { return 500; }\n  }\n}\n")
        self.process = subprocess.Popen([NGINX, "-p", self.dir, "-e", self.dir / "error.log",
                                         "-c", self.dir / "nginx.conf"], stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and self.process.poll() is None:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.02)
        self.stop()
        raise AssertionError(f"nginx did not start: {(self.dir / 'error.log').read_text()}")

    def url(self, prefix, credentials=""):
        return f"http://{credentials}127.0.0.1:{self.port}/{prefix}"

    def entries(self, prefix):
        """The entries below a prefix: {name: bytes}."""
        root = self.dir / "root" / prefix
        return {path.name: path.read_bytes() for path in root.rglob("*") if path.is_file()}

    def requests(self):
        log = self.dir / "access.log"
        return log.read_text(encoding="utf-8", errors="replace").splitlines() if log.exists() else []

    def stop(self):
        self.process.terminate()
        self.process.wait()


class Farm:
    """A tree of sources and a script that packs it with a key seed; each agent
    builds it in a copy of its own."""

    def __init__(self, work):
        self.dir = work / "tree"
        (self.dir / "src").mkdir(parents=True)
        generator = random.Random(35)
        words = ["texture", "mesh", "level", "sound", "shader", "script", "font", "atlas"]
        listed = []
        for i in range(8):
            if i == 0:  # a blob that does not compress
                content = generator.randbytes(5000)
            else:  # text of several sizes, one large enough to be mapped
                size = 400_000 if i == 1 else 3000 + 7000 * i
                text = " ".join(generator.choice(words) + str(generator.randrange(100)) for _ in range(size // 6))
                content = text.encode()[:size]
            (self.dir / "src" / f"f{i}").write_bytes(content)
            listed.append(f'<File ArchivedPath="f{i}">src/f{i}</File>')
        (self.dir / "seed").write_bytes(bytes(range(64)))
        (self.dir / "s.xml").write_text(
            '<ScriptFile><CreateOrvanPack ArchivePath="a.pak" BuildKeyfile="true" KeySeedPath="seed">'
            + "".join(listed) + "</CreateOrvanPack></ScriptFile>")
        self.files = len(listed)
        self.runs = 0

    def build(self, agent, environment):
        """Builds the tree with `agent` in a fresh copy; returns (status, standard
        error, archive and key file bytes, the copy)."""
        self.runs += 1
        copy = self.dir.parent / f"{agent}-{self.runs}"
        shutil.copytree(self.dir, copy)
        env = {name: value for name, value in os.environ.items() if not name.startswith("ZELKOR_")}
        env.update(environment)
        done = subprocess.run([*AGENTS[agent], "s.xml"], cwd=copy, env=env, capture_output=True, timeout=300)
        built = (copy / "a.pak").read_bytes() + (copy / "a.pak.zlk").read_bytes() if (copy / "a.pak").exists() else b""
        return done.returncode, done.stderr.decode("utf-8", errors="replace"), built, copy


def remote_record(cache):
    """What the last run recorded of its remote cache in the directory `cache`."""
    shown = subprocess.run([LINUX / "zelkor-inspect", "cache", cache, "--json"], capture_output=True, check=True)
    return json.loads(shown.stdout)["remote"]


class RemoteCacheUnderWineTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for agent, command in AGENTS.items():
            if not pathlib.Path(command[-1]).is_file():
                raise AssertionError(f"no {agent} build at {command[-1]} (make build, make windows)")
        cls.work = pathlib.Path(tempfile.mkdtemp(prefix="zelkor-farm-"))
        cls.server = Server(cls.work)
        cls.farm = Farm(cls.work)
        status, err, cls.plain, _ = cls.farm.build("linux", {})
        assert status == 0, err

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        if not os.environ.get("ZELKOR_KEEP_TEMP"):
            shutil.rmtree(cls.work, ignore_errors=True)

    def build(self, agent, environment, status=0, err=""):
        done, said, built, copy = self.farm.build(agent, environment)
        self.assertEqual((done, said), (status, err), f"{agent} with {environment}")
        self.assertEqual(built, self.plain, f"{agent} with {environment}: not the archive of a build without cache")
        return copy

    def test_agents_of_either_system_build_from_what_the_other_put_there(self):
        # Both ways; the second with a URL path and a cache directory that no
        # code page holds together (read as UTF-8 from the environment).
        for filler, reader, prefix, directory in (("linux", "windows", "both", "b"),
                                                  ("windows", "linux", "Größe-缓存", "Größe-缓存"),
                                                  ("linux", "windows", "Größe-b", "Größe-缓存")):
            with self.subTest(filler=filler, reader=reader, prefix=prefix):
                url = self.server.url(prefix)
                filled = self.build(filler, {"ZELKOR_CACHE_DIR": "a", "ZELKOR_REMOTE_CACHE": url})
                self.assertEqual(len(self.server.entries(prefix)), self.farm.files)
                self.assertEqual(remote_record(filled / "a")["uploads"], self.farm.files)
                agent = self.build(reader, {"ZELKOR_CACHE_DIR": directory, "ZELKOR_REMOTE_CACHE": url})
                record = remote_record(agent / directory)
                self.assertEqual((record["hits"], record["misses"], record["uploads"]), (self.farm.files, 0, 0))
                self.assertEqual(record["url"], url)
        # Both systems compress alike: the entries are the same bytes.
        self.assertEqual(self.server.entries("both"), self.server.entries("Größe-缓存"))

    def test_a_damaged_entry_is_a_miss_and_put_right(self):
        url = self.server.url("damaged")
        self.build("linux", {"ZELKOR_REMOTE_CACHE": url})
        root = self.server.dir / "root" / "damaged"
        victim = sorted(path for path in root.rglob("*") if path.is_file())[0]
        good = victim.read_bytes()
        for name, damaged in (("random bytes", random.Random(4).randbytes(len(good))),
                              ("cut short", good[:len(good) // 2]), ("empty", b"")):
            with self.subTest(name):
                victim.write_bytes(damaged)
                agent = self.build("windows", {"ZELKOR_CACHE_DIR": "b", "ZELKOR_REMOTE_CACHE": url}, status=1,
                                   err=f"Remote cache {url} sent a damaged entry {victim.name}!\n")
                self.assertEqual(victim.read_bytes(), good)
                record = remote_record(agent / "b")
                self.assertEqual((record["damaged"], record["hits"], record["uploads"]),
                                 (1, self.farm.files - 1, 1))

    def test_a_server_that_cannot_be_used_is_one_warning(self):
        self.build("linux", {"ZELKOR_REMOTE_CACHE": self.server.url("locked/cache", "agent:right@")})
        refused = f"http://127.0.0.1:{free_port()}/cache"
        with socket.socket() as silent:  # takes connections, never answers
            silent.bind(("127.0.0.1", 0))
            silent.listen(16)
            hanging = f"http://127.0.0.1:{silent.getsockname()[1]}/cache"
            for url, shown in ((refused, refused), (hanging, hanging),
                               (self.server.url("locked/cache", "agent:wrong@"), self.server.url("locked/cache")),
                               (self.server.url("failing/cache"), self.server.url("failing/cache")),
                               (self.server.url("cache").replace("http:", "https:"),
                                self.server.url("cache").replace("http:", "https:"))):
                with self.subTest(url):
                    asked = len(self.server.requests())
                    began = time.monotonic()
                    agent = self.build("windows", {"ZELKOR_CACHE_DIR": "c", "ZELKOR_REMOTE_CACHE": url,
                                                   "ZELKOR_REMOTE_CACHE_TIMEOUT": "1"},
                                       status=1, err=f"Cannot use remote cache {shown}!\n")
                    # Well within the default timeout of 10 s: the one set is kept.
                    self.assertLess(time.monotonic() - began, 9)
                    self.assertTrue(remote_record(agent / "c")["unusable"])
                    if "wrong" in url:  # refused, and nothing written
                        refusals = self.server.requests()[asked:]
                        self.assertTrue(refusals)
                        self.assertEqual([line for line in refusals if not line.startswith("GET /locked/")
                                          or not line.endswith(" 401")], [])

    def test_read_only_agents_write_nothing(self):
        url = self.server.url("read-only")
        self.build("windows", {"ZELKOR_CACHE_DIR": "r", "ZELKOR_REMOTE_CACHE": url,
                               "ZELKOR_REMOTE_CACHE_MODE": "read-only"})
        self.assertEqual(self.server.entries("read-only"), {})
        self.assertFalse([line for line in self.server.requests() if line.startswith("PUT /read-only/")])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
