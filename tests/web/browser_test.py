#!/usr/bin/env python3
"""Opens match pages in headless Chromium and checks every board cell of the DOM, at several
move numbers, against the game model's replay of the same record; takes one screenshot per
page; checks the error page of broken records, and the tournament report with its links.
Then one check per behaviour of the page's drawing, each with a table of cases, measured by a
probe script added to the page (it steps through the moves and writes what it measured into
<pre id="probe">): coordinates, legal marks clear of digits, the legend, transitions on demand,
eight distinct seat colours, the size of a big board's cells, the move kinds, and that no
record or report field runs script. Exits 77 (skipped) only when no Chromium is installed."""

import argparse
import concurrent.futures
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

    def dom(self, path, fragment="", window=None):
        size = [f"--window-size={window[0]},{window[1]}"] if window else []
        return self.run(f"file://{path}{fragment}", "--dump-dom", *size)

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
    # One load at a move given in the address, the others stepped to by the probe.
    dom = Page(browser.dom(page, f"#move={moves[-2]}"))
    failures.check(dom.board is not None and dom.board.get("data-move") == str(moves[-2]),
                   f"{name}: #move={moves[-2]} shows another board")
    failures.check(dom.cells == boards[moves[-2]], f"{name}: cells at #move={moves[-2]} differ")
    seen = {m["n"]: m for m in probe(browser, page, {"moves": moves}).get("moves", [])}
    width = 1 + max(x for x, _ in boards[0])
    for n in moves:
        got, want = seen.get(n, {}), boards[n]
        failures.check(got.get("board") == str(n),
                       f"{name}: board element without data-move=\"{n}\"")
        cells = {(i % width, i // width): ch for i, ch in enumerate(got.get("cells", []))}
        failures.check(len(cells) == len(want),
                       f"{name} at move {n}: {len(cells)} cell elements, {len(want)} cells")
        wrong = [(xy, cells.get(xy), ch) for xy, ch in want.items() if cells.get(xy) != ch]
        failures.check(not wrong, f"{name} at move {n}: cells (x, y), page, model: {wrong[:5]}")
        if n in legal:
            status = "Seat %d to move: %d legal moves" % legal[n]
            failures.check(got.get("status") == status,
                           f"{name} at move {n}: {got.get('status')!r}, model: {status!r}")
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
        status = subprocess.run([tools.arena, "view", record, "-o", page],
                                stdout=subprocess.DEVNULL,
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
    return out


# --- Drawing checks: a probe script measures the page in the browser ----------------------

PROBE = r"""
<script>
(() => {
  const plan = JSON.parse(document.getElementById("probe-plan").textContent);
  const out = {pwned: window.__pwned === undefined ? null : String(window.__pwned),
               error: document.body.getAttribute("data-error"),
               prototype: Object.getOwnPropertyNames(Object.prototype).length,
               javascriptLinks: document.querySelectorAll('a[href^="javascript" i]').length,
               text: document.body.textContent};
  const board = document.getElementById("board");
  const box = (e) => e.getBoundingClientRect();
  const visible = (e) => getComputedStyle(e).display !== "none" &&
                         (box(e).width > 0 || box(e).height > 0);
  if (board && typeof Viewer !== "undefined" && Viewer.game) {
    const w = Viewer.game.map.width;
    out.coords = {x: [], y: []};
    // A label names the column or row it stands beside: its centre, in board units, lies
    // within that column or row.
    const toBoard = board.getScreenCTM().inverse();
    out.misplaced = [];
    for (const c of board.querySelectorAll(".coord")) {
      out.coords[c.dataset.axis].push(c.textContent);
      const r = box(c);
      const p = new DOMPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2)
          .matrixTransform(toBoard);
      const at = c.dataset.axis === "x" ? p.x : p.y, v = Number(c.textContent);
      if (!(at > v && at < v + 1)) out.misplaced.push(c.dataset.axis + c.textContent);
    }
    out.legend = Array.from(document.querySelectorAll("#legend li"), (li) => li.dataset.kind);
    out.kinds = Array.from(document.querySelectorAll("#movelist tr.move"), (tr) =>
        [tr.cells[0].textContent,
         tr.querySelector(".kind") && tr.querySelector(".kind").textContent]);
    const cellPx = () => box(board.querySelector("#layer-board .sq")).width;
    out.cellPx = cellPx();
    document.getElementById("zoom-in").click();
    out.zoomedCellPx = cellPx();
    document.getElementById("zoom-out").click();
    const layer = board.querySelector("#layer-stones");
    out.colours = [];
    for (let p = 1; p <= 8; ++p) {
      const g = document.createElementNS("http://www.w3.org/2000/svg", "g");
      g.setAttribute("class", `stone s${p}`);
      g.innerHTML = '<circle cx="0.5" cy="0.5" r="0.4"/><text x="0.5" y="0.5">0</text>';
      layer.append(g);
      out.colours.push([getComputedStyle(g.firstChild).fill, getComputedStyle(g.lastChild).fill]);
      g.remove();
    }
    const transitions = () =>
        Array.from(board.querySelectorAll(".transition")).filter(visible).length;
    out.moves = [];
    for (const n of plan.moves) {
      Viewer.go(n);
      const digits = new Map();
      Viewer.stoneEls.forEach((g, i) => {
        if (g.lastChild.textContent) digits.set(i, [g.lastChild.textContent, box(g.lastChild)]);
      });
      let overlaps = 0, over = 0;
      const marks = board.querySelectorAll("#layer-marks .legal");
      for (const m of marks) {
        const r = box(m), x = Number(m.dataset.x), y = Number(m.dataset.y);
        over += m.classList.contains("over") ? 1 : 0;
        for (let dy = -1; dy <= 1; ++dy) for (let dx = -1; dx <= 1; ++dx) {
          const d = digits.get((y + dy) * w + x + dx);
          if (d && r.left < d[1].right && d[1].left < r.right &&
              r.top < d[1].bottom && d[1].top < r.bottom) ++overlaps;
        }
      }
      const seatDigits = Array.from(board.querySelectorAll("#layer-stones g.stone:not(.s0)"),
                                    (g) => [g.getAttribute("class"), g.lastChild.textContent]);
      out.moves.push({n, legal: marks.length, over, overlaps, transitions: transitions(),
                      seatDigits,
                      board: board.getAttribute("data-move"),
                      status: document.getElementById("status").textContent,
                      cells: Array.from(Viewer.cellEls, (g) => g.getAttribute("data-cell"))});
    }
    Viewer.go(0);
    const all = document.getElementById("all-transitions");
    out.transitionsTotal = board.querySelectorAll(".transition").length;
    out.defaultAll = all.checked;
    all.click();
    out.toggledTransitions = transitions();
  }
  const pre = document.createElement("pre");
  pre.id = "probe";
  pre.textContent = JSON.stringify(out);
  document.body.append(pre);
})();
</script>
"""


def probe(browser, page, plan, window=(1280, 800)):
    """The page with the probe added, opened at the given width: what the probe measured."""
    with open(page) as f:
        text = f.read()
    probed = page.replace(".html", "-probe.html")
    data = json.dumps(plan).replace("<", "\\u003c")
    at = text.rindex("</body>")
    with open(probed, "w") as f:
        f.write(text[:at] + f'<script type="application/json" id="probe-plan">{data}</script>' +
                PROBE + text[at:])
    dom = Page(browser.dom(probed, window=window))
    return json.loads(dom.texts.get("probe") or "{}")


def view(tools, record, scratch, name):
    page = os.path.join(scratch, name + ".html")
    subprocess.run([tools.arena, "view", record, "-o", page], check=True, timeout=60,
                   stdout=subprocess.DEVNULL)
    return page


def embed(template, element, data, out):
    """A copy of a page the arena wrote with other data in its JSON element, escaped as the
    arena escapes it: how the page copes with data the arena's reader would refuse."""
    with open(template) as f:
        text = f.read()
    body = json.dumps(data).replace("<", "\\u003c")
    with open(out, "w") as f:
        f.write(re.sub(f'(<script type="application/json" id="{element}">).*?(</script>)',
                       lambda m: m.group(1) + body + m.group(2), text, count=1, flags=re.S))
    return out


def big_record(side=50):
    """A record of a side × side map for two, with no moves: enough to measure its cells."""
    rows = [["0"] * side for _ in range(side)]
    rows[side // 2][side // 2], rows[side // 2][side // 2 + 1] = "1", "2"
    text = f"2\n0\n0 0\n{side} {side}\n" + "\n".join(" ".join(r) for r in rows) + "\n"
    return {"format": "reversi-match-1", "id": "big", "map": {"file": "big", "text": text},
            "seats": [{"seat": 1, "bot": "a"}, {"seat": 2, "bot": "b"}], "moves": [],
            "disqualifications": [], "result": {"end": "final"}}


def lab(rgb):
    """CIE L*a*b* of a CSS "rgb(r, g, b)" colour."""
    r, g, b = (int(v) / 255 for v in re.findall(r"\d+", rgb)[:3])
    lin = [c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4 for c in (r, g, b)]
    xyz = [sum(k * c for k, c in zip(row, lin)) / n for row, n in zip(
        ((0.4124, 0.3576, 0.1805), (0.2126, 0.7152, 0.0722), (0.0193, 0.1192, 0.9505)),
        (0.95047, 1.0, 1.08883))]
    f = [v ** (1 / 3) if v > 0.008856 else 7.787 * v + 16 / 116 for v in xyz]
    return 116 * f[1] - 16, 500 * (f[0] - f[1]), 200 * (f[1] - f[2])


def distance(a, b):
    return sum((p - q) ** 2 for p, q in zip(lab(a), lab(b))) ** 0.5


def all_moves(fixture):
    with open(fixture) as f:
        return list(range(len(json.load(f)["moves"]) + 1))


def check_drawing(browser, tools, fixtures, scratch, failures):
    """Coordinates, legal marks clear of digits, legend, transitions, big cells, seat colours."""
    eight, squares, bombs = (fixtures[k] for k in ("eight", "squares", "bombs"))
    pages = {name: view(tools, path, scratch, name + "-drawn") for name, path in
             (("eight", eight), ("squares", squares), ("bombs", bombs))}
    pages["big"] = embed(pages["eight"], "record", big_record(),
                         os.path.join(scratch, "big-drawn.html"))
    cases = (("eight", eight), ("squares", squares), ("bombs", bombs), ("big", None))
    with concurrent.futures.ThreadPoolExecutor(len(cases)) as pool:
        found = pool.map(lambda c: probe(browser, pages[c[0]],
                                         {"moves": all_moves(c[1]) if c[1] else [0]}), cases)
        seen = dict(zip((name for name, _ in cases), found))
    # Coordinates: every column and row on small boards, every fifth on long sides.
    for name, xs, ys in (("eight", range(10), range(10)), ("squares", range(6), range(6)),
                         ("bombs", range(9), range(8)), ("big", range(0, 50, 5), range(0, 50, 5))):
        want = {"x": [str(v) for v in xs], "y": [str(v) for v in ys]}
        failures.check(seen[name].get("coords") == want,
                       f"{name}: coordinates {seen[name].get('coords')}, wanted {want}")
        failures.check(not seen[name].get("misplaced", ["none measured"]),
                       f"{name}: labels beside other cells: {seen[name].get('misplaced')}")
    # Legal marks never cover a stone's digit, and override moves were drawn at all.
    for name in ("eight", "squares", "bombs"):
        moves = seen[name].get("moves", [])
        bad = [m["n"] for m in moves if m["overlaps"]]
        failures.check(moves and not bad, f"{name}: legal marks over digits after moves {bad}")
        failures.check(sum(m["over"] for m in moves) > 0, f"{name}: no override move was marked")
    # The legend names each special square of the map and the marks.
    for name, kinds in (("squares", {"choice", "inversion", "bonus", "expansion", "legal",
                                     "legal-override", "last", "turned", "blast", "transition"}),
                        ("eight", {"legal", "legal-override", "last", "turned", "blast"}),
                        ("big", {"legal", "last", "turned"})):
        got = set(seen[name].get("legend", []))
        failures.check(got == kinds, f"{name}: legend {sorted(got)}, wanted {sorted(kinds)}")
    # Transitions: all of a few; of many, none at the start, only those of the move shown
    # (some moves follow one), and all of them once asked for.
    for name, total, shown_first in (("bombs", 5, True), ("squares", 22, False)):
        s = seen[name]
        first = s["moves"][0]["transitions"]
        failures.check(s.get("transitionsTotal") == total and s.get("defaultAll") == shown_first,
                       f"{name}: {s.get('transitionsTotal')} transitions, "
                       f"all shown: {s.get('defaultAll')}")
        if not shown_first:
            per_move = [m["transitions"] for m in s["moves"]]
            failures.check(first == 0 and 0 < max(per_move) <= 8,
                           f"{name}: transitions drawn per move {per_move}")
            failures.check(s.get("toggledTransitions") == total,
                           f"{name}: {s.get('toggledTransitions')} drawn when all are asked for")
    # Eight seats: pairwise distinct colours, a digit that stands out, the seat's own digit.
    colours = seen["eight"].get("colours", [])
    close = [(a + 1, b + 1, round(distance(colours[a][0], colours[b][0])))
             for a in range(len(colours)) for b in range(a + 1, len(colours))
             if distance(colours[a][0], colours[b][0]) < 30]
    failures.check(len(colours) == 8 and not close, f"seat colours too close: {close}")
    faint = [k + 1 for k, (fill, digit) in enumerate(colours) if distance(fill, digit) < 50]
    failures.check(not faint, f"digits hard to read on the stones of seats {faint}")
    wrong = {(c, d) for m in seen["eight"].get("moves", []) for c, d in m["seatDigits"]
             if c != f"stone s{d}"}
    failures.check(not wrong, f"stones whose digit is not their seat: {sorted(wrong)[:5]}")
    # A 50 × 50 board at 1280 pixels: cells of at least 12 pixels, larger when zoomed.
    big = seen["big"]
    failures.check(big.get("cellPx", 0) >= 12 and big.get("zoomedCellPx", 0) > big["cellPx"],
                   f"50 x 50 cells of {big.get('cellPx')} px, zoomed {big.get('zoomedCellPx')} px")
    return seen


def check_move_kinds(fixture, rows, failures):
    """The move list numbers moves from 0 and names what each special move did, as a replay
    of the record in this test finds it."""
    with open(fixture) as f:
        record = json.load(f)
    tokens = record["map"]["text"].split()
    width, height = int(tokens[5]), int(tokens[4])
    cells = tokens[6:6 + width * height]
    want = []
    for m in record["moves"]:
        before = cells[m["y"] * width + m["x"]]
        word = ("bomb" if m["phase"] == "bomb" else
                {"i": "inversion", "c": "choice", "b": "bonus", "x": "override"}.get(before) or
                ("override" if before in "12345678" else ""))
        want.append((str(m["n"]), word))
        for x, y, ch in m["changes"]:
            cells[y * width + x] = ch
    got = [(number, kind) for number, kind in rows[1:]]
    mismatched = [(w, g) for w, g in zip(want, got) if w[0] != g[0] or w[1] not in g[1]
                  or (not w[1] and g[1])]
    failures.check(len(got) == len(want) and not mismatched,
                   f"move list (number, kind) wanted / shown: {mismatched[:5]}")
    words = {w for _, w in want}
    failures.check({"inversion", "choice", "bonus", "override", "bomb"} <= words,
                   f"the fixture lacks some kinds of move: {sorted(words)}")


PAYLOAD = '<img src=x onerror="window.__pwned=1">'


def poisoned(value, path=(), keep=(("format",), ("map", "text"))):
    """Every string of a record replaced by markup, but those at the paths kept."""
    if isinstance(value, dict):
        return {k: poisoned(v, path + (k,), keep) for k, v in value.items()}
    if isinstance(value, list):
        return [poisoned(v, path, keep) for v in value]
    if isinstance(value, str) and path not in keep:
        return PAYLOAD
    return value


def hostile_report(bots=2000):
    """Report data with markup in every field, a bot named __proto__, a rank of 2^32 - 1,
    seat numbers out of range, a link to script, and thousands of bots."""
    bot = {"name": PAYLOAD, "elo": 1.5, "elo_low": PAYLOAD, "elo_high": 3, "matches": PAYLOAD,
           "points": PAYLOAD, "wins": PAYLOAD, "draws": 0, "losses": 0, "timeouts": PAYLOAD,
           "places": {"4294967295": 1, "1": PAYLOAD, "__proto__": 3}}
    many = [dict(bot, name=f"bot {k}", elo=float(k)) for k in range(bots)]
    seats = [{"seat": 1, "bot": PAYLOAD, "place": PAYLOAD, "score": PAYLOAD},
             {"seat": 4294967295, "bot": "__proto__", "place": 4294967295, "score": 1},
             {"seat": 2, "bot": "__proto__", "place": 1, "score": 1}]
    match = {"id": PAYLOAD, "page": "javascript:window.__pwned=1", "map": PAYLOAD, "end": "final",
             "moves": PAYLOAD, "consistent": PAYLOAD, "seats": seats,
             "disqualifications": [{"seat": PAYLOAD, "at_move": PAYLOAD, "reason": PAYLOAD,
                                    "detail": PAYLOAD}]}
    return {"report": {"format": "reversi-report-1", "records": PAYLOAD, "dir": PAYLOAD,
                       "ended": {PAYLOAD: PAYLOAD}, "warnings": [PAYLOAD],
                       "skipped": [{"file": PAYLOAD, "problem": PAYLOAD}],
                       "duel": {"bot": PAYLOAD, "opponent": PAYLOAD, "wins": PAYLOAD,
                                "sprt": {"verdict": PAYLOAD}},
                       "bots": [bot, dict(bot, name="__proto__")] + many},
            "matches": [match, dict(match, page="report-matches/m0.html")]}


def check_injection(browser, tools, fixture, report_page, prototype, scratch, failures):
    """No record or report field runs script: each page is drawn (or refuses the record) with
    the markup as text; a case per page and kind of record."""
    with open(fixture) as f:
        record = json.load(f)
    drawn = poisoned(record, keep=(("format",), ("map", "text"), ("moves", "changes")))
    drawn["result"].update(ranks=[PAYLOAD, 4294967295, -1], scores=[PAYLOAD, {"a": PAYLOAD}])
    drawn["seats"][1]["bot"] = "__proto__"
    drawn["disqualifications"] = [{"seat": 2, "at_move": 4294967295, "reason": PAYLOAD,
                                   "detail": PAYLOAD}]
    # The arena's reader refuses such records; the pages must hold on their own all the same.
    template = view(tools, fixture, scratch, "template")
    pages = {name: embed(template, "record", body, os.path.join(scratch, name + ".html"))
             for name, body in (("hostile", drawn), ("hostile-refused", poisoned(record)))}
    pages["report"] = embed(report_page, "report", hostile_report(),
                            os.path.join(scratch, "hostile-report.html"))
    cases = (("hostile", None, 5), ("hostile-refused", "true", 1), ("report", None, 20))
    with concurrent.futures.ThreadPoolExecutor(len(cases)) as pool:
        found = list(pool.map(lambda c: probe(browser, pages[c[0]], {"moves": [0, 1, 2]}), cases))
    for (name, error, literal), seen in zip(cases, found):
        failures.check(seen.get("pwned") is None and seen.get("javascriptLinks") == 0,
                       f"{name}: script ran ({seen.get('pwned')}, "
                       f"{seen.get('javascriptLinks')} links)")
        failures.check(seen.get("error") == error, f"{name}: error page {seen.get('error')}")
        failures.check(seen.get("text", "").count("<img src=x onerror=") >= literal,
                       f"{name}: the markup is not shown as text")
        failures.check(seen.get("prototype") == prototype, f"{name}: Object.prototype was changed")


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
        named = {"bombs": fixtures[0], "eight": fixtures[1],
                 "squares": os.path.join(tools.fixtures, "torus-squares.json")}
        # Each check writes its own files and starts its own browsers: they run side by side.
        with concurrent.futures.ThreadPoolExecutor(5) as pool:
            runs = [pool.submit(check_record, browser, tools, f, scratch, failures)
                    for f in fixtures]
            runs.append(pool.submit(check_broken, browser, tools, fixtures[0], scratch, failures))
            report = pool.submit(check_report, browser, tools, fixtures, scratch, failures)
            drawing = pool.submit(check_drawing, browser, tools, named, scratch, failures)
            for run in runs:
                run.result()
            report_page, seen = report.result(), drawing.result()
        check_move_kinds(named["squares"], seen["squares"].get("kinds", []), failures)
        check_injection(browser, tools, named["squares"], report_page,
                        seen["squares"]["prototype"], scratch, failures)
    for f in failures:
        print("FAIL:", f)
    print("ok" if not failures else f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
