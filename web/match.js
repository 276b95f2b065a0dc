// The match page: draws a match record's board, move list, stone chart and result, and steps
// through the moves.
//
// The drawing functions take plain data (the game of rules.js, a position number) and return
// either SVG text built only from numbers and the validated map characters, or plain rows that
// renderTable() turns into elements with every value set as text. Nothing a record states as a
// string is ever parsed as markup, so another page can reuse these functions with data it got
// from elsewhere. The controller keeps the current move number and updates only what a step
// changes.
/* global Rules */
"use strict";

// Eight stone colours whose pairwise distance (CIE76) is at least 49, each with a digit colour
// that contrasts with it; every stone also carries its seat's digit and a dark rim.
const STONE = [null,
    ["#1f5fd0", "#fff"], ["#f08c00", "#000"], ["#118c4f", "#fff"], ["#e0409a", "#000"],
    ["#f5e63c", "#000"], ["#000000", "#fff"], ["#ffffff", "#000"], ["#7a3b10", "#fff"]];
const SPECIAL_NAMES = new Map([["c", "choice"], ["i", "inversion"], ["b", "bonus"], ["x", "expansion"]]);
// Above this many transitions the board draws only those of the move shown, unless asked.
const TRANSITIONS_SHOWN = 16;
// A side longer than this labels every fifth row and column, in a larger type.
const LONG_SIDE = 26;
// The board's height on screen is at least this many pixels per cell before zooming.
const MIN_CELL_PX = 13;
const ZOOMS = [1, 1.5, 2, 3, 4];
// Transitions whose ends lie further apart than this (in cells) are drawn as two stubs.
const FAR_TRANSITION = 3;
const STUB = 0.8;

// --- Drawing: pure functions from data to SVG text or plain rows ------------------------

// Where the board sits in its drawing: room around it for transitions and for coordinates.
function boardLayout(map) {
    const long = Math.max(map.width, map.height) > LONG_SIDE;
    const margin = map.transitions.length ? 1.5 : 0.3;
    const band = long ? 2.2 : 0.9;
    const left = -(margin + band), top = -(margin + band);
    return {margin, band, step: long ? 5 : 1, long, left, top,
            width: map.width + 2 * margin + band, height: map.height + 2 * margin + band};
}

// The square of one cell with its special mark; a hole draws nothing.
function squareSvg(x, y, ch) {
    if (ch === Rules.HOLE) return "";
    const special = SPECIAL_NAMES.get(ch);
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

// The stone colours as style rules, from the one table above: stones on the board and the
// swatches beside seats in the lists.
function stoneStyle() {
    return STONE.map((c, k) => (c ? `.cells .s${k} circle{fill:${c[0]}}.cells .s${k} text{fill:${c[1]}}` +
        `.swatch.s${k}{background:${c[0]}}` : "")).join("") + ".cells .s0{display:none}";
}

// Adds the stone colours to the page once. A sheet built by script is not inline style, so
// a Content-Security-Policy without 'unsafe-inline' (the league site's) lets it apply; a
// browser without constructed sheets gets a <style> element, as a page from disk allows.
let stoneStyleAdded = false;
function addStoneStyle() {
    if (stoneStyleAdded) return;
    stoneStyleAdded = true;
    if (Array.isArray(document.adoptedStyleSheets) && typeof CSSStyleSheet.prototype.replaceSync === "function") {
        const sheet = new CSSStyleSheet();
        sheet.replaceSync(stoneStyle());
        document.adoptedStyleSheets = [...document.adoptedStyleSheets, sheet];
        return;
    }
    const style = document.createElement("style");
    style.textContent = stoneStyle();
    document.head.appendChild(style);
}

// A map's name for titles: its file's name without folders or ".map" (a record keeps the
// path the match was played from, which is the organiser's, not the reader's).
function mapName(map) {
    if (typeof map.file !== "string" || map.file === "") return "a map";
    return map.file.replace(/^.*[\\/]/, "").replace(/\.map$/, "") || "a map";
}

// Which drawing a cell's square has: a hole draws none, special squares their mark.
const squareKind = (ch) => (ch === Rules.HOLE || SPECIAL_NAMES.has(ch) ? ch : "0");

// The point where cell (x, y) meets its side d, and a control point beyond it.
function edgePoint(x, y, d, reach) {
    return [x + 0.5 + 0.5 * Rules.DX[d] + reach * Rules.DX[d], y + 0.5 + 0.5 * Rules.DY[d] + reach * Rules.DY[d]];
}

// Every transition, as a curve that leaves both edge points outward when its ends are near,
// else as two stubs, one out of each end (a curve between far ends would cross the board).
// The page shows all of them or only some (class "shown" or "hover").
function transitionsSvg(map, margin) {
    return map.transitions.map((t, k) => {
        const a = edgePoint(t.x1, t.y1, t.d1, 0), b = edgePoint(t.x2, t.y2, t.d2, 0);
        const dist = Math.hypot(a[0] - b[0], a[1] - b[1]);
        let d, ta = a, tb = b;
        if (dist > FAR_TRANSITION) {
            ta = edgePoint(t.x1, t.y1, t.d1, STUB);
            tb = edgePoint(t.x2, t.y2, t.d2, STUB);
            d = `M${a[0]} ${a[1]}L${ta[0]} ${ta[1]}M${b[0]} ${b[1]}L${tb[0]} ${tb[1]}`;
        } else {
            const reach = Math.min(margin - 0.1, 0.4 + dist / 6);
            const ca = edgePoint(t.x1, t.y1, t.d1, reach), cb = edgePoint(t.x2, t.y2, t.d2, reach);
            d = `M${a[0]} ${a[1]}C${ca[0]} ${ca[1]} ${cb[0]} ${cb[1]} ${b[0]} ${b[1]}`;
        }
        const label = `transition (${t.x1}, ${t.y1}) side ${t.d1} to (${t.x2}, ${t.y2}) side ${t.d2}`;
        return `<g class="transition" data-transition="${k}"><title>${label}</title>` +
               `<path class="hit" d="${d}"/><path class="line" d="${d}"/>` +
               `<circle class="end" cx="${ta[0]}" cy="${ta[1]}" r="0.14"/>` +
               `<circle class="end" cx="${tb[0]}" cy="${tb[1]}" r="0.14"/>` +
               `<rect class="endcell" x="${t.x1}" y="${t.y1}" width="1" height="1"/>` +
               `<rect class="endcell" x="${t.x2}" y="${t.y2}" width="1" height="1"/></g>`;
    }).join("");
}

// Column numbers above the board and row numbers left of it, as the move list names cells.
function coordinatesSvg(map, layout) {
    const {step, long, margin, band} = layout;
    const at = -(margin + band / 2);
    // The type's size comes from the style sheet ("coord long"): no inline style, which a
    // page's Content-Security-Policy may refuse.
    const cls = long ? "coord long" : "coord";
    let s = "";
    for (let x = 0; x < map.width; x += step) {
        s += `<text class="${cls}" data-axis="x" x="${x + 0.5}" y="${at}">${x}</text>`;
    }
    for (let y = 0; y < map.height; y += step) {
        s += `<text class="${cls}" data-axis="y" x="${at}" y="${y + 0.5}">${y}</text>`;
    }
    return s;
}

// A path of small circles, one per cell: one element however many cells it marks.
function dotsPath(cells, w, r) {
    return cells.map((i) => {
        const x = (i % w) + 0.5 - r, y = Math.floor(i / w) + 0.5;
        return `M${x.toFixed(2)} ${y}a${r} ${r} 0 1 0 ${2 * r} 0a${r} ${r} 0 1 0 ${-2 * r} 0`;
    }).join("");
}

// A legal move: a dot in the middle of an empty cell, or, where the move needs an override
// stone, a triangle in the cell's top left corner, clear of the digit of the stone there.
function legalSvg(legal, cells, w, seat) {
    const colour = seat ? STONE[seat][0] : "#000", rim = seat ? STONE[seat][1] : "#fff";
    return legal.map((i) => {
        const x = i % w, y = Math.floor(i / w);
        if (Rules.isOccupied(cells[i])) {
            return `<path class="legal over" data-x="${x}" data-y="${y}" fill="${colour}" stroke="${rim}" ` +
                   `d="M${x + 0.03} ${y + 0.03}h0.28l-0.28 0.28z"/>`;
        }
        return `<circle class="legal" data-x="${x}" data-y="${y}" fill="${colour}" stroke="${rim}" cx="${x + 0.5}" cy="${y + 0.5}" r="0.14"/>`;
    }).join("");
}

// The marks of one position: legal moves, the last move, the stones it turned, a bomb's blast.
function marksSvg(game, cells, n, legal, seat) {
    const w = game.map.width;
    let s = legalSvg(legal, cells, w, seat);
    if (n > 0) {
        const m = game.moves[n - 1];
        const hit = m.changes.filter((c) => m.bomb || c.i !== m.index).map((c) => c.i);
        if (m.bomb) {
            const squares = hit.map((i) => `M${(i % w) + 0.04} ${Math.floor(i / w) + 0.04}h0.92v0.92h-0.92z`);
            s = `<path class="blast" d="${squares.join("")}"/>` + s;
        } else if (hit.length) {
            s = `<path class="turned" d="${dotsPath(hit, w, 0.46)}"/>` + s;
        }
        s = `<rect class="last" x="${m.x + 0.06}" y="${m.y + 0.06}" width="0.88" height="0.88"/>` + s;
    }
    return s;
}

// The whole board for the cells of one position.
function boardSvg(game, cells, layout) {
    const {width: w, height: h} = game.map;
    let squares = "", stones = "";
    for (let i = 0; i < w * h; ++i) {
        const x = i % w, y = Math.floor(i / w);
        squares += `<g class="cell" data-x="${x}" data-y="${y}" data-cell="${cells[i]}">${squareSvg(x, y, cells[i])}</g>`;
        stones += stoneSvg(x, y, cells[i]);
    }
    return `<g id="layer-coordinates">${coordinatesSvg(game.map, layout)}</g>` +
           `<g id="layer-board">${squares}</g><g id="layer-transitions">${transitionsSvg(game.map, layout.margin)}</g>` +
           `<g id="layer-stones">${stones}</g><g id="layer-marks"></g>`;
}

// The entries of the legend: the special squares of the map, then the marks the page draws.
function legendEntries(game) {
    const present = new Set(game.map.cells);
    for (const m of game.moves) for (const c of m.changes) present.add(c.now);
    const entries = [];
    for (const [ch, name] of SPECIAL_NAMES) {
        const what = {c: "choice: the mover swaps stones with a seat it picks",
                      i: "inversion: every seat's stones pass to the next seat",
                      b: "bonus: the mover takes a bomb or an override stone",
                      x: "expansion: played with an override stone, or taken inside a line"}[ch];
        if (present.has(ch)) entries.push({kind: name, svg: squareSvg(0, 0, ch), text: what});
    }
    const dot = '<rect class="sq" x="0" y="0" width="1" height="1"/>';
    entries.push({kind: "legal", svg: dot + '<circle class="legal" cx="0.5" cy="0.5" r="0.14" fill="#555"/>',
                  text: "legal move of the seat to move"});
    if (game.map.overrides > 0 || present.has("b")) {
        entries.push({kind: "legal-override", svg: dot + stoneSvg(0, 0, "1") + '<path class="legal over" fill="#555" d="M0.03 0.03h0.28l-0.28 0.28z"/>',
                      text: "legal move with an override stone"});
    }
    entries.push({kind: "last", svg: dot + '<rect class="last" x="0.06" y="0.06" width="0.88" height="0.88"/>',
                  text: "the move just made"});
    entries.push({kind: "turned", svg: dot + `<path class="turned" d="${dotsPath([0], 1, 0.46)}"/>`,
                  text: "a stone it turned"});
    if (game.map.bombs > 0 || present.has("b")) {
        entries.push({kind: "blast", svg: dot + '<path class="blast" d="M0.04 0.04h0.92v0.92h-0.92z"/>',
                      text: "a cell a bomb destroyed"});
    }
    if (game.map.transitions.length) {
        entries.push({kind: "transition", svg: '<path class="legend-line" d="M0.1 0.9C0.1 0.1 0.9 0.9 0.9 0.1"/>',
                      text: "transition: a line that leaves one edge enters at the other end"});
    }
    return entries;
}

// Is a colour "#rrggbb" light enough to vanish on white?
function light(colour) {
    const [r, g, b] = [1, 3, 5].map((k) => parseInt(colour.slice(k, k + 2), 16) / 255);
    return 0.2126 * r + 0.7152 * g + 0.0722 * b > 0.7;
}

// One polyline per seat of its stones after every move, in chart units (move, stones).
function chartSvg(game) {
    const n = game.map.players, last = game.moves.length;
    let top = 1;
    for (const st of game.states) for (let p = 1; p <= n; ++p) top = Math.max(top, st.stones[p]);
    let s = `<rect class="frame" x="0" y="0" width="${Math.max(last, 1)}" height="${top}"/>`;
    for (let p = 1; p <= n; ++p) {
        const pts = game.states.map((st, k) => `${k},${top - st.stones[p]}`).join(" ");
        // A light colour (seat 7's white, seat 5's yellow) gets a dark edge to show on white.
        if (light(STONE[p][0])) s += `<polyline class="series halo" points="${pts}"/>`;
        s += `<polyline class="series" data-seat="${p}" stroke="${STONE[p][0]}" points="${pts}"/>`;
    }
    s += `<line id="chart-cursor" x1="0" x2="0" y1="0" y2="${top}"/>`;
    return {svg: s, top};
}

// What kind of move a move was, by the square it was made on; "" for a plain one.
function moveKind(m) {
    if (m.bomb) return "bomb";
    if (m.before === "i") return "inversion";
    if (m.before === "c") return m.choice === m.seat ? "choice: keeps its stones" : `choice: swaps with seat ${m.choice}`;
    if (m.before === "b") {
        return m.choice === Rules.CHOICE_BOMB ? "bonus: a bomb"
            : m.choice === Rules.CHOICE_OVERRIDE ? "bonus: an override stone" : "bonus";
    }
    if (m.before === "x") return "override on an expansion";
    if (Rules.isColour(m.before)) return `override on seat ${m.before}`;
    return "";
}

// The move list as rows: the start, one per move numbered from 0, and each disqualification
// before the move that followed it. `n` is the position a row shows.
function moveRows(game) {
    const byMove = new Map();
    for (const d of game.disqualifications) {
        if (!byMove.has(d.atMove)) byMove.set(d.atMove, []);
        byMove.get(d.atMove).push(d);
    }
    const dq = (k) => (byMove.get(k) || []).map((d) => ({dq: true, seat: d.seat, reason: d.reason, detail: d.detail}));
    const rows = [{n: 0, label: "start: the position before move 0"}];
    game.moves.forEach((m, k) => {
        rows.push(...dq(k));
        rows.push({n: m.after, number: m.number, seat: m.seat, square: `${m.x}, ${m.y}`, kind: moveKind(m),
                   timeMs: m.timeMs, leftMs: m.leftMs});
    });
    rows.push(...dq(game.moves.length));
    return rows;
}

// The seats as rows: the position shown (stones, stocks) apart from the final result.
function seatRows(game, n) {
    const r = game.record.result !== null && typeof game.record.result === "object" ? game.record.result : {};
    const st = game.states[n];
    const value = (list, p) => (Array.isArray(list) && list[p - 1] !== undefined && list[p - 1] !== null
        ? (typeof list[p - 1] === "object" ? JSON.stringify(list[p - 1]) : String(list[p - 1])) : "");
    const rows = [];
    for (let p = 1; p <= game.map.players; ++p) {
        const seat = game.record.seats.find((x) => x && x.seat === p) || {};
        rows.push({seat: p, bot: seat.bot === undefined || seat.bot === null ? "" : String(seat.bot),
                   untimed: seat.untimed === true, stones: st.stones[p], overrides: st.overrides[p], bombs: st.bombs[p],
                   score: value(r.scores, p), place: value(r.ranks, p),
                   out: game.disqualifications.some((d) => d.seat === p && d.atMove <= n)});
    }
    return rows;
}

// --- Elements: rows of plain data become table rows, every value as text ---------------

function el(tag, attrs, ...children) {
    const node = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) node.setAttribute(k, String(v));
    for (const c of children.flat()) {
        if (c !== null && c !== undefined) node.append(c instanceof Node ? c : String(c));
    }
    return node;
}

const swatch = (seat) => el("span", {class: `swatch s${seat}`});
const ms = (v) => (v === null ? "" : String(v));

function moveRowElement(row) {
    if (row.dq) {
        return el("tr", {class: "dq"}, el("td"), el("td", null, swatch(row.seat), row.seat),
            el("td", {colspan: 4}, `disqualified: ${row.reason}`, row.detail ? [" ", el("em", null, `(${row.detail})`)] : null));
    }
    if (row.label) return el("tr", {class: "move", "data-n": row.n}, el("td", {colspan: 6, class: "kind"}, row.label));
    return el("tr", {class: "move", "data-n": row.n},
        el("td", null, row.number), el("td", null, swatch(row.seat), row.seat), el("td", null, row.square),
        el("td", {class: "kind"}, row.kind), el("td", null, ms(row.timeMs)), el("td", null, ms(row.leftMs)));
}

function moveListElements(game) {
    return [el("tr", null, ["move", "seat", "square", "kind", "ms used", "ms left"]
        .map((h) => el("th", h === "kind" ? {class: "kind"} : null, h))),
            ...moveRows(game).map(moveRowElement)];
}

function seatsElements(game, n) {
    const shown = n === 0 ? "at the start" : `after move ${n - 1}`;
    return [
        el("tr", null, el("th", {colspan: 2}), el("th", {colspan: 3, class: "group"}, shown),
           el("th", {colspan: 2, class: "group"}, "final result")),
        el("tr", null, ["seat", "bot", "stones", "overrides", "bombs", "score", "place"]
            .map((h, k) => el("th", k === 2 || k === 5 ? {class: "group"} : null, h))),
        ...seatRows(game, n).map((r) => el("tr", r.out ? {class: "out"} : null,
            el("td", null, swatch(r.seat), r.seat), el("td", null, r.bot + (r.untimed ? " (untimed)" : "")),
            el("td", {class: "group"}, r.stones), el("td", null, r.overrides), el("td", null, r.bombs),
            el("td", {class: "group"}, r.score), el("td", null, r.place)))];
}

function legendElements(game) {
    return legendEntries(game).map((e) => {
        const item = el("li", {"data-kind": e.kind});
        const icon = document.createElementNS("http://www.w3.org/2000/svg", "svg");
        icon.setAttribute("class", "cells icon");
        icon.setAttribute("viewBox", "0 0 1 1");
        icon.innerHTML = e.svg;  // drawn from constants only
        item.append(icon, e.text);
        return item;
    });
}

// --- Controller -------------------------------------------------------------------------

const Viewer = {
    game: null, cells: null, n: 0, timer: null, zoom: 0,
    els: {}, cellEls: [], stoneEls: [], transitionEls: [], shownTransitions: [],

    show(game) {
        this.game = game;
        const $ = (id) => document.getElementById(id);
        this.els = {board: $("board"), frame: $("board-frame"), slider: $("slider"), counter: $("counter"),
                    status: $("status"), seats: $("seats"), movelist: $("movelist"), chart: $("chart"),
                    play: $("playpause"), speed: $("speed"), hover: $("hover"), all: $("all-transitions"),
                    zoom: $("zoom")};
        const {width: w, height: h} = game.map;
        const r = game.record;
        document.title = `Match ${r.id === undefined || r.id === null ? "" : String(r.id)} on ${mapName(r.map)}`;
        $("title").textContent = document.title;
        const bots = [];
        for (let p = 1; p <= game.map.players; ++p) {
            const seat = r.seats.find((x) => x && x.seat === p);
            bots.push(seat && seat.bot !== undefined && seat.bot !== null ? String(seat.bot) : "?");
        }
        const res = r.result !== null && typeof r.result === "object" ? r.result : {};
        const end = typeof res.end === "string" ? `, ended: ${res.end}${typeof res.reason === "string" ? ` (${res.reason})` : ""}` : "";
        $("summary").textContent = `${bots.join(" vs ")} · ${w} × ${h} · ${game.moves.length} moves (0 to ${game.moves.length - 1})${end}` +
            (r.consistent === false ? " · the replay disagrees with the server's scores" : "");
        this.cells = game.start.slice();
        this.drawBoard(game);
        this.marks = this.els.board.querySelector("#layer-marks");
        const chart = chartSvg(game);
        this.els.chart.setAttribute("viewBox", `0 0 ${Math.max(game.moves.length, 1)} ${chart.top}`);
        this.els.chart.setAttribute("preserveAspectRatio", "none");
        this.els.chart.innerHTML = chart.svg;
        this.cursor = this.els.chart.querySelector("#chart-cursor");
        this.els.movelist.replaceChildren(...moveListElements(game));
        this.rows = Array.from(this.els.movelist.querySelectorAll("tr.move"));
        $("legend").replaceChildren(...legendElements(game));
        this.els.slider.max = String(game.moves.length);
        const many = game.map.transitions.length;
        $("transitions-control").hidden = many === 0;
        $("transitions-count").textContent = String(many);
        this.els.all.checked = many <= TRANSITIONS_SHOWN;
        this.wire();
        $("viewer").hidden = false;
        this.go(this.hashMove(), true);
    },

    // The board's drawing, its size on screen and the style of its stones.
    drawBoard(game) {
        const layout = boardLayout(game.map);
        const b = this.els.board;
        b.setAttribute("viewBox", `${layout.left} ${layout.top} ${layout.width} ${layout.height}`);
        b.innerHTML = boardSvg(game, this.cells, layout);
        this.cellEls = Array.from(b.querySelectorAll("#layer-board > g"));
        this.stoneEls = Array.from(b.querySelectorAll("#layer-stones > g"));
        this.transitionLayer = b.querySelector("#layer-transitions");
        this.transitionEls = Array.from(this.transitionLayer.children);
        this.shownTransitions = [];
        this.hovered = -1;
        // Cells of the map where transitions end, for showing them under the pointer.
        this.transitionsAt = new Map();
        game.map.transitions.forEach((t, k) => {
            for (const i of [t.y1 * game.map.width + t.x1, t.y2 * game.map.width + t.x2]) {
                if (!this.transitionsAt.has(i)) this.transitionsAt.set(i, []);
                this.transitionsAt.get(i).push(k);
            }
        });
        const frame = this.els.frame;
        frame.style.setProperty("--ratio", `${layout.width} / ${layout.height}`);
        frame.style.setProperty("--fit", `max(78vh, ${Math.ceil(layout.height * MIN_CELL_PX)}px)`);
        document.getElementById("viewer").classList.toggle("wide", Math.max(game.map.width, game.map.height) > LONG_SIDE);
        addStoneStyle();
        this.setZoom(0);
    },

    setZoom(k) {
        this.zoom = Math.max(0, Math.min(ZOOMS.length - 1, k));
        this.els.frame.style.setProperty("--zoom", String(ZOOMS[this.zoom]));
        this.els.zoom.textContent = `${ZOOMS[this.zoom]}×`;
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
        on("zoom-in", () => this.setZoom(this.zoom + 1));
        on("zoom-out", () => this.setZoom(this.zoom - 1));
        e.all.addEventListener("change", () => this.showTransitions());
        e.slider.addEventListener("input", () => this.go(Number(e.slider.value)));
        e.speed.addEventListener("change", () => { if (this.timer) { this.toggle(); this.toggle(); } });
        e.movelist.addEventListener("click", (ev) => {
            const row = ev.target.closest("tr.move");
            if (row) this.go(Number(row.dataset.n));
        });
        const keys = new Map([["ArrowLeft", () => this.go(this.n - 1)], ["ArrowRight", () => this.go(this.n + 1)],
                              ["Home", () => this.go(0)], ["End", () => this.go(this.game.moves.length)],
                              [" ", () => this.toggle()], ["+", () => this.setZoom(this.zoom + 1)],
                              ["-", () => this.setZoom(this.zoom - 1)]]);
        document.addEventListener("keydown", (ev) => {
            if (ev.target.tagName === "INPUT" || ev.target.tagName === "SELECT") return;
            if (keys.has(ev.key)) { ev.preventDefault(); keys.get(ev.key)(); }
        });
        window.addEventListener("hashchange", () => this.go(this.hashMove()));
        e.board.addEventListener("mousemove", (ev) => this.hover(ev));
        e.board.addEventListener("mouseleave", () => this.hover(null));
    },

    // The cell under the pointer: its coordinates and content, and the transitions ending there.
    hover(ev) {
        const e = this.els, map = this.game.map;
        let i = -1;
        const ctm = ev && e.board.getScreenCTM();
        if (ctm) {
            const p = new DOMPoint(ev.clientX, ev.clientY).matrixTransform(ctm.inverse());
            const x = Math.floor(p.x), y = Math.floor(p.y);
            if (x >= 0 && y >= 0 && x < map.width && y < map.height) i = y * map.width + x;
        }
        if (i === this.hovered) return;
        for (const k of this.transitionsAt.get(this.hovered) || []) this.transitionEls[k].classList.remove("hover");
        this.hovered = i;
        for (const k of this.transitionsAt.get(i) || []) this.transitionEls[k].classList.add("hover");
        const t = (this.transitionsAt.get(i) || []).length;
        e.hover.textContent = i < 0 ? "\u00a0"
            : `(${i % map.width}, ${Math.floor(i / map.width)}): ${this.describe(this.cells[i])}` +
              (t ? ` · ${t} transition${t > 1 ? "s" : ""} from here` : "");
    },

    // All transitions, or those the move shown followed (and those under the pointer).
    showTransitions() {
        const all = this.els.all.checked;
        this.transitionLayer.classList.toggle("all", all);
        for (const k of this.shownTransitions) this.transitionEls[k].classList.remove("shown");
        this.shownTransitions = all || this.n === 0 ? [] : Rules.moveTransitions(this.game, this.cells, this.n);
        for (const k of this.shownTransitions) this.transitionEls[k].classList.add("shown");
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
        return SPECIAL_NAMES.get(ch) || (ch === "0" ? "empty" : "hole");
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
        this.els.play.textContent = this.timer ? "||" : "\u25B6";
    },

    // Redraws the cells that differ between the position shown and the one after n moves.
    step(n) {
        const game = this.game, from = this.n;
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
    },

    statusText(next, legal) {
        const result = this.game.record.result;
        if (!next) {
            return `End of the match${result && typeof result.end === "string" ? ` (${result.end})` : ""}`;
        }
        return next.bomb ? `Seat ${next.seat} to bomb: any cell that is not a hole`
            : `Seat ${next.seat} to move: ${legal.length} legal moves`;
    },

    // Shows the position after n moves (n = 0: the start).
    go(n, first) {
        const game = this.game;
        n = Math.max(0, Math.min(game.moves.length, Number.isFinite(n) ? n : 0));
        if (n === this.n && !first) return;
        this.step(n);
        const next = game.moves[n];
        // In the bombing phase every cell that is not a hole is a target: the board says so as
        // a whole instead of marking each cell.
        const legal = next && !next.bomb ? Rules.legalMoves(game, this.cells, n, next.seat, false) : [];
        const targets = next && next.bomb && game.states[n].bombs[next.seat] > 0;
        this.els.board.classList.toggle("bombing", Boolean(targets));
        this.marks.innerHTML = marksSvg(game, this.cells, n, legal, next && next.seat);
        this.showTransitions();
        this.els.board.setAttribute("data-move", String(n));
        this.els.slider.value = String(n);
        this.els.counter.textContent = n === 0 ? `start of ${game.moves.length} moves` : `after move ${n - 1} of 0–${game.moves.length - 1}`;
        this.els.status.textContent = this.statusText(next, legal);
        this.els.seats.replaceChildren(...seatsElements(game, n));
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
