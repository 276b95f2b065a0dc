// The game model of the match page: reading a match record, the board's step table with its
// transitions, the positions after every move, and the legal moves of the player in turn.
// Nothing here touches the DOM, so the page and a script can use it alike.
/* global module */
"use strict";

const Rules = (() => {
    // Directions in the order N, NE, E, SE, S, SW, W, NW.
    const DX = [0, 1, 1, 1, 0, -1, -1, -1];
    const DY = [-1, -1, 0, 1, 1, 1, 0, -1];
    const HOLE = "-";
    const CHOICE_BOMB = 20;
    const CHOICE_OVERRIDE = 21;
    const MAX_SIDE = 50;
    const TILE = /^(-|0|[1-8]|c|i|b|x)$/;

    class RecordError extends Error {}

    function fail(message) {
        throw new RecordError(message);
    }

    const isColour = (ch) => ch >= "1" && ch <= "8";
    const isOccupied = (ch) => isColour(ch) || ch === "x";

    function parseNumber(tokens, at, what) {
        const t = tokens[at];
        if (t === undefined) fail(`the map text ends before its ${what}`);
        if (!/^\d+$/.test(t)) fail(`the map's ${what} is "${t}", not a number`);
        return Number(t);
    }

    // Reads the map text as the server writes it: six header numbers, the grid, transitions.
    function parseMap(text) {
        if (typeof text !== "string") fail("the record has no map text");
        const tokens = text.split(/\s+/).filter((t) => t.length > 0);
        const names = ["number of players", "override count", "bomb count", "bomb strength",
                       "height", "width"];
        const [players, overrides, bombs, strength, height, width] =
            names.map((name, k) => parseNumber(tokens, k, name));
        if (players < 2 || players > 8) fail(`the map is for ${players} players`);
        if (height < 1 || height > MAX_SIDE || width < 1 || width > MAX_SIDE) {
            fail(`the map's size ${height} x ${width} is out of range`);
        }
        const cells = [];
        let at = 6;
        for (let i = 0; i < width * height; ++i, ++at) {
            const t = tokens[at];
            const x = i % width, y = Math.floor(i / width);
            if (t === undefined) fail(`the map text ends before cell (${x}, ${y})`);
            if (!TILE.test(t)) fail(`the map's cell (${x}, ${y}) is "${t}"`);
            cells.push(t);
        }
        const transitions = [];
        while (at < tokens.length) {
            const line = tokens.slice(at, at + 7);
            const nums = [0, 1, 2, 4, 5, 6].map((k) => Number(line[k]));
            if (line.length < 7 || line[3] !== "<->" || nums.some((v) => !Number.isInteger(v))) {
                fail(`the map's transition "${line.join(" ")}" cannot be read`);
            }
            const [x1, y1, d1, x2, y2, d2] = nums;
            if (x1 >= width || x2 >= width || y1 >= height || y2 >= height || d1 > 7 || d2 > 7) {
                fail(`the map's transition "${line.join(" ")}" leaves the board`);
            }
            transitions.push({x1, y1, d1, x2, y2, d2});
            at += 7;
        }
        return {players, overrides, bombs, strength, width, height, cells, transitions};
    }

    // The step table: for cell i and direction d, the cell one step away (-1 for none), the
    // direction of travel after the step and the transition it crosses (-1 for none). Holes of the starting board have no neighbours; cells
    // that become holes later keep theirs, so every walk tests the content it reaches.
    function stepTable(map) {
        const {width: w, height: h, cells} = map;
        const next = new Int32Array(w * h * 8).fill(-1);
        const dir = new Uint8Array(w * h * 8);
        const via = new Int32Array(w * h * 8).fill(-1);
        for (let i = 0; i < w * h; ++i) {
            const x = i % w, y = Math.floor(i / w);
            for (let d = 0; d < 8; ++d) {
                const nx = x + DX[d], ny = y + DY[d];
                dir[i * 8 + d] = d;
                if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                const j = ny * w + nx;
                if (cells[j] !== HOLE) next[i * 8 + d] = j;
            }
        }
        map.transitions.forEach((t, k) => {
            const a = t.y1 * w + t.x1, b = t.y2 * w + t.x2;
            next[a * 8 + t.d1] = b;
            dir[a * 8 + t.d1] = (t.d2 + 4) % 8;
            via[a * 8 + t.d1] = k;
            next[b * 8 + t.d2] = a;
            dir[b * 8 + t.d2] = (t.d1 + 4) % 8;
            via[b * 8 + t.d2] = k;
        });
        return {next, dir, via};
    }

    function int(value, what, low, high) {
        if (!Number.isInteger(value) || value < low || value > high) fail(`${what} is ${JSON.stringify(value)}`);
        return value;
    }

    function checkRecord(record) {
        if (record === null || typeof record !== "object" || Array.isArray(record)) {
            fail("the file holds no match record");
        }
        if (record.format !== "reversi-match-1") {
            fail(`the record's format is ${JSON.stringify(record.format)}, not "reversi-match-1"`);
        }
        if (!record.map || typeof record.map !== "object") fail("the record has no map");
        if (!Array.isArray(record.seats)) fail("the record has no list of seats");
        if (!Array.isArray(record.moves)) fail("the record has no list of moves");
        if (record.disqualifications !== undefined && !Array.isArray(record.disqualifications)) {
            fail("the record's disqualifications are not a list");
        }
    }

    // Reads a record and computes every position: per move the cells it changed with their old
    // content, and after every move the players' stocks and stone counts. A stone's character
    // names the player who owns it at that moment, so a change of owners (an inversion, a
    // choice) shows in the record as changed cells.
    function load(record) {
        checkRecord(record);
        const map = parseMap(record.map.text);
        const n = map.players;
        const size = map.width * map.height;
        const cells = map.cells.slice();
        const overrides = [0];
        const bombs = [0];
        for (let p = 1; p <= n; ++p) {
            overrides.push(map.overrides);
            bombs.push(map.bombs);
        }
        const stones = new Array(9).fill(0);
        for (const ch of cells) if (isColour(ch)) ++stones[Number(ch)];
        const meta = () => ({overrides: overrides.slice(), bombs: bombs.slice(), stones: stones.slice(0, n + 1)});
        const states = [meta()];
        const moves = record.moves.map((m, k) => {
            const what = `move ${k}`;
            if (!m || typeof m !== "object") fail(`${what} is not an object`);
            const seat = int(m.seat, `the seat of ${what}`, 1, n);
            const x = int(m.x, `the x of ${what}`, 0, map.width - 1);
            const y = int(m.y, `the y of ${what}`, 0, map.height - 1);
            const choice = m.choice === undefined ? 0 : int(m.choice, `the choice of ${what}`, 0, 255);
            const bomb = m.phase === "bomb";
            if (!Array.isArray(m.changes)) fail(`${what} has no list of changes`);
            if (m.changes.length > size) fail(`${what} changes more cells than the board has`);
            const index = y * map.width + x;
            const before = cells[index];
            const changes = m.changes.map((c) => {
                if (!Array.isArray(c) || c.length !== 3) fail(`a change of ${what} is not [x, y, cell]`);
                const cx = int(c[0], `a change's x in ${what}`, 0, map.width - 1);
                const cy = int(c[1], `a change's y in ${what}`, 0, map.height - 1);
                if (typeof c[2] !== "string" || !TILE.test(c[2])) {
                    fail(`a change of ${what} names the cell content ${JSON.stringify(c[2])}`);
                }
                const i = cy * map.width + cx;
                const old = cells[i];
                if (isColour(old)) --stones[Number(old)];
                if (isColour(c[2])) ++stones[Number(c[2])];
                cells[i] = c[2];
                return {i, old, now: c[2]};
            });
            if (bomb) {
                bombs[seat] = Math.max(0, bombs[seat] - 1);
            } else {
                if (isOccupied(before)) overrides[seat] = Math.max(0, overrides[seat] - 1);
                if (before === "b" && choice === CHOICE_BOMB) ++bombs[seat];
                if (before === "b" && choice === CHOICE_OVERRIDE) ++overrides[seat];
            }
            states.push(meta());
            // `number` counts from 0 as the console and the record do; `after` is the number
            // of moves made once this one is, the index of the position it leads to.
            return {
                number: k, after: k + 1, seat, x, y, index, before, choice, bomb, changes,
                timeMs: Number.isFinite(m.time_ms) ? m.time_ms : null,
                leftMs: Number.isFinite(m.left_ms) ? m.left_ms : null,
            };
        });
        const text = (v) => (v === undefined || v === null ? "" : typeof v === "string" ? v : JSON.stringify(v));
        const disqualifications = (record.disqualifications || []).map((d, k) => {
            if (!d || typeof d !== "object") fail(`disqualification ${k} is not an object`);
            return {
                seat: int(d.seat, `the seat of disqualification ${k}`, 1, n),
                atMove: Number.isInteger(d.at_move) ? Math.max(0, Math.min(moves.length, d.at_move)) : moves.length,
                reason: text(d.reason), detail: text(d.detail),
            };
        });
        return {
            record, map, size, step: stepTable(map), start: map.cells.slice(), final: cells,
            moves, states, disqualifications,
        };
    }

    // Cells of the position after `from` moves, changed in place into the position after `to`.
    function seek(game, cells, from, to) {
        for (let k = from; k < to; ++k) for (const c of game.moves[k].changes) cells[c.i] = c.now;
        for (let k = from; k > to; --k) {
            const changes = game.moves[k - 1].changes;
            for (let j = changes.length - 1; j >= 0; --j) cells[changes[j].i] = changes[j].old;
        }
        return cells;
    }

    // Does the line from `start` in direction d end on a stone of `colour` after at least one
    // foreign stone or expansion square? Transitions bend the line; coming back to the start
    // captures nothing.
    function captures(game, cells, start, d, colour) {
        const {next, dir} = game.step;
        let i = start, passed = 0;
        for (let guard = game.size * 8; guard > 0; --guard) {
            const j = next[i * 8 + d];
            if (j < 0 || j === start) return false;
            const ch = cells[j];
            if (!isOccupied(ch)) return false;
            if (ch === colour) return passed > 0;
            d = dir[i * 8 + d];
            i = j;
            ++passed;
        }
        return false;
    }

    // The transitions that the captures of the move leading to position n (n >= 1) followed,
    // given the cells of position n: every line from the move's cell that captured, walked in
    // the position before the move.
    function moveTransitions(game, cells, n) {
        const m = game.moves[n - 1];
        if (!m || m.bomb) return [];
        const before = new Map();
        for (const c of m.changes) if (!before.has(c.i)) before.set(c.i, c.old);
        const at = (i) => (before.has(i) ? before.get(i) : cells[i]);
        const {next, dir, via} = game.step;
        const colour = String(m.seat), used = new Set();
        for (let d0 = 0; d0 < 8; ++d0) {
            const crossed = [];
            let i = m.index, d = d0, passed = 0;
            for (let guard = game.size * 8; guard > 0; --guard) {
                const j = next[i * 8 + d];
                if (j < 0 || j === m.index || !isOccupied(at(j))) break;
                if (via[i * 8 + d] >= 0) crossed.push(via[i * 8 + d]);
                if (at(j) === colour) {
                    if (passed > 0) for (const t of crossed) used.add(t);
                    break;
                }
                d = dir[i * 8 + d];
                i = j;
                ++passed;
            }
        }
        return Array.from(used).sort((a, b) => a - b);
    }

    // The legal stone moves or bomb targets of `seat` in the position after `n` moves.
    function legalMoves(game, cells, n, seat, bomb) {
        const state = game.states[n];
        const result = [];
        if (bomb) {
            if (state.bombs[seat] > 0) {
                for (let i = 0; i < game.size; ++i) if (cells[i] !== HOLE) result.push(i);
            }
            return result;
        }
        const colour = String(seat);
        for (let i = 0; i < game.size; ++i) {
            const ch = cells[i];
            if (ch === HOLE) continue;
            if (isOccupied(ch) && state.overrides[seat] === 0) continue;
            if (ch === "x") { result.push(i); continue; }
            for (let d = 0; d < 8; ++d) {
                if (captures(game, cells, i, d, colour)) { result.push(i); break; }
            }
        }
        return result;
    }

    function parse(text) {
        let record;
        try {
            record = JSON.parse(text);
        } catch (e) {
            fail(`the record is not valid JSON, perhaps cut short (${e.message})`);
        }
        return load(record);
    }

    return {DX, DY, HOLE, CHOICE_BOMB, CHOICE_OVERRIDE, RecordError, isColour, isOccupied, parse, parseMap, load, seek,
            legalMoves, moveTransitions};
})();

if (typeof module !== "undefined") module.exports = Rules;
