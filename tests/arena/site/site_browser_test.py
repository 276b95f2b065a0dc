#!/usr/bin/env python3
"""The league's site in headless Chromium, driven over the DevTools protocol on a pipe: the
standings page shows a match's result within seconds of its end without reloading, its
crosstable and per-map table say what the JSON API says, and a bot's name made of markup
shows as text. Exits 77 (skipped) when no Chromium is installed."""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import serve_test  # noqa: E402

SKIP = 77
MARKUP_NAME = "<b>x<i>"
# How long after the API has a result the page may take to show it: two polls and slack.
LIVE_SECONDS = 6


class Chromium:
    """Headless Chromium with the DevTools protocol on descriptors 3 (in) and 4 (out)."""

    def __init__(self, binary, scratch):
        to_chrome_r, self.to_chrome = os.pipe()
        self.from_chrome, from_chrome_w = os.pipe()

        # The shell moves the pipe's ends to the descriptors the protocol uses.
        self.process = subprocess.Popen(
            ["/bin/sh", "-c", f'exec "$0" "$@" 3<&{to_chrome_r} 4>&{from_chrome_w}', binary,
             "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--remote-debugging-pipe", f"--user-data-dir={scratch}", "about:blank"],
            pass_fds=(to_chrome_r, from_chrome_w),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self.buffer = b""
        self.next_id = 0
        self.session = None

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=30)
        os.close(self.to_chrome)
        os.close(self.from_chrome)

    def call(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_chrome, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.buffer:
                chunk = os.read(self.from_chrome, 1 << 16)
                if not chunk:
                    raise AssertionError("Chromium went away")
                self.buffer += chunk
            raw, self.buffer = self.buffer.split(b"\0", 1)
            answer = json.loads(raw)
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise AssertionError(f"{method}: {answer['error']}")
                return answer["result"]

    def open(self, url):
        """Opens a page in a new tab whose every Content-Security-Policy violation is counted
        in window.violations, from before the page's first script runs."""
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget",
                                 {"targetId": target, "flatten": True})["sessionId"]
        self.call("Page.enable", {}, self.session)
        self.call("Page.addScriptToEvaluateOnNewDocument", {"source": COUNT_VIOLATIONS},
                  self.session)
        self.call("Page.navigate", {"url": url}, self.session)

    def violations(self):
        return self.evaluate("window.violations || null")

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True},
                           self.session)
        return result["result"].get("value")


COUNT_VIOLATIONS = """window.violations = [];
document.addEventListener("securitypolicyviolation",
    (e) => window.violations.push(`${e.violatedDirective} ${e.blockedURI} ${e.sample}`));"""

# The colours the viewer draws each seat's stones in (web/match.js), as computed styles.
SEAT_FILL = {"1": "rgb(31, 95, 208)", "2": "rgb(240, 140, 0)"}
STONE_FILLS = """[...document.querySelectorAll('#layer-stones > g')].map((g) => [
    g.getAttribute('class'), getComputedStyle(g).display,
    getComputedStyle(g.querySelector('circle')).fill])"""

TABLE_TEXT = """(id) => [...document.querySelectorAll(`#${id} tr`)].map(
    (tr) => [...tr.children].map((c) => c.textContent))"""


class SiteBrowserTest:
    def __init__(self, chromium, scratch):
        self.folder = os.path.join(scratch, "league")
        os.mkdir(self.folder)
        serve_test.write_league(self.folder, bots=(MARKUP_NAME, "random"))
        with open(os.path.join(self.folder, "league.json"), encoding="utf-8") as config:
            league = json.load(config)
        league["bots"][0]["command"] = "greedy"
        with open(os.path.join(self.folder, "league.json"), "w", encoding="utf-8") as config:
            json.dump(league, config)
        # Builds may take long enough for a build waiting on the test to be watched.
        self.site = serve_test.Site(self.folder, build_time=60)
        self.browser = Chromium(chromium, os.path.join(scratch, "profile"))

    def close(self):
        self.browser.close()
        self.site.stop()

    def page_matches(self):
        # While the page loads there may be no body yet.
        value = self.browser.evaluate("(document.body && document.body.dataset.matches) || '-1'")
        return int(value or -1)

    def check_live_update(self):
        self.browser.open(self.site.base + "/")
        serve_test.wait_for("the standings page loaded", lambda: self.page_matches() >= 0, 30)
        self.browser.evaluate("window.notReloaded = true")
        shown_before = self.page_matches()
        api_done = None
        while True:
            tables = self.site.request("GET", "/api/standings")[2]
            if api_done is None and tables["matches"] > shown_before:
                api_done = (time.time(), tables["matches"])
            if api_done and self.page_matches() >= api_done[1]:
                delay = time.time() - api_done[0]
                assert delay < LIVE_SECONDS, f"the page showed the result after {delay:.1f} s"
                break
            if api_done and time.time() - api_done[0] > LIVE_SECONDS:
                raise AssertionError(f"the page did not show match {api_done[1]} within "
                                     f"{LIVE_SECONDS} s")
            time.sleep(0.1)
        assert self.browser.evaluate("window.notReloaded === true"), "the page was reloaded"
        print(f"live: the page showed {api_done[1]} matches {delay:.1f} s after the API")

    def check_tables_match_the_api(self):
        serve_test.wait_for("every match played", lambda: (lambda t: t["progress"]["done"] ==
                            t["progress"]["needed"])(self.site.request("GET", "/api/standings")[2]))
        tables = self.site.request("GET", "/api/standings")[2]
        serve_test.wait_for("the page caught up",
                            lambda: self.page_matches() == tables["matches"], 10)
        cross = self.browser.evaluate(f"({TABLE_TEXT})('crosstable')")
        expected = [[""] + tables["crosstable"]["bots"]]
        for name, row in zip(tables["crosstable"]["bots"], tables["crosstable"]["cells"]):
            expected.append([name] + [f"{c['score']:.1f} / {c['matches']}" if c else ""
                                      for c in row])
        assert cross == expected, f"crosstable {cross} != {expected}"
        per_map = self.browser.evaluate(f"({TABLE_TEXT})('map-standings')")[1:]
        rows = tables["maps"][0]["standings"]
        assert [r[1] for r in per_map] == [r["bot"] for r in rows], per_map
        assert [r[5] for r in per_map] == [str(r["matches"]) for r in rows], per_map
        assert [r[6] for r in per_map] == [f"{r['points']:.1f}" for r in rows], per_map
        if not tables["aborted"]:
            aborted = self.browser.evaluate(f"({TABLE_TEXT})('aborted')")
            assert aborted[1:] == [["No aborted matches."]], aborted
        print("tables: the crosstable and the per-map table match the API")

    def check_markup_name_is_text(self):
        names = self.browser.evaluate(
            "[...document.querySelectorAll('#standings td a')].map((a) => a.textContent)")
        assert MARKUP_NAME in names, names
        elements = self.browser.evaluate("document.querySelectorAll('#standings b, #standings i, "
                                         "#crosstable b, #crosstable i').length")
        assert elements == 0, f"{elements} elements made from a bot's name"
        self.browser.open(self.site.base + "/bot?name=" + MARKUP_NAME.replace("<", "%3C")
                          .replace(">", "%3E"))
        serve_test.wait_for("the bot page", lambda: self.browser.evaluate(
            "document.querySelectorAll('#versions tbody tr').length") == 1, 30)
        assert self.browser.evaluate("document.getElementById('name').textContent") == MARKUP_NAME
        assert self.browser.evaluate("document.querySelectorAll('h1 b, h1 i').length") == 0
        matches = self.browser.evaluate(f"({TABLE_TEXT})('matches')")[1:]
        assert matches and all(m[1] == "classic8" for m in matches), matches
        print("markup: a bot named with markup shows as text")

    def check_match_page_draws_seats_in_their_colours(self):
        ident = self.site.request("GET", "/api/bots/random")[2]["matches"][0]["id"]
        self.browser.open(f"{self.site.base}/match/{ident}")
        serve_test.wait_for("the board drawn", lambda: self.browser.evaluate(
            "document.querySelectorAll('#layer-stones > g').length") == 64, 30)
        stones = self.browser.evaluate(STONE_FILLS)
        seen = set()
        for cls, display, fill in stones:
            seat = cls.split()[-1][1:]
            if seat == "0":
                assert display == "none", f"an empty cell shows a stone: {cls} {display}"
            else:
                assert fill == SEAT_FILL[seat], f"seat {seat}'s stone is drawn {fill}"
                seen.add(seat)
        assert seen == {"1", "2"}, f"stones of seats {seen} only"
        title = self.browser.evaluate("document.title")
        assert title == f"Match m{ident} on classic8", title
        assert self.browser.violations() == [], self.browser.violations()
        print(f"match page: {len(stones)} cells in their seats' colours, titled {title!r}")

    def check_every_page_obeys_the_policy(self):
        pages = ["/", "/bot?name=random", "/team"]
        for path in pages:
            self.browser.open(self.site.base + path)
            serve_test.wait_for(f"{path} loaded", lambda: self.browser.evaluate(
                "document.readyState === 'complete' && window.violations !== undefined"), 30)
            time.sleep(1)
            assert self.browser.violations() == [], f"{path}: {self.browser.violations()}"
        # The counter itself: an inline style, which the policy refuses, is one violation.
        self.browser.evaluate("document.body.setAttribute('style', 'color: red')")
        serve_test.wait_for("the counter sees an inline style",
                            lambda: len(self.browser.violations()) == 1, 10)
        print(f"policy: no violation on {', '.join(pages)} and the match page")

    def check_student_view(self):
        token = serve_test.add_team(self.folder, "tigers")
        ident = self.site.upload(token, serve_test.kit_bot("true\n"), "kit")[2]["id"]
        assert self.site.wait_built(token, ident, 60)["state"] == "built"
        serve_test.wait_for("the team's bot played", lambda: (lambda t: t["progress"]["done"] ==
                            t["progress"]["needed"] and "tigers.kit" in
                            [r["bot"] for r in t["standings"]])(
                                self.site.request("GET", "/api/standings")[2]))
        self.browser.open(self.site.base + "/team")
        serve_test.wait_for("the team page", lambda: self.browser.evaluate(
            "document.readyState === 'complete'"), 30)
        self.browser.evaluate(f"sessionStorage.setItem('team-token', '{token}'); "
                              "location.reload()")
        rows = "[...document.querySelectorAll('[data-bot=\"tigers.kit\"] table.matches tbody tr')]"
        serve_test.wait_for("the team's matches shown", lambda: self.browser.evaluate(
            f"{rows}.length") == 4, 30)
        cells = self.browser.evaluate(
            f"{rows}.map((tr) => [...tr.cells].map((c) => c.textContent))")
        assert all(c[1] == "classic8" and c[2] in ("1", "2") and c[0].startswith("m")
                   for c in cells), cells
        assert all(c[3] in ("won", "place 2", "shared first place") for c in cells), cells
        uploads = self.browser.evaluate(f"({TABLE_TEXT})('submissions')")[1:]
        assert [u[:3] for u in uploads] == [[str(ident), "tigers.kit", "built"]], uploads
        self.browser.evaluate("document.getElementById('bot').value = 'lynx';"
                              "document.getElementById('bot').dispatchEvent(new Event('input'))")
        said = self.browser.evaluate("document.getElementById('site-name').textContent")
        assert said == "It plays in the league as tigers.lynx.", said
        self.browser.evaluate(f"{rows}[0].querySelector('button').click()")
        serve_test.wait_for("the seat's log", lambda: "Connected as group" in
                            self.browser.evaluate("document.getElementById('log').textContent"),
                            10)
        assert self.browser.violations() == [], self.browser.violations()
        print(f"student view: {len(cells)} matches with map, seat and result, the seat's log")
        return token

    def check_build_log_live(self, token):
        """A build that prints, waits and prints again: the team's page shows its first part
        while it builds, then the whole log."""
        script = "echo first part\nwhile [ ! -e go ]; do sleep 0.1; done\necho second part\n"
        ident = self.site.upload(token, serve_test.tar_of({"run": "x", "build": script}),
                                 "slow")[2]["id"]
        button = (f"[...document.querySelectorAll('#submissions tr')].find((tr) => "
                  f"tr.cells[0].textContent === '{ident}')?.querySelector('button')")
        serve_test.wait_for("the upload listed", lambda: self.browser.evaluate(
            f"!!{button}"), 30)
        self.browser.evaluate(f"{button}.click()")
        log = "document.getElementById('log').textContent"
        shown = serve_test.wait_for("the first part shown while building", lambda: (
            lambda text: "first part" in text and text)(self.browser.evaluate(log)), 30)
        assert "second part" not in shown, shown
        title = self.browser.evaluate("document.getElementById('log-title').textContent")
        assert title.endswith("building)"), title
        team = os.path.join(self.folder, "submissions", "tigers")
        [folder] = [f for f in os.listdir(team) if f.startswith("slow-")]
        with open(os.path.join(team, folder, "go"), "w", encoding="utf-8"):
            pass
        whole = serve_test.wait_for("the whole log shown", lambda: (
            lambda text: "build succeeded" in text and text)(self.browser.evaluate(log)), 30)
        assert whole.endswith("first part\nsecond part\nbuild succeeded\n"), whole
        print("build log: its first part shown live, then the whole")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arena", required=True)
    options = parser.parse_args()
    serve_test.ARENA = options.arena
    serve_test.JAIL_PROBLEM = serve_test.jail_problem()
    if serve_test.JAIL_PROBLEM:
        print(f"{serve_test.JAIL_PROBLEM}: the league runs unjailed")
    chromium = next((shutil.which(n) for n in (os.environ.get("CHROMIUM"), "chromium",
                                               "chromium-browser") if n and shutil.which(n)), None)
    if not chromium:
        print("no Chromium installed: skipped")
        return SKIP
    with tempfile.TemporaryDirectory() as scratch:
        # The jail's user passes through to the bots' folders.
        os.chmod(scratch, 0o755)
        test = SiteBrowserTest(chromium, scratch)
        try:
            test.check_live_update()
            test.check_tables_match_the_api()
            test.check_markup_name_is_text()
            test.check_match_page_draws_seats_in_their_colours()
            test.check_build_log_live(test.check_student_view())
            test.check_every_page_obeys_the_policy()
        finally:
            test.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
