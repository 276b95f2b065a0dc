// The match page: draws a match record's board, move list, stone chart and result, and steps
// through the moves. Drawing functions take plain data and return SVG or HTML text; the
// controller keeps the current move number and updates only what a step changes.
"use strict";

// Eight stone colours that stay apart for the common colour-vision deficiencies, each with a
// digit colour that contrasts with it.
const STONE = [null,
    ["#0072b2", "#fff"], ["#e69f00", "#000"], ["#009e73", "#fff"], ["#cc79a7", "#000"],
    ["#56b4e9", "#000"], ["#d55e00", "#fff"], ["#f0e442", "#000"], ["#000000", "#fff"]];
const MARGIN = 1.5;
const SPECIAL_NAMES = {c: "choice", i: "inversion", b: "bonus", x: "expansion"};

const esc = (s) => String(s).replace(/[&<>"']/g,
    (c) => ({"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&#39;"}[c]));

// --- Drawing: pure functions from data to SVG text -------------------------------------

// The square of one cell with its special mark; a hole draws nothing.
function squareSvg(x, y, ch) {
    if (ch === Rules.HOLE) return "";
    const special = SPECIAL_NAMES[ch];
    let s = `<rect class="sq${special ? " " + special : ""}" x="${x}" y="${y}" width="1" height="1"/>`;
    const cx = x + 0.5, cy = y + 0.5;
    if (ch === "c") {
        s += `<path class="mark" d="M${cx} ${y + 0.15}L${x + 0.85} ${cy}L${cx} ${y + 0.85}L${x + 0.15} ${cy}Z"/>`;
    } else if (ch === "i") {
        s += `<path class="mark" d="M${x + 0.75} ${cy}A0.25 0.25 0 1 1 ${cx} ${y + 0.25}"/>` +
             `<path class="mark fill" d="M${cx} ${y + 0.13}L${x + 0.64} ${y + 0.25}L${cx} ${y + 0.37}Z"/>`;
    } else if (ch === "b") {
        const pts = [];
        for (let k = 0; k < 10; ++k) {
            const r = k % 2 ? 0.14 : 0.34, a = Math.PI * k / 5 - Math.PI / 2;
            pts.push(`${(cx + r * Math.cos(a)).toFixed(3)},${(cy + r * Math.sin(a)).toFixed(3)}`);
        }
        s += `<polygon class="mark fill" points="${pts.join(" ")}"/>`;
    } else if (ch === "x") {
        s += `<path class="mark" d="M${x + 0.25} ${y + 0.25}L${x + 0.75} ${y + 0.75}M${x + 0.75} ${y + 0.25}L${x + 0.25} ${y + 0.75}` +
             `M${cx} ${y + 0.15}L${cx} ${y + 0.85}M${x + 0.15} ${cy}L${x + 0.85} ${cy}"/>`;
    }
    return s;
}

// The stone place of a cell: a circle and a digit, both shown only when the cell holds a stone
// (class "s1" to "s8"; "s0" hides them). A step changes the class and the digit, never nodes.
function stoneSvg(x, y, ch) {
    const seat = Rules.isColour(ch) ? ch : "0";
    return `<g class="stone s${seat}"><circle cx="${x + 0.5}" cy="${y + 0.5}" r="0.42"/>` +
           `<text x="${x + 0.5}" y="${y + 0.5}">${Rules.isColour(ch) ? ch : ""}</text></g>`;
}

// The stone colours as style rules, from the one table above.
function stoneStyle() {
    return STONE.map((c, k) => (c ? `#board .s${k} circle{fill:${c[0]}}#board .s${k} text{fill:${c[1]}}` : ""))
        .join("") + "#board .s0{display:none}";
}

// Which drawing a cell's square has: a hole draws none, special squares their mark.
const squareKind = (ch) => (ch === Rules.HOLE || SPECIAL_NAMES[ch] ? ch : "0");

// The point where cell (x, y) meets its side d, and a control point beyond it.
function edgePoint(x, y, d, reach) {
    return [x + 0.5 + 0.5 * Rules.DX[d] + reach * Rules.DX[d], y + 0.5 + 0.5 * Rules.DY[d] + reach * Rules.DY[d]];
}

// Every transition as a curve that leaves both edge points outward.
function transitionsSvg(map) {
    return map.transitions.map((t, k) => {
        const a = edgePoint(t.x1, t.y1, t.d1, 0), b = edgePoint(t.x2, t.y2, t.d2, 0);
        const dist = Math.hypot(a[0] - b[0], a[1] - b[1]);
        const reach = Math.min(MARGIN - 0.1, 0.4 + dist / 6);
        const ca = edgePoint(t.x1, t.y1, t.d1, reach), cb = edgePoint(t.x2, t.y2, t.d2, reach);
        const d = `M${a[0]} ${a[1]}C${ca[0]} ${ca[1]} ${cb[0]} ${cb[1]} ${b[0]} ${b[1]}`;
        const label = `transition (${t.x1}, ${t.y1}) side ${t.d1} to (${t.x2}, ${t.y2}) side ${t.d2}`;
        return `<g class="transition" data-transition="${k}"><title>${label}</title>` +
               `<path class="hit" d="${d}"/><path class="line" d="${d}"/>` +
               `<circle class="end" cx="${a[0]}" cy="${a[1]}" r="0.16"/>` +
               `<circle class="end" cx="${b[0]}" cy="${b[1]}" r="0.16"/>` +
               `<rect class="endcell" x="${t.x1}" y="${t.y1}" width="1" height="1"/>` +
               `<rect class="endcell" x="${t.x2}" y="${t.y2}" width="1" height="1"/></g>`;
    }).join("");
}

// A path of small circles, one per cell: one element however many cells it marks.
function dotsPath(cells, w, r) {
    return cells.map((i) => {
        const x = (i % w) + 0.5 - r, y = Math.floor(i / w) + 0.5;
        return `M${x.toFixed(2)} ${y}a${r} ${r} 0 1 0 ${2 * r} 0a${r} ${r} 0 1 0 ${-2 * r} 0`;
    }).join("");
}

// The marks of one position: legal moves, the last move, the stones it turned, a bomb's blast.
function marksSvg(game, n, legal, seat) {
    const w = game.map.width;
    let s = "";
    if (legal.length) {
        s += `<path class="legal" fill="${seat ? STONE[seat][0] : "#000"}" d="${dotsPath(legal, w, 0.13)}"/>`;
    }
    if (n > 0) {
        const m = game.moves[n - 1];
        const hit = m.changes.filter((c) => m.bomb || c.i !== m.index).map((c) => c.i);
        if (m.bomb) {
            const squares = hit.map((i) => `M${(i % w) + 0.04} ${Math.floor(i / w) + 0.04}h0.92v0.92h-0.92z`);
            s += `<path class="blast" d="${squares.join("")}"/>`;
        } else if (hit.length) {
            s += `<path class="turned" d="${dotsPath(hit, w, 0.46)}"/>`;
        }
        s += `<rect class="last" x="${m.x + 0.06}" y="${m.y + 0.06}" width="0.88" height="0.88"/>`;
    }
    return s;
}

// The whole board for the cells of one position.
function boardSvg(game, cells) {
    const {width: w, height: h} = game.map;
    let squares = "", stones = "";
    for (let i = 0; i < w * h; ++i) {
        const x = i % w, y = Math.floor(i / w);
        squares += `<g class="cell" data-x="${x}" data-y="${y}" data-cell="${cells[i]}">${squareSvg(x, y, cells[i])}</g>`;
        stones += stoneSvg(x, y, cells[i]);
    }
    return `<g id="layer-board">${squares}</g><g id="layer-transitions">${transitionsSvg(game.map)}</g>` +
           `<g id="layer-stones">${stones}</g><g id="layer-marks"></g>`;
}

// One polyline per seat of its stones after every move, in chart units (move, stones).
function chartSvg(game) {
    const n = game.map.players, last = game.moves.length;
    let top = 1;
    for (const st of game.states) for (let p = 1; p <= n; ++p) top = Math.max(top, st.stones[p]);
    let s = `<rect class="frame" x="0" y="0" width="${Math.max(last, 1)}" height="${top}"/>`;
    for (let p = 1; p <= n; ++p) {
        const pts = game.states.map((st, k) => `${k},${top - st.stones[p]}`).join(" ");
        s += `<polyline class="series" data-seat="${p}" stroke="${STONE[p][0]}" points="${pts}"/>`;
    }
    s += `<line id="chart-cursor" x1="0" x2="0" y1="0" y2="${top}"/>`;
    return {svg: s, top};
}

function formatMs(v) {
    return Number.isFinite(v) ? `${v}` : "";
}

function choiceText(m) {
    if (m.bomb) return "bomb throw";
    if (m.choice === 20) return "bomb";
    if (m.choice === 21) return "override";
    return m.choice ? `player ${m.choice}` : "";
}

// The move list: one row per move, with each disqualification before the move that followed it.
function moveListHtml(game) {
    const rows = ['<tr><th>move</th><th>seat</th><th>square</th><th>choice</th><th>ms used</th><th>ms left</th></tr>',
                  '<tr class="move" data-n="0"><td>0</td><td colspan="5">start</td></tr>'];
    const dq = (k) => game.disqualifications.filter((d) => d.atMove === k).map((d) =>
        `<tr class="dq"><td></td><td>${esc(d.seat)}</td><td colspan="4">disqualified: ${esc(d.reason)}` +
        `${d.detail ? ` <em>(${esc(d.detail)})</em>` : ""}</td></tr>`).join("");
    game.moves.forEach((m, k) => {
        rows.push(dq(k));
        rows.push(`<tr class="move" data-n="${m.n}"><td>${m.n}</td><td><span class="swatch" style="background:${STONE[m.seat][0]}"></span>${m.seat}</td>` +
                  `<td>${m.x}, ${m.y}</td><td>${choiceText(m)}</td><td>${formatMs(m.timeMs)}</td><td>${formatMs(m.leftMs)}</td></tr>`);
    });
    rows.push(game.disqualifications.filter((d) => d.atMove >= game.moves.length).length
        ? dq(game.moves.length) : "");
    return rows.join("");
}

// The seats with their bots, stones and stocks now, and the final result.
function seatsHtml(game, n) {
    const r = game.record.result || {};
    const st = game.states[n];
    let s = "<tr><th>seat</th><th>bot</th><th>stones</th><th>overrides</th><th>bombs</th><th>score</th><th>place</th></tr>";
    for (let p = 1; p <= game.map.players; ++p) {
        const seat = game.record.seats.find((x) => x && x.seat === p) || {};
        const score = Array.isArray(r.scores) ? r.scores[p - 1] : "";
        const place = Array.isArray(r.ranks) ? r.ranks[p - 1] : "";
        const out = game.disqualifications.some((d) => d.seat === p && d.atMove <= n);
        s += `<tr class="${out ? "out" : ""}"><td><span class="swatch" style="background:${STONE[p][0]}"></span>${p}</td>` +
             `<td>${esc(seat.bot || "")}${seat.untimed ? " (untimed)" : ""}</td><td>${st.stones[p]}</td>` +
             `<td>${st.overrides[p]}</td><td>${st.bombs[p]}</td><td>${esc(score == null ? "" : score)}</td><td>${esc(place == null ? "" : place)}</td></tr>`;
    }
    return s;
}

// --- Controller -------------------------------------------------------------------------

const Viewer = {
    game: null, cells: null, n: 0, timer: null,
    els: {}, cellEls: [], stoneEls: [],

    show(game) {
        this.game = game;
        const $ = (id) => document.getElementById(id);
        this.els = {board: $("board"), slider: $("slider"), counter: $("counter"), status: $("status"),
                    seats: $("seats"), movelist: $("movelist"), chart: $("chart"), play: $("playpause"),
                    speed: $("speed"), hover: $("hover")};
        const {width: w, height: h} = game.map;
        const r = game.record;
        document.title = `Match ${r.id === undefined ? "" : r.id} on ${r.map.file || "a map"}`;
        $("title").textContent = document.title;
        const seats = r.seats.map((s) => s && s.bot).filter(Boolean).join(" vs ");
        const res = r.result || {};
        const end = res.end ? `, ended: ${res.end}${res.reason ? ` (${res.reason})` : ""}` : "";
        $("summary").textContent = `${seats} · ${w} × ${h} · ${game.moves.length} moves${end}` +
            (r.consistent === false ? " · the replay disagrees with the server's scores" : "");
        this.cells = game.start.slice();
        const b = this.els.board;
        b.setAttribute("viewBox", `${-MARGIN} ${-MARGIN} ${w + 2 * MARGIN} ${h + 2 * MARGIN}`);
        b.innerHTML = boardSvg(game, this.cells);
        this.cellEls = Array.from(b.querySelectorAll("#layer-board > g"));
        this.stoneEls = Array.from(b.querySelectorAll("#layer-stones > g"));
        if (!document.getElementById("stone-style")) {
            const style = document.createElement("style");
            style.id = "stone-style";
            style.textContent = stoneStyle();
            document.head.appendChild(style);
        }
        this.marks = b.querySelector("#layer-marks");
        const chart = chartSvg(game);
        this.els.chart.setAttribute("viewBox", `0 0 ${Math.max(game.moves.length, 1)} ${chart.top}`);
        this.els.chart.setAttribute("preserveAspectRatio", "none");
        this.els.chart.innerHTML = chart.svg;
        this.cursor = this.els.chart.querySelector("#chart-cursor");
        this.els.movelist.innerHTML = moveListHtml(game);
        this.rows = Array.from(this.els.movelist.querySelectorAll("tr.move"));
        this.els.slider.max = String(game.moves.length);
        this.wire();
        $("viewer").hidden = false;
        this.go(this.hashMove(), true);
    },

    hashMove() {
        const m = /(?:^#|&)move=(\d+)/.exec(location.hash);
        return m ? Number(m[1]) : 0;
    },

    wire() {
        if (this.wired) return;
        this.wired = true;
        const e = this.els;
        // A clicked button gives up the focus, so that space keeps meaning play / pause.
        const on = (id, f) => document.getElementById(id).addEventListener("click", (ev) => {
            ev.currentTarget.blur();
            f();
        });
        on("first", () => this.go(0));
        on("prev", () => this.go(this.n - 1));
        on("next", () => this.go(this.n + 1));
        on("last", () => this.go(this.game.moves.length));
        on("playpause", () => this.toggle());
        e.slider.addEventListener("input", () => this.go(Number(e.slider.value)));
        e.speed.addEventListener("change", () => { if (this.timer) { this.toggle(); this.toggle(); } });
        e.movelist.addEventListener("click", (ev) => {
            const row = ev.target.closest("tr.move");
            if (row) this.go(Number(row.dataset.n));
        });
        document.addEventListener("keydown", (ev) => {
            if (ev.target.tagName === "INPUT" || ev.target.tagName === "SELECT") return;
            const keys = {ArrowLeft: () => this.go(this.n - 1), ArrowRight: () => this.go(this.n + 1),
                          Home: () => this.go(0), End: () => this.go(this.game.moves.length),
                          " ": () => this.toggle()};
            if (keys[ev.key]) { ev.preventDefault(); keys[ev.key](); }
        });
        window.addEventListener("hashchange", () => this.go(this.hashMove()));
        e.board.addEventListener("mousemove", (ev) => {
            const g = ev.target.closest("g.cell");
            const t = ev.target.closest("g.transition");
            e.hover.textContent = t ? t.querySelector("title").textContent
                : g ? `(${g.dataset.x}, ${g.dataset.y}): ${this.describe(g.dataset.cell)}` : "\u00a0";
        });
    },

    // Scrolls the move list just enough to show the row; cheaper than scrollIntoView, which
    // looks at every scrolling ancestor.
    reveal(row) {
        const frame = this.els.movelist.parentElement;
        const top = row.offsetTop, bottom = top + row.offsetHeight;
        if (top < frame.scrollTop) frame.scrollTop = top;
        else if (bottom > frame.scrollTop + frame.clientHeight) frame.scrollTop = bottom - frame.clientHeight;
    },

    describe(ch) {
        if (Rules.isColour(ch)) return `stone of seat ${ch}`;
        return SPECIAL_NAMES[ch] || (ch === "0" ? "empty" : "hole");
    },

    toggle() {
        if (this.timer) {
            clearInterval(this.timer);
            this.timer = null;
        } else {
            if (this.n >= this.game.moves.length) this.go(0);
            this.timer = setInterval(() => {
                if (this.n >= this.game.moves.length) this.toggle();
                else this.go(this.n + 1);
            }, Number(this.els.speed.value));
        }
        this.els.play.innerHTML = this.timer ? "<b>||</b>" : "&#x25B6;";
    },

    // Shows the position after n moves; only the cells that differ are drawn again.
    go(n, first) {
        const game = this.game;
        n = Math.max(0, Math.min(game.moves.length, Number.isFinite(n) ? n : 0));
        if (n === this.n && !first) return;
        const from = this.n;
        const touched = new Set();
        for (let k = Math.min(from, n); k < Math.max(from, n); ++k) {
            for (const c of game.moves[k].changes) touched.add(c.i);
        }
        Rules.seek(game, this.cells, from, n);
        const w = game.map.width;
        for (const i of touched) {
            const x = i % w, y = Math.floor(i / w), ch = this.cells[i];
            const el = this.cellEls[i];
            if (el.getAttribute("data-cell") === ch) continue;
            if (squareKind(el.getAttribute("data-cell")) !== squareKind(ch)) el.innerHTML = squareSvg(x, y, ch);
            el.setAttribute("data-cell", ch);
            const stone = this.stoneEls[i];
            stone.setAttribute("class", `stone s${Rules.isColour(ch) ? ch : "0"}`);
            stone.lastChild.textContent = Rules.isColour(ch) ? ch : "";
        }
        this.n = n;
        const next = game.moves[n];
        // In the bombing phase every cell that is not a hole is a target: the board says so as
        // a whole instead of marking each cell.
        const legal = next && !next.bomb ? Rules.legalMoves(game, this.cells, n, next.seat, false) : [];
        const targets = next && next.bomb && game.states[n].bombs[next.seat] > 0;
        this.els.board.classList.toggle("bombing", Boolean(targets));
        this.marks.innerHTML = marksSvg(game, n, legal, next && next.seat);
        this.els.board.setAttribute("data-move", String(n));
        this.els.slider.value = String(n);
        this.els.counter.textContent = `${n} / ${game.moves.length}`;
        this.els.status.textContent = next
            ? (next.bomb ? `Seat ${next.seat} to bomb: any cell that is not a hole`
                         : `Seat ${next.seat} to move: ${legal.length} legal moves`)
            : `End of the match${game.record.result && game.record.result.end ? ` (${game.record.result.end})` : ""}`;
        this.els.seats.innerHTML = seatsHtml(game, n);
        this.cursor.setAttribute("x1", n);
        this.cursor.setAttribute("x2", n);
        if (this.row) this.row.classList.remove("current");
        this.row = this.rows[n];
        this.row.classList.add("current");
        this.reveal(this.row);
        // Browsers limit how often a page may rewrite its address, so playing and holding an
        // arrow key update the fragment once the steps pause.
        clearTimeout(this.hashTimer);
        this.hashTimer = setTimeout(() => {
            if (this.hashMove() === this.n && location.hash) return;
            try { history.replaceState(null, "", `#move=${this.n}`); } catch (e) { /* sandboxed */ }
        }, first ? 0 : 150);
    },
};

function showError(message) {
    document.getElementById("viewer").hidden = true;
    document.getElementById("error").hidden = false;
    document.getElementById("error-text").textContent = message;
    document.getElementById("open").hidden = false;
    document.body.setAttribute("data-error", "true");
    document.title = "Match record cannot be shown";
}

function start(text) {
    try {
        const game = Rules.parse(text);
        document.getElementById("error").hidden = true;
        document.getElementById("open").hidden = true;
        Viewer.show(game);
    } catch (e) {
        if (!(e instanceof Rules.RecordError)) console.error(e);
        showError(e instanceof Rules.RecordError ? `The record cannot be read: ${e.message}.`
                                                  : `The page failed while drawing the record: ${e.message}`);
    }
}

document.getElementById("file").addEventListener("change", (ev) => {
    const f = ev.target.files[0];
    if (f) f.text().then((t) => { Viewer.n = 0; start(t); });
});

// Opened with #bench, the page steps through every move once and writes the time of each
// step (drawing and layout) into <pre id="bench"> as JSON, for bench/match-page.
function bench() {
    const board = document.getElementById("board");
    const steps = [];
    Viewer.go(0);
    // The page's first layout happens once on loading, not in a step.
    board.getBoundingClientRect();
    for (let n = 1; n <= Viewer.game.moves.length; ++n) {
        const t0 = performance.now();
        Viewer.go(n);
        board.getBoundingClientRect();
        steps.push(performance.now() - t0);
    }
    const t0 = performance.now();
    Viewer.go(0);
    board.getBoundingClientRect();
    const rewind = performance.now() - t0;
    // The legal moves alone, position by position, as the part of a step the rules take.
    const game = Viewer.game, cells = game.start.slice(), legal = [];
    for (let n = 0; n < game.moves.length; ++n) {
        const t = performance.now();
        Rules.legalMoves(game, cells, n, game.moves[n].seat, game.moves[n].bomb);
        legal.push(performance.now() - t);
        Rules.seek(game, cells, n, n + 1);
    }
    const at = (list, q) => list.slice().sort((a, b) => a - b)[Math.min(list.length - 1, Math.floor(q * list.length))];
    const slowest = steps.indexOf(Math.max(...steps)) + 1;
    const out = document.createElement("pre");
    out.id = "bench";
    out.textContent = JSON.stringify({steps: steps.length, median_ms: at(steps, 0.5), p95_ms: at(steps, 0.95), p99_ms: at(steps, 0.99),
                                      max_ms: at(steps, 1), rewind_ms: rewind, slowest_move: slowest,
                                      slowest_changes: game.moves[slowest - 1].changes.length,
                                      legal_median_ms: at(legal, 0.5), legal_p95_ms: at(legal, 0.95)});
    document.body.appendChild(out);
}

{
    const measure = /(?:^#|&)bench\b/.test(location.hash);
    const text = document.getElementById("record").textContent;
    if (text.trim().length > 0) start(text);
    if (measure && Viewer.game) bench();
}
