#!/usr/bin/env python3
"""Opens match pages in headless Chromium and checks every board cell of the DOM, at several
move numbers, against the game model's replay of the same record; takes one screenshot per
page; checks the error page of broken records, and the tournament report with its links.
Exits 77 (skipped) only when no Chromium is installed."""

import argparse
import html.parser
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

SKIP = 77
WINDOW = (1000, 800)
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--force-device-scale-factor=1", "--hide-scrollbars", "--virtual-time-budget=5000"]


def find_chromium():
    for name in (os.environ.get("CHROMIUM"), "chromium", "chromium-browser"):
        if name and shutil.which(name):
            return shutil.which(name)
    return None


class Browser:
    def __init__(self, binary, scratch):
        self.binary = binary
        self.scratch = scratch

    def run(self, url, *extra):
        profile = tempfile.mkdtemp(dir=self.scratch)
        done = subprocess.run([self.binary, *FLAGS, f"--user-data-dir={profile}", *extra, url],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120,
                              check=True)
        return done.stdout.decode("utf-8")

    def dom(self, path, fragment=""):
        return self.run(f"file://{path}{fragment}", "--dump-dom")

    def screenshot(self, path, png):
        self.run(f"file://{path}", f"--screenshot={png}",
                 f"--window-size={WINDOW[0]},{WINDOW[1]}")


class Page(html.parser.HTMLParser):
    """The parts of a dumped page the tests look at."""

    def __init__(self, text):
        super().__init__()
        self.cells = {}
        self.board = None
        self.body = {}
        self.ids = {}
        self.texts = {}
        self._open = None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "data-cell" in a:
            self.cells[(int(a["data-x"]), int(a["data-y"]))] = a["data-cell"]
        if a.get("id") == "board":
            self.board = a
        if tag == "body":
            self.body = a
        if "id" in a:
            self.ids[a["id"]] = a
            self._open = a["id"]
            self.texts[a["id"]] = ""

    def handle_data(self, data):
        if self._open:
            self.texts[self._open] += data

    def handle_endtag(self, tag):
        self._open = None


def expected_boards(tool, record, moves):
    out = subprocess.run([tool, record, *map(str, moves)], stdout=subprocess.PIPE, check=True,
                         timeout=60).stdout.decode()
    boards, legal, current = {}, {}, None
    for line in out.splitlines():
        if line.startswith("move "):
            n = int(line.split()[1])
            current = boards.setdefault(n, {})
            row = 0
        elif line.startswith("legal "):
            legal[n] = tuple(map(int, line.split()[1:]))
        else:
            for x, ch in enumerate(line.split()):
                current[(x, row)] = ch
            row += 1
    return boards, legal


def png_facts(path):
    """Width, height and the number of distinct byte values in the image data."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError(f"{path} is not a PNG")
    at, idat, size = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        chunk = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            size = struct.unpack(">II", chunk[:8])
        elif kind == b"IDAT":
            idat += chunk
        at += 12 + length
    return size, len(set(zlib.decompress(idat)))


class Failures(list):
    def check(self, ok, message):
        if not ok:
            self.append(message)


def check_record(browser, tools, fixture, scratch, failures):
    name = os.path.splitext(os.path.basename(fixture))[0]
    with open(fixture) as f:
        record = json.load(f)
    total = len(record["moves"])
    moves = sorted({0, 1, total // 3, (2 * total) // 3, total})
    page = os.path.join(scratch, name + ".html")
    subprocess.run([tools.arena, "view", fixture, "-o", page], check=True, timeout=60,
                   stdout=subprocess.DEVNULL)
    boards, legal = expected_boards(tools.record_board, fixture, moves)
    for n in moves:
        dom = Page(browser.dom(page, f"#move={n}"))
        want = boards[n]
        failures.check(dom.board is not None and dom.board.get("data-move") == str(n),
                       f"{name}: board element without data-move=\"{n}\"")
        failures.check(len(dom.cells) == len(want),
                       f"{name} at move {n}: {len(dom.cells)} cell elements, {len(want)} cells")
        wrong = [(xy, dom.cells.get(xy), ch) for xy, ch in want.items() if dom.cells.get(xy) != ch]
        failures.check(not wrong, f"{name} at move {n}: cells (x, y), page, model: {wrong[:5]}")
        if n in legal:
            status = "Seat %d to move: %d legal moves" % legal[n]
            failures.check(dom.texts.get("status") == status,
                           f"{name} at move {n}: {dom.texts.get('status')!r}, model: {status!r}")
    png = os.path.join(scratch, name + ".png")
    browser.screenshot(page + f"#move={total // 2}", png)
    size, distinct = png_facts(png)
    failures.check(size == WINDOW, f"{name}: screenshot of {size}, wanted {WINDOW}")
    failures.check(distinct >= 32, f"{name}: the screenshot looks blank")
    return record


def check_broken(browser, tools, fixture, scratch, failures):
    with open(fixture) as f:
        text = f.read()
    cases = {
        "cut-short": text[: len(text) // 2],
        "other-format": json.dumps(dict(json.loads(text), format="reversi-match-0")),
        "script-in-name": json.dumps(dict(
            json.loads(text), note="</script><b>x</b><!--",
            disqualifications=[{"seat": 2, "at_move": 3, "reason": "Invalid move: </script>",
                                "detail": "captures nothing"}])),
    }
    for case, body in cases.items():
        record = os.path.join(scratch, case + ".json")
        with open(record, "w") as f:
            f.write(body)
        page = os.path.join(scratch, case + ".html")
        status = subprocess.run([tools.arena, "view", record, "-o", page], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL,
                                timeout=60).returncode
        if case != "script-in-name":
            # Not a record: the arena names the fault and writes no page.
            failures.check(status == 1, f"{case}: arena view answers {status}, not 1")
            failures.check(not os.path.exists(page), f"{case}: a page was written")
            continue
        raw = browser.dom(page)
        dom = Page(raw)
        failures.check(status == 0 and dom.board is not None and dom.cells,
                       "a record holding </script> is not drawn")
        failures.check("disqualified: Invalid move: &lt;/script&gt; <em>(captures nothing)</em>"
                       in raw, "the disqualification is not in the move list")


def check_report(browser, tools, fixtures, scratch, failures):
    """A report of the fixtures and a record cut short: standings, ratings, links to pages."""
    folder = os.path.join(scratch, "tournament", "matches")
    os.makedirs(folder)
    for k, fixture in enumerate(fixtures):
        shutil.copy(fixture, os.path.join(folder, f"m{k}.json"))
    with open(fixtures[0]) as f, open(os.path.join(folder, "m9.json"), "w") as cut:
        cut.write(f.read()[:300])
    out = os.path.join(scratch, "report.html")
    subprocess.run([tools.arena, "report", os.path.dirname(folder), "--html", out], check=True,
                   stdout=subprocess.DEVNULL, timeout=60)
    dom = browser.dom(out)
    page = Page(dom)
    report = json.loads(subprocess.run(
        [tools.arena, "report", os.path.dirname(folder), "--json"], stdout=subprocess.PIPE,
        check=True, timeout=60).stdout)
    bots = [b["name"] for b in report["bots"]]
    failures.check(page.body.get("data-error") is None, "the report shows its error page")
    points = len(re.findall(r'<circle class="elo" cx="[-\d.]+"', dom))
    failures.check(points == len(bots), f"{points} rating points for {len(bots)} bots")
    failures.check(all(f"<td>{b}</td>" in dom for b in bots), "a bot is missing from the standings")
    failures.check("m9.json" in dom, "the record cut short is not named")
    links = sorted(set(re.findall(r'href="(report-matches/[^"#]+)"', dom)))
    failures.check(links == ["report-matches/m0.html", "report-matches/m1.html"],
                   f"links to match pages: {links}")
    for link in links:
        failures.check(os.path.isfile(os.path.join(scratch, link)), f"{link} was not written")
    png = os.path.join(scratch, "report.png")
    browser.screenshot(out, png)
    size, distinct = png_facts(png)
    failures.check(size == WINDOW and distinct >= 32, "the report's screenshot looks wrong")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--record-board", required=True)
    parser.add_argument("--arena", required=True)
    parser.add_argument("--fixtures", required=True)
    tools = parser.parse_args()
    binary = find_chromium()
    if binary is None:
        print("chromium not installed: skipped")
        return SKIP
    failures = Failures()
    with tempfile.TemporaryDirectory() as scratch:
        browser = Browser(binary, scratch)
        fixtures = [os.path.join(tools.fixtures, f) for f in ("transitions-bombs.json",
                                                              "eight-players.json")]
        for fixture in fixtures:
            check_record(browser, tools, fixture, scratch, failures)
        check_broken(browser, tools, fixtures[0], scratch, failures)
        check_report(browser, tools, fixtures, scratch, failures)
    for f in failures:
        print("FAIL:", f)
    print("ok" if not failures else f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
