#!/usr/bin/env python3
"""A real "arena serve" on loopback, driven through its HTTP API as teams and scripts use it:
teams and their tokens, uploads good, failing and hostile, builds that never end or print
for ever, and a restart that keeps everything."""

import argparse
import io
import json
import os
import re
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tarfile
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

ARENA = None
# This file is tests/arena/site/serve_test.py in the source tree.
SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))


def jail_problem():
    """Why bots cannot be jailed here, or None. Run as root the arena jails them as uid 65534,
    so the probe runs as that user too."""
    if not shutil.which("bwrap"):
        return "bwrap is not installed"
    probe = ["bwrap", "--unshare-pid", "--unshare-net", "--ro-bind", "/", "/", "true"]
    if os.geteuid() == 0:
        probe = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"] + probe
    done = subprocess.run(probe, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          check=False)
    return None if done.returncode == 0 else "bwrap refused: " + done.stdout.strip()


JAIL_PROBLEM = None


def write_league(folder, bots=("greedy", "random"), time_s=0.5):
    """A league of reference clients on the classic map; matches end within seconds. The bots
    and the builds are jailed where jails work; elsewhere the league runs unjailed, and says
    so once. Bots get the default time to connect: a match aborted because a bot started
    slowly on a loaded machine is never played again, and leaves its bots unrated."""
    config = {"bots": [{"name": b, "command": b} for b in bots],
              "maps": [os.path.join(SOURCE, "maps", "classic8.map")],
              "time": time_s, "rounds": 1, "concurrency": 2}
    if JAIL_PROBLEM:
        config["sandbox"] = False
    with open(os.path.join(folder, "league.json"), "w", encoding="utf-8") as out:
        json.dump(config, out)


def tar_of(files, mode="w:gz"):
    """A tar archive of {path: text}; a text of None makes a folder."""
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode=mode) as archive:
        for path, text in files.items():
            info = tarfile.TarInfo(path)
            if text is None:
                info.type = tarfile.DIRTYPE
                archive.addfile(info)
                continue
            data = text.encode()
            info.size = len(data)
            info.mode = 0o755
            archive.addfile(info, io.BytesIO(data))
    return out.getvalue()


def hostile(kind):
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w") as archive:
        run = tarfile.TarInfo("run")
        run.size = 1
        archive.addfile(run, io.BytesIO(b"x"))
        info = tarfile.TarInfo(kind[0])
        if kind[1] == "link":
            info.type = tarfile.SYMTYPE
            info.linkname = kind[2]
        elif kind[1] == "hardlink":
            info.type = tarfile.LNKTYPE
            info.linkname = kind[2]
        elif kind[1] == "device":
            info.type = tarfile.CHRTYPE
        archive.addfile(info, io.BytesIO(b"x") if info.type == tarfile.REGTYPE else None)
    return out.getvalue()


class Site:
    """One "arena serve" process on a free loopback port, over a league folder."""

    def __init__(self, folder, build_time=2, options=()):
        self.folder = folder
        self.process = subprocess.Popen(
            [ARENA, "serve", folder, "--listen", "127.0.0.1:0", "--build-time", str(build_time),
             *options],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.drain = None
        self.output = []
        found = None
        for line in self.process.stdout:
            self.output.append(line)
            found = re.search(r"^Serving .* on http://127\.0\.0\.1:(\d+)/", line)
            if found:
                break
        if not found:
            self.stop()
            raise AssertionError("arena serve did not start: " + "".join(self.output))
        self.base = f"http://127.0.0.1:{found.group(1)}"
        # The league's progress lines follow; the pipe is drained so that they never block it.
        self.drain = threading.Thread(target=lambda: self.output.extend(self.process.stdout))
        self.drain.start()

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)
        if self.drain:
            self.drain.join()
        self.process.stdout.close()

    def request(self, method, path, token=None, body=None, headers=None):
        """(status, headers, parsed JSON or text)."""
        headers = headers or {"Content-Type": "application/octet-stream"}
        if token is not None:
            headers["Authorization"] = f"Bearer {token}"
        req = urllib.request.Request(self.base + path, data=body, method=method,
                                     headers=headers)
        try:
            with urllib.request.urlopen(req, timeout=30) as answer:
                status, head, raw = answer.status, answer.headers, answer.read()
        except urllib.error.HTTPError as refused:
            status, head, raw = refused.code, refused.headers, refused.read()
        text = raw.decode("utf-8")
        is_json = head.get("Content-Type", "").startswith("application/json")
        return status, head, json.loads(text) if is_json else text

    def upload(self, token, archive, bot="bot"):
        return self.request("POST", f"/api/submissions?bot={bot}", token, archive)

    def wait_built(self, token, ident, seconds=30):
        deadline = time.time() + seconds
        while time.time() < deadline:
            status, _, body = self.request("GET", f"/api/submissions/{ident}", token)
            if status == 200 and body["state"] != "building":
                return body
            time.sleep(0.1)
        raise AssertionError(f"submission {ident} still building after {seconds} s")


def build_output(log):
    """A build's log without its first line, which says what the build may reach."""
    first, rest = log.split("\n", 1)
    assert first.startswith("The build runs "), log
    return rest


def add_team(folder, name):
    done = subprocess.run([ARENA, "serve", folder, "team", "add", name], check=True,
                          stdout=subprocess.PIPE, text=True)
    token = done.stdout.split()[-1]
    assert re.fullmatch(r"[0-9a-f]{64}", token), done.stdout
    return token


class SiteCase(unittest.TestCase):
    """A league of reference bots, teams alpha and beta, and its site running."""

    def run(self, result=None):
        """A failure shows what the site printed, which is where the league says why."""
        result = result or self.defaultTestResult()
        before = len(result.failures) + len(result.errors)
        super().run(result)
        if len(result.failures) + len(result.errors) > before and getattr(self, "site", None):
            sys.stderr.write("arena serve printed:\n" + "".join(self.site.output[-200:]))
        return result

    build_time = 2

    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        # The jail's user passes through to the bots' folders.
        os.chmod(self.scratch.name, 0o755)
        self.folder = os.path.join(self.scratch.name, "league")
        os.mkdir(self.folder)
        write_league(self.folder)
        self.alpha = add_team(self.folder, "alpha")
        self.beta = add_team(self.folder, "beta")
        self.site = Site(self.folder, self.build_time)

    def tearDown(self):
        self.site.stop()
        self.scratch.cleanup()


class ServeTest(SiteCase):
    def test_tokens_guard_every_team_route_and_a_refused_request_changes_nothing(self):
        good = tar_of({"run": "echo hi\n"})
        for token, expected in [(None, 401), ("", 401), ("0" * 64, 401), (self.alpha + "0", 401)]:
            with self.subTest(token=token):
                for method, path, body in [("GET", "/api/team", None),
                                           ("GET", "/api/submissions", None),
                                           ("GET", "/api/team/bots", None),
                                           ("GET", "/api/submissions/1", None),
                                           ("POST", "/api/submissions?bot=x", good)]:
                    status, head, answer = self.site.request(method, path, token, body)
                    self.assertEqual(status, expected, path)
                    self.assertIn("error", answer)
                    self.assertIn("default-src 'none'", head["Content-Security-Policy"])
        self.assertFalse(os.path.exists(os.path.join(self.folder, "submissions")))
        # Ten failed checks from one address: the next is allowed after 2 s.
        time.sleep(2.2)
        self.assertEqual(self.site.request("GET", "/api/team", self.alpha)[2], {"team": "alpha"})
        self.assertEqual(self.site.request("GET", "/api/submissions", self.beta)[2],
                         {"team": "beta", "submissions": []})
        self.assertEqual(self.site.request("GET", "/api/team/bots", self.beta)[2],
                         {"team": "beta", "bots": []})

    def test_a_build_log_is_its_team_s_alone_and_survives_a_restart(self):
        status, _, answer = self.site.upload(
            self.alpha, tar_of({"run": "python3 bot.py\n",
                                "build": "echo compiling; echo 'error: no' >&2; exit 3\n"}), "b1")
        self.assertEqual(status, 202)
        failed = self.site.wait_built(self.alpha, answer["id"])
        self.assertEqual(failed["state"], "failed")
        self.assertEqual(build_output(failed["log"]),
                         "compiling\nerror: no\nbuild failed: exit status 3\n")
        self.assertEqual(self.site.request("GET", f"/api/submissions/{answer['id']}",
                                           self.beta)[0], 403)
        self.assertEqual(self.site.request("GET", "/api/submissions/999", self.alpha)[0], 404)
        status, _, built = self.site.upload(self.alpha, tar_of({"run": "true\n"}), "b2")
        self.assertEqual(self.site.wait_built(self.alpha, built["id"])["state"], "built")
        self.site.stop()
        self.site = Site(self.folder, self.build_time)
        listing = self.site.request("GET", "/api/submissions", self.alpha)[2]["submissions"]
        self.assertEqual([(s["bot"], s["state"]) for s in listing],
                         [("b2", "built"), ("b1", "failed")])
        self.assertEqual(self.site.request("GET", f"/api/submissions/{answer['id']}",
                                           self.alpha)[2]["log"], failed["log"])

    def test_hostile_uploads_are_refused_or_bounded(self):
        cases = [
            ("path traversal", hostile(("../../escaped", "file")), 400, "leaves the bot's folder"),
            ("absolute path", hostile(("/tmp/escaped", "file")), 400, "absolute path"),
            ("symlink out", hostile(("up", "link", "../../..")), 400, "points outside"),
            ("hard link", hostile(("pw", "hardlink", "/etc/passwd")), 400, "hard link"),
            ("device file", hostile(("tty", "device")), 400, "device file"),
            ("bad bot name", tar_of({"run": "x"}), 400, "a bot's name"),
        ]
        for name, archive, status, message in cases:
            with self.subTest(name):
                bot = "<b>" if name == "bad bot name" else "bot"
                got, _, answer = self.site.upload(self.alpha, archive, bot)
                self.assertEqual(got, status)
                self.assertIn(message, answer["error"])
        # Too large is refused on the head: the body is never sent, so the answer cannot be
        # lost to a reset of a connection whose unread body the site dropped.
        port = int(self.site.base.rsplit(":", 1)[1])
        head = (f"POST /api/submissions?bot=bot HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                f"Authorization: Bearer {self.alpha}\r\nContent-Length: {17 << 20}\r\n\r\n")
        answer = raw_exchange(port, head.encode())
        self.assertEqual(status_of(answer), 413, answer)
        self.assertIn(b"too large: at most 16 MiB", answer)
        team = os.path.join(self.folder, "submissions", "alpha")
        self.assertEqual(os.listdir(team) if os.path.exists(team) else [], [])
        self.assertEqual(self.site.request("GET", "/api/submissions", self.alpha)[2]
                         ["submissions"], [])
        builds = [("never ends", "sleep 600\n", "the build ran longer than 2 s and was stopped"),
                  ("prints for ever", "yes\n", "the build printed more than 1048576 bytes")]
        for name, script, message in builds:
            with self.subTest(name):
                ident = self.site.upload(self.alpha, tar_of({"run": "x", "build": script}))[2]["id"]
                done = self.site.wait_built(self.alpha, ident)
                self.assertEqual(done["state"], "failed")
                self.assertIn(message, done["log"])
                self.assertLess(len(done["log"]), (1 << 20) + 200)


def form_of(archive, field="file", filename="bot.tar.gz"):
    """A multipart/form-data body as a browser or "curl -F" sends it: (content type, body)."""
    boundary = "----reversi" + os.urandom(8).hex()
    body = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhi\r\n"
            f"--{boundary}\r\nContent-Disposition: form-data; name=\"{field}\"")
    if filename:
        body += f"; filename=\"{filename}\"\r\nContent-Type: application/gzip"
    body = body.encode() + b"\r\n\r\n" + archive + f"\r\n--{boundary}--\r\n".encode()
    return f"multipart/form-data; boundary={boundary}", body


class UploadTest(SiteCase):
    # Long enough that a build waiting for the test is never cut short by its limit.
    build_time = 60

    def wait_log(self, ident, text):
        """The submission's answer once its log holds `text`, still building."""
        deadline = time.time() + 30
        while time.time() < deadline:
            body = self.site.request("GET", f"/api/submissions/{ident}", self.alpha)[2]
            self.assertEqual(body["state"], "building", body["log"])
            if text in body["log"]:
                return body
            time.sleep(0.05)
        raise AssertionError(f"the log of submission {ident} never said {text!r}")

    def test_a_build_log_is_seen_while_it_builds_and_a_stop_interrupts_the_build(self):
        script = "echo first\nwhile [ ! -e go ]; do sleep 0.1; done\necho second\n"
        ident = self.site.upload(self.alpha, tar_of({"run": "x", "build": script}), "live")[2]
        ident = ident["id"]
        early = self.wait_log(ident, "first\n")
        self.assertEqual(build_output(early["log"]), "first\n")
        [listed] = self.site.request("GET", "/api/submissions", self.alpha)[2]["submissions"]
        self.assertEqual(listed["state"], "building")
        # A stop ends the build under way at once; the next start builds it again.
        started = time.time()
        self.site.stop()
        self.assertLess(time.time() - started, 20)
        self.site = Site(self.folder, self.build_time)
        self.assertEqual(build_output(self.wait_log(ident, "first\n")["log"]), "first\n")
        [folder] = os.listdir(os.path.join(self.folder, "submissions", "alpha"))
        with open(os.path.join(self.folder, "submissions", "alpha", folder, "go"), "w",
                  encoding="utf-8"):
            pass
        done = self.site.wait_built(self.alpha, ident)
        self.assertEqual(done["state"], "built", done["log"])
        self.assertEqual(build_output(done["log"]), "first\nsecond\nbuild succeeded\n")

    def test_raw_and_form_uploads_are_taken_and_a_wrong_type_is_refused_by_name(self):
        archive = tar_of({"run": "true\n"})
        form_type, form = form_of(archive)
        _, no_file = form_of(archive, "file", None)
        cases = [
            ("raw, no content type", {}, archive, 202, None),
            ("raw, curl --data-binary's default",
             {"Content-Type": "application/x-www-form-urlencoded"}, archive, 202, None),
            ("raw, octet-stream", {"Content-Type": "application/octet-stream"}, archive, 202,
             None),
            ("form, curl -F", {"Content-Type": form_type}, form, 202, None),
            ("form without a file", {"Content-Type": form_type}, no_file, 400,
             "the form holds no file"),
            ("text", {"Content-Type": "text/plain"}, archive, 415,
             "application/octet-stream (the archive's bytes) or as multipart/form-data"),
            ("json", {"Content-Type": "application/json; charset=utf-8"}, archive, 415,
             "not as application/json"),
        ]
        self.site.stop()
        self.site = Site(self.folder, options=("--uploads-per-hour", "20", "--queued-builds",
                                               "20"))
        for name, headers, body, status, message in cases:
            with self.subTest(name):
                got, _, answer = self.site.request("POST", "/api/submissions?bot=up", self.alpha,
                                                   body, dict(headers))
                self.assertEqual(got, status, answer)
                if message:
                    self.assertIn(message, answer["error"])
                else:
                    done = self.site.wait_built(self.alpha, answer["id"])
                    self.assertEqual(done["state"], "built", done["log"])

    def test_a_jailed_build_runs_under_the_bots_system_call_filter(self):
        if JAIL_PROBLEM:
            self.skipTest(JAIL_PROBLEM)
        script = ("grep '^Seccomp:' /proc/self/status\n"
                  "unshare --user true 2>/dev/null && echo made a namespace || echo refused\n"
                  "unshare --mount true 2>/dev/null && echo made a namespace || echo refused\n")
        ident = self.site.upload(self.alpha, tar_of({"run": "x", "build": script}))[2]["id"]
        done = self.site.wait_built(self.alpha, ident)
        self.assertEqual(build_output(done["log"]),
                         "Seccomp:\t2\nrefused\nrefused\nbuild succeeded\n")

    def test_a_build_log_says_what_the_build_reaches_and_a_network_failure_says_so(self):
        script = "echo 'curl: (6) Could not resolve host: example.org' >&2; exit 6\n"
        ident = self.site.upload(self.alpha, tar_of({"run": "x", "build": script}))[2]["id"]
        log = self.site.wait_built(self.alpha, ident)["log"]
        lines = log.splitlines()
        if JAIL_PROBLEM:
            self.assertTrue(lines[0].startswith("The build runs unjailed"), log)
            self.assertEqual(lines[-1], "build failed: exit status 6")
        else:
            self.assertTrue(lines[0].startswith("The build runs jailed: no network"), log)
            self.assertEqual(lines[-2:], [
                "build failed: exit status 6",
                "the build's output speaks of the network, which builds do not have: bring "
                "what the bot needs (libraries, packages) in its archive"])
        script = "echo 'cp: error writing out: No space left on device' >&2; exit 1\n"
        ident = self.site.upload(self.alpha, tar_of({"run": "x", "build": script}))[2]["id"]
        done = self.site.wait_built(self.alpha, ident)
        self.assertEqual(done["state"], "failed")
        self.assertEqual(done["log"].splitlines()[-1], "the build ran out of space (its "
                         "folder's disk, or its scratch space)")


def raw_exchange(port, data, source="127.0.0.1", timeout=30, shut=False):
    """Sends bytes on a fresh connection from `source` and reads until the server closes: the
    bytes received (a send the server cut short is not an error)."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.settimeout(timeout)
    sock.bind((source, 0))
    sock.connect(("127.0.0.1", port))
    got = b""
    try:
        sock.sendall(data)
        if shut:
            sock.shutdown(socket.SHUT_WR)
    except OSError:
        pass
    try:
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
            got += chunk
    except OSError:
        pass
    sock.close()
    return got


def status_of(answer):
    found = re.match(rb"HTTP/1\.1 (\d{3}) ", answer)
    return int(found.group(1)) if found else None


class HostileHttpTest(SiteCase):
    """A table of hostile requests, each with the bound the site holds it to."""

    def port(self):
        return int(self.site.base.rsplit(":", 1)[1])

    def head(self, path, *lines, method="GET"):
        text = f"{method} {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        return (text + "".join(line + "\r\n" for line in lines) + "\r\n").encode()

    def test_hostile_requests_are_each_held_to_their_bound(self):
        port = self.port()
        whole = raw_exchange(port, self.head("/static/site.js"))
        upload = "POST /api/submissions?bot=x HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        cases = [
            # (case, request, status, bound on the answer's size, text in the answer)
            ("2,700 ranges", self.head("/static/site.js", "Range: bytes=" + ",".join(
                ["0-"] * 2700)), 200, len(whole), None),
            ("one range", self.head("/static/site.js", "Range: bytes=0-9"), 200, len(whole),
             None),
            ("a 64 KiB header line", self.head("/", "X-A: " + "a" * 65536), 431, 4096,
             "larger than 16384 bytes"),
            ("100 header lines", self.head("/", *[f"X-{i}: a" for i in range(100)]), 431, 4096,
             "more than 64 header lines"),
            ("a tokenless upload's head", (upload + "Content-Type: application/octet-stream\r\n"
                                           "Content-Length: 16777216\r\n\r\n").encode(), 401,
             4096, "this needs a team's token"),
            ("a wrong token asking to continue", (
                upload + "Authorization: Bearer 00\r\nExpect: 100-continue\r\n"
                "Content-Length: 16777216\r\n\r\n").encode(), 401, 4096, "unknown token"),
            ("a body past the limit", (upload + f"Authorization: Bearer {self.alpha}\r\n"
                                       "Content-Length: 99999999\r\n\r\n").encode(), 413, 4096,
             "at most 16 MiB"),
            ("a GET with a body", self.head("/", "Content-Length: 1000000"), 405, 4096,
             "a GET request takes no body"),
            ("a stranger's host name", self.head("/").replace(b"127.0.0.1", b"evil.example"),
             421, 4096, "does not answer for that host name"),
            ("a host name with a port", self.head("/").replace(b"127.0.0.1", b"localhost:80"),
             200, len(whole) * 10, None),
        ]
        for name, request, status, bound, text in cases:
            with self.subTest(name):
                started = time.time()
                answer = raw_exchange(port, request, shut=True)
                self.assertEqual(status_of(answer), status, answer[:300])
                self.assertLessEqual(len(answer), bound)
                self.assertLess(time.time() - started, 5)
                if text:
                    self.assertIn(text.encode(), answer)

    def test_slow_clients_are_cut_and_capped_while_visitors_are_answered(self):
        port = self.port()
        slow = []
        for _ in range(12):
            sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            sock.bind(("127.0.0.2", 0))
            sock.connect(("127.0.0.1", port))
            sock.settimeout(20)
            sock.sendall(b"GET / HTTP/1.1\r\n")
            slow.append(sock)
        started = time.time()
        visits = []
        while time.time() - started < 3:
            before = time.time()
            answer = raw_exchange(port, self.head("/api/standings"), source="127.0.0.3")
            visits.append(time.time() - before)
            self.assertIn(status_of(answer), (200, 503))
        self.assertLess(max(visits), 1.5)
        # The ninth and later connections of one address were refused at once; the first
        # eight are cut when their head has taken 10 s.
        answers = []
        for sock in slow:
            try:
                sock.sendall(b"X")
            except OSError:
                pass
            got = b""
            try:
                while True:
                    chunk = sock.recv(4096)
                    if not chunk:
                        break
                    got += chunk
            except OSError:
                pass
            answers.append(status_of(got))
            sock.close()
        self.assertEqual(sorted(answers, key=str), [408] * 8 + [429] * 4)
        self.assertLess(time.time() - started, 16)

    def test_tokens_case_caching_and_guessing(self):
        port = self.port()
        for scheme in ("Bearer", "bearer", "BEARER"):
            with self.subTest(scheme):
                answer = raw_exchange(port, self.head("/api/team",
                                                      f"Authorization: {scheme}  {self.alpha}"))
                self.assertEqual(status_of(answer), 200, answer)
                self.assertIn(b"Cache-Control: no-store", answer)
        public = raw_exchange(port, self.head("/static/site.js"))
        self.assertNotIn(b"no-store", public)
        guesses = [status_of(raw_exchange(port, self.head(
            "/api/team", f"Authorization: Bearer {i:064x}"), source="127.0.0.4"))
            for i in range(14)]
        # Ten fail freely; then one try every 2 s at most (a slow machine may earn one more).
        self.assertEqual(guesses[:10], [401] * 10)
        self.assertEqual(guesses[-2:], [429, 429])
        checked = guesses.count(401)
        # A slowed address is refused even with a good token: it learns nothing more.
        refused = raw_exchange(port, self.head("/api/team", f"Authorization: Bearer {self.alpha}"),
                               source="127.0.0.4")
        self.assertEqual(status_of(refused), 429)
        self.assertRegex(refused.decode(), r"Retry-After: [12]\r\n")
        other = raw_exchange(port, self.head("/api/team", f"Authorization: Bearer {self.alpha}"),
                             source="127.0.0.5")
        self.assertEqual(status_of(other), 200)
        time.sleep(2.2)
        again = raw_exchange(port, self.head("/api/team", f"Authorization: Bearer {self.alpha}"),
                             source="127.0.0.4")
        self.assertEqual(status_of(again), 200)
        logged = [line for line in self.site.output if "a token check from 127.0.0.4" in line]
        self.assertEqual(len(logged), checked)
        self.assertIn("slowed to one every 2 s", logged[-1])

    def test_requests_pipelined_on_one_connection_are_answered_in_order(self):
        request = (b"GET /api/team HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                   b"GET /static/none.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                   b"GET /api/team HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n")
        answer = raw_exchange(self.port(), request)
        self.assertEqual(re.findall(rb"HTTP/1\.1 (\d{3})", answer), [b"401", b"404", b"401"])


def arena_team(folder, *words):
    """Runs "arena serve FOLDER team WORDS...": (exit status, all it printed)."""
    done = subprocess.run([ARENA, "serve", folder, "team", *words], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, check=False)
    return done.returncode, done.stdout


def league_versions(folder, bot):
    """(version, command, folder, current) of a bot's versions, from the league's database."""
    with sqlite3.connect(os.path.join(folder, "league.db")) as db:
        return db.execute("SELECT v.version, v.command, v.dir, v.current FROM bot_versions v "
                          "JOIN bots b ON b.id = v.bot_id WHERE b.name = ? ORDER BY v.version",
                          (bot,)).fetchall()


class TeamTest(SiteCase):
    """Ownership by record, versions per upload, the teams' limits, leftovers, and the
    organiser's team commands."""

    def restart(self, *options):
        self.site.stop()
        self.site = Site(self.folder, self.build_time, options)

    def built(self, token, bot, files):
        status, _, answer = self.site.upload(token, tar_of(files), bot)
        self.assertEqual(status, 202, answer)
        done = self.site.wait_built(token, answer["id"])
        self.assertEqual(done["state"], "built", done["log"])
        return answer["id"], done["created"]

    def test_a_configured_bot_in_a_team_s_name_space_is_refused_at_start(self):
        other = os.path.join(self.scratch.name, "other")
        os.mkdir(other)
        write_league(other, bots=("greedy", "random", "alpha.spy", "gamma.x"))
        self.assertEqual(arena_team(other, "add", "beta")[0], 0)
        status, said = arena_team(other, "add", "gamma")
        self.assertEqual(status, 1)
        self.assertIn("the league's bot gamma.x is in the name space of a team named gamma", said)
        self.assertEqual(arena_team(other, "add", "alpha")[0], 1)
        # A team made before the bot was configured: the site refuses to start.
        write_league(other, bots=("greedy", "beta.spy"))
        done = subprocess.run([ARENA, "serve", other, "--listen", "127.0.0.1:0"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=60, check=False)
        self.assertEqual(done.returncode, 1)
        self.assertIn("the league's bot beta.spy is in team beta's name space", done.stdout)

    def test_every_upload_is_a_version_with_a_folder_of_its_own_never_changed(self):
        first, first_time = self.built(self.alpha, "twice", {"run": "echo one\n"})
        second, second_time = self.built(self.alpha, "twice", {"run": "echo two\n"})
        versions = wait_for("two versions", lambda: (
            lambda v: v if len(v) == 2 and v[1][3] == 1 else None)(
                league_versions(self.folder, "alpha.twice")), 30)
        self.assertEqual([(v[0], v[1], v[3]) for v in versions], [
            (1, f"./run # upload {first} of {first_time}", 0),
            (2, f"./run # upload {second} of {second_time}", 1)])
        self.assertNotEqual(versions[0][2], versions[1][2])
        with open(os.path.join(versions[0][2], "run"), encoding="utf-8") as run:
            self.assertEqual(run.read(), "echo one\n")

    def test_a_team_over_a_limit_gets_429_naming_it(self):
        self.restart("--max-bots", "1", "--uploads-per-hour", "3", "--queued-builds", "1")
        slow = tar_of({"run": "true\n", "build": "sleep 1\n"})
        status, _, answer = self.site.upload(self.alpha, slow, "a")
        self.assertEqual(status, 202)
        status, _, refused = self.site.upload(self.alpha, slow, "a")
        self.assertEqual((status, refused["error"].split(":")[0]),
                         (429, "over the team's limit queued_builds"))
        self.site.wait_built(self.alpha, answer["id"])
        status, _, refused = self.site.upload(self.alpha, slow, "b")
        self.assertEqual((status, refused["error"].split(":")[0]),
                         (429, "over the team's limit bots"))
        self.built(self.alpha, "a", {"run": "true\n"})
        self.built(self.alpha, "a", {"run": "true\n"})
        status, _, refused = self.site.upload(self.alpha, slow, "a")
        self.assertEqual(refused["error"],
                         "over the team's limit uploads_per_hour: at most 3 uploads an hour")
        self.assertEqual(status, 429)
        self.assertEqual(self.site.upload(self.beta, slow, "b")[0], 202)
        listing = self.site.request("GET", "/api/submissions", self.alpha)[2]["submissions"]
        self.assertEqual(len(listing), 3)

    def test_a_start_removes_unpacked_folders_no_submission_owns(self):
        kept, _ = self.built(self.alpha, "kept", {"run": "true\n"})
        self.site.stop()
        team = os.path.join(self.folder, "submissions", "alpha")
        stray = os.path.join(team, "stray-0123456789abcdef")
        cut = os.path.join(team, "cut-fedcba9876543210")
        for folder in (stray, cut):
            os.makedirs(os.path.join(folder, "src"))
            with open(os.path.join(folder, "src", "big"), "wb") as out:
                out.write(b"x" * 100000)
        with sqlite3.connect(os.path.join(self.folder, "league.db")) as db:
            db.execute("INSERT INTO submissions (team_id, bot, folder, state, created) SELECT "
                       "id, 'cut', ?, 'unpacking', 0 FROM teams WHERE name = 'alpha'", (cut,))
        self.site = Site(self.folder, self.build_time)
        self.assertIn("removed 2 unpacked folders that no submission owns",
                      "".join(self.site.output))
        self.assertEqual(len(os.listdir(team)), 1)
        listing = self.site.request("GET", "/api/submissions", self.alpha)[2]["submissions"]
        self.assertEqual([s["id"] for s in listing], [kept])

    def test_the_organiser_lists_teams_renews_and_revokes_tokens_removes_and_withdraws(self):
        self.built(self.alpha, "w", {"run": "true\n"})
        status, said = arena_team(self.folder, "list")
        self.assertEqual(status, 0)
        rows = [line.split() for line in said.splitlines()[1:]]
        self.assertEqual([r[:4] for r in rows],
                         [["alpha", "active", "1", "1"], ["beta", "active", "0", "0"]])
        status, said = arena_team(self.folder, "token", "alpha")
        fresh = said.split()[-1]
        self.assertEqual((status, len(fresh)), (0, 64))
        self.assertEqual(self.site.request("GET", "/api/team", self.alpha)[0], 401)
        self.assertEqual(self.site.request("GET", "/api/team", fresh)[0], 200)
        self.assertEqual(arena_team(self.folder, "revoke", "beta")[0], 0)
        self.assertEqual(self.site.request("GET", "/api/team", self.beta)[0], 401)
        self.assertIn("beta                              revoked",
                      arena_team(self.folder, "list")[1])

        self.assertEqual(league_versions(self.folder, "alpha.w")[0][3], 1)
        status, said = arena_team(self.folder, "withdraw", "alpha.w")
        self.assertEqual(status, 0, said)
        wait_for("the withdrawn bot leaves the league",
                 lambda: league_versions(self.folder, "alpha.w")[0][3] == 0, 20)
        status, said = arena_team(self.folder, "withdraw", "alpha.w")
        self.assertEqual(status, 1)
        self.assertIn("alpha.w is withdrawn already", said)
        status, said = arena_team(self.folder, "withdraw", "greedy")
        self.assertIn("no team has a bot named 'greedy'", said)
        self.built(fresh, "w", {"run": "true\n"})
        wait_for("a new upload brings it back",
                 lambda: league_versions(self.folder, "alpha.w")[-1][3] == 1, 20)

        self.assertEqual(arena_team(self.folder, "remove", "alpha")[0], 0)
        self.assertEqual(self.site.request("GET", "/api/team", fresh)[0], 401)
        wait_for("the removed team's bot leaves the league",
                 lambda: league_versions(self.folder, "alpha.w")[-1][3] == 0, 20)
        self.assertNotIn("alpha", arena_team(self.folder, "list")[1])
        self.assertIn("there is a team named 'alpha' already",
                      arena_team(self.folder, "add", "alpha")[1])
        for words in (("frob", "x"), ("list", "x"), ("token",)):
            with self.subTest(words):
                status, said = arena_team(self.folder, *words)
                self.assertEqual(status, 1)
                self.assertIn("unknown command", said)


def kit_bot(build="python3 -m compileall -q reversi_bot && echo compiled\n"):
    """A Python bot made from the kit as its README says: a folder with a build script, packed
    with the kit and a run script by python3 -m reversi_bot.pack."""
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "build"), "w", encoding="utf-8") as script:
            script.write(build)
        os.chmod(os.path.join(folder, "build"), 0o755)
        archive = os.path.join(folder, "bot.tar.gz")
        subprocess.run([sys.executable, "-m", "reversi_bot.pack", folder, "--bot", "greedy",
                        "-o", archive], check=True, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, PYTHONPATH=os.path.join(SOURCE, "clients", "python"),
                                PYTHONDONTWRITEBYTECODE="1"))
        with open(archive, "rb") as packed:
            return packed.read()


def wait_for(what, check, seconds=120):
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError(f"{what} within {seconds} s")


class LeagueSiteTest(SiteCase):
    """The whole round: a team's bot uploaded, built, scheduled, played and rated; the
    league's pages and logs; a restart that loses nothing and replays nothing. Builds in the
    bot's jail: they write their own folder and nothing else, and reach no network."""

    # Generous: a loaded machine must not fail the kit's build for time.
    build_time = 30

    def standings(self):
        return self.site.request("GET", "/api/standings")[2]

    def played(self, bots):
        tables = self.standings()
        rows = {r["bot"]: r for r in tables["standings"]}
        progress = tables["progress"]
        done = progress["done"] == progress["needed"] and set(rows) == set(bots)
        return tables if done and all(rows[b]["rated"] for b in bots) else None

    def check_other_arenas_see_the_team_bot(self, tables):
        """A report and a worker on the site's folder, while it runs, see the team's bot and
        leave what the league needs as it was."""
        report = subprocess.run([ARENA, "league", "report", self.folder, "--json"], check=True,
                                stdout=subprocess.PIPE, text=True, timeout=60)
        self.assertIn("alpha.kit", [r["bot"] for r in json.loads(report.stdout)["standings"]])
        subprocess.run([ARENA, "league", self.folder, "-j", "1"], check=True, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        self.assertEqual(self.standings()["progress"], tables["progress"])

    def test_a_jailed_build_writes_its_own_folder_alone_and_reaches_no_network(self):
        if JAIL_PROBLEM:
            self.skipTest(JAIL_PROBLEM)
        ident = self.site.upload(self.beta, tar_of({"run": "true\n"}), "other")[2]["id"]
        self.assertEqual(self.site.wait_built(self.beta, ident)["state"], "built")
        beta = os.path.join(self.folder, "submissions", "beta")
        other = os.path.join(beta, os.listdir(beta)[0])
        league_json = os.path.join(self.folder, "league.json")
        with open(league_json, encoding="utf-8") as config:
            config_before = config.read()
        listener = socket.create_server(("127.0.0.1", 0))
        listener.setblocking(False)
        port = listener.getsockname()[1]
        mark = f"escape-{os.getpid()}"
        connect = (f"python3 -c 'import socket; socket.create_connection((\"127.0.0.1\", {port}),"
                   f" timeout=3)' 2>/dev/null && echo reached || echo no network\n")
        cases = [
            ("its own folder", "echo made > product && cat product\n", "made\n"),
            ("the team's folder", f"(echo x > ../{mark}) 2>/dev/null; echo tried\n", "tried\n"),
            ("another team's bot", f"(echo x > {other}/run) 2>/dev/null; echo tried\n",
             "tried\n"),
            ("the league's files", f"(echo x >> {league_json}; touch {self.folder}/logs/{mark})"
             " 2>/dev/null; echo tried\n", "tried\n"),
            ("the host", f"(echo x > /tmp/../root/{mark}; echo x > /var/tmp/{mark}) 2>/dev/null;"
             " echo tried\n", "tried\n"),
            ("the host's loopback", connect, "no network\n"),
        ]
        for name, script, said in cases:
            with self.subTest(name):
                sent = self.site.upload(self.alpha, tar_of({"run": "true\n", "build": script}),
                                        "probe")
                done = self.site.wait_built(self.alpha, sent[2]["id"])
                self.assertEqual(done["log"].split("\n", 1)[0],
                                 "The build runs jailed: no network (a loopback of its own "
                                 "only); writable: this bot's folder (kept for the bot) and "
                                 "/tmp (64 MiB, emptied after the build), nothing else; at "
                                 "most 30 s and 1024 KiB of output.")
                self.assertEqual(build_output(done["log"]), said + "build succeeded\n")
        with self.assertRaises(BlockingIOError):
            listener.accept()
        listener.close()
        with open(os.path.join(other, "run"), encoding="utf-8") as run:
            self.assertEqual(run.read(), "true\n")
        with open(league_json, encoding="utf-8") as config:
            self.assertEqual(config.read(), config_before)
        escaped = [os.path.join(d, f) for d, _, files in os.walk(self.scratch.name)
                   for f in files if f == mark]
        escaped += [p for p in (f"/root/{mark}", f"/var/tmp/{mark}") if os.path.exists(p)]
        self.assertEqual(escaped, [])
        alpha = os.path.join(self.folder, "submissions", "alpha")
        products = [f for d in os.listdir(alpha) for f in os.listdir(os.path.join(alpha, d))]
        self.assertIn("product", products)

    def test_a_team_bot_is_built_scheduled_played_and_rated_and_a_restart_keeps_all(self):
        first = self.standings()
        waiting = sorted((q["map"], q["bots"]) for q in first["queue"])
        if first["progress"]["done"] == 0:
            self.assertEqual(waiting, [("classic8", ["greedy", "random"]),
                                       ("classic8", ["random", "greedy"])])
        wait_for("the reference bots played", lambda: self.played({"greedy", "random"}))
        status, _, answer = self.site.upload(self.alpha, kit_bot(), "kit")
        self.assertEqual(status, 202)
        self.assertEqual(build_output(self.site.wait_built(self.alpha, answer["id"])["log"]),
                         "compiled\nbuild succeeded\n")
        tables = wait_for("the team's bot played", lambda: self.played(
            {"greedy", "random", "alpha.kit"}))
        self.assertEqual(tables["progress"], {"needed": 6, "done": 6, "running": 0})
        self.assertEqual(tables["queue"], [])
        self.assertEqual(tables["matches"], 6)
        bot = self.site.request("GET", "/api/bots/alpha.kit")[2]
        self.assertEqual([v["version"] for v in bot["versions"]], [1])
        self.assertEqual(len(bot["matches"]), 4)
        match = bot["matches"][0]
        seat = next(s["seat"] for s in match["seats"] if s["bot"] == "alpha.kit")
        record = self.site.request("GET", f"/api/matches/{match['id']}")[2]
        self.assertEqual(record["format"], "reversi-match-1")
        self.assertEqual(record["map"]["file"], "classic8")
        for organisers in (self.scratch.name, SOURCE):
            self.assertNotIn(organisers, json.dumps(record))
        self.assertEqual(record["seats"][seat - 1]["sandbox"]["work_dir"][:18],
                         "submissions/alpha/")
        self.check_other_arenas_see_the_team_bot(tables)
        view = self.site.request("GET", "/api/team/bots", self.alpha)[2]["bots"]
        self.assertEqual([(b["bot"], b["name"], [u["state"] for u in b["uploads"]])
                          for b in view], [("kit", "alpha.kit", ["built"])])
        self.assertEqual(view[0]["matches"], bot["matches"])
        self.assertEqual(self.site.request("GET", "/api/team/bots", self.beta)[2]["bots"], [])
        status, head, page = self.site.request("GET", f"/match/{match['id']}")
        self.assertEqual(status, 200)
        self.assertIn('"format":"reversi-match-1"', page)
        self.assertIn("script-src 'self'", head["Content-Security-Policy"])
        log = f"/api/matches/{match['id']}/logs/{seat}"
        self.assertIn("Connected as group", self.site.request("GET", log, self.alpha)[2]["log"])
        self.assertEqual(self.site.request("GET", log, self.beta)[0], 403)
        self.assertEqual(self.site.request("GET", log)[0], 401)
        other = f"/api/matches/{match['id']}/logs/{3 - seat}"
        self.assertEqual(self.site.request("GET", other, self.alpha)[0], 403)

        self.site.stop()
        self.site = Site(self.folder, self.build_time)
        again = wait_for("the tables after a restart", lambda: self.played(
            {"greedy", "random", "alpha.kit"}), 30)
        for key in ("standings", "crosstable", "maps", "matches"):
            self.assertEqual(again[key], tables[key], key)
        listing = self.site.request("GET", "/api/submissions", self.alpha)[2]["submissions"]
        self.assertEqual([(s["bot"], s["state"]) for s in listing], [("kit", "built")])


class ReloadTest(SiteCase):
    """Edits of league.json picked up by a running site, one line per change; a bad edit keeps
    the configuration in use; SIGHUP reads the file again; Ctrl-C says how to resume."""

    def said(self, text, start, seconds=60):
        """Waits for a line of the site's output after line `start` that holds `text`."""
        return wait_for(f"the site to say {text!r}", lambda: next(
            (line for line in self.site.output[start:] if text in line), None), seconds)

    def needed(self):
        return self.site.request("GET", "/api/standings")[2]["progress"]["needed"]

    def edit(self, **changes):
        """Rewrites league.json, as last edited here, with keys changed (None removes one); the
        line the site's output had reached."""
        path = os.path.join(self.folder, "league.json")
        if not hasattr(self, "config"):
            with open(path, encoding="utf-8") as source:
                self.config = json.load(source)
        config = self.config
        for key, value in changes.items():
            config.pop(key, None)
            if value is not None:
                config[key] = value
        start = len(self.site.output)
        with open(path + ".new", "w", encoding="utf-8") as out:
            json.dump(config, out)
        os.replace(path + ".new", path)
        return start

    def test_edits_are_picked_up_said_and_a_bad_one_keeps_the_configuration(self):
        wait_for("the first plan", lambda: self.needed() == 2)
        bots = [{"name": "greedy", "command": "greedy"}, {"name": "random", "command": "random"},
                {"name": "third", "command": "random:7"}]
        start = self.edit(bots=bots, rounds=2)
        self.said("league.json: bot third added", start)
        self.said("league.json: rounds changed from 1 to 2", start)
        wait_for("the new bot's matches", lambda: self.needed() == 12)

        # A bad edit, of either kind, is said and changes nothing.
        start = len(self.site.output)
        with open(os.path.join(self.folder, "league.json"), "w", encoding="utf-8") as out:
            out.write('{"bots": [')
        self.said("arena serve keeps the configuration it had", start)
        start = self.edit(bots=bots, rounds=2, database="other.db")
        self.said("league.json: the database cannot change while arena serve runs (stop it and "
                  "start it again to use the new one); arena serve keeps the configuration it "
                  "had", start)
        self.assertEqual(self.needed(), 12)

        # SIGHUP reads the file again, and the site goes on.
        start = self.edit(database=None)
        self.said("league.json read again: nothing changed", start)
        start = len(self.site.output)
        self.site.process.send_signal(signal.SIGHUP)
        self.said("league.json read again: nothing changed", start)

        # The limit and the bots: what changed, and what the new limit means.
        start = self.edit(time=0.4, bots=bots[:1] + bots[2:])
        self.said("league.json: bot random removed: it leaves the standings, its matches stay "
                  "in its history", start)
        self.said("league.json: limit changed from 0.5 s per move to 0.4 s per move", start)
        self.said("The limit changed from 0.5 s per move to 0.4 s per move: every line-up of the "
                  "current versions is played again under 0.4 s per move (4 matches); ", start)
        wait_for("the tables under the new limit", lambda: self.site.request(
            "GET", "/api/standings")[2]["limits"] == [{"time_ms": 400, "depth": 0}])
        self.assertIsNone(self.site.process.poll())

        self.site.process.send_signal(signal.SIGINT)
        self.assertEqual(self.site.process.wait(timeout=60), 0)
        self.site.drain.join()
        self.assertEqual(
            re.sub(r"^\[ *\w+\] [\d:]+ ", "", self.site.output[-1]),
            "Stopped; the matches under way were given back. Resume with: arena serve "
            f"{self.folder} --listen 127.0.0.1:0 --build-time 2\n")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--arena", required=True)
    options, rest = parser.parse_known_args()
    ARENA = options.arena
    JAIL_PROBLEM = jail_problem()
    if JAIL_PROBLEM:
        print(f"{JAIL_PROBLEM}: the league runs unjailed", file=sys.stderr)
    unittest.main(argv=[sys.argv[0], *rest])
