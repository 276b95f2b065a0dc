// The tournament report: standings, ratings with their 95 % intervals, places per bot and per
// seat, disqualifications and the list of matches, drawn from the arena's report data.
//
// The data comes from records that other machines wrote, so none of it is trusted: every value
// reaches the page as text (never as markup), names key Maps (never plain objects), and every
// loop is bounded by the seat limit or by the length of a list the data holds, never by a
// number it states.
"use strict";

// A map has at most eight seats, so a place or a seat number beyond it is shown but not counted.
const MAX_SEATS = 8;
const SVG_NS = "http://www.w3.org/2000/svg";

// An element with attributes and children; strings become text nodes, so nothing is parsed.
function el(tag, attrs, ...children) {
    const node = tag.startsWith("svg:") ? document.createElementNS(SVG_NS, tag.slice(4))
        : document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) node.setAttribute(k, String(v));
    for (const c of children.flat()) {
        if (c !== null && c !== undefined) node.append(c instanceof Node ? c : String(c));
    }
    return node;
}

const finite = (v) => typeof v === "number" && Number.isFinite(v);
const fmt = (v, digits) => (finite(v) ? v.toFixed(digits) : "–");
const text = (v) => (v === undefined || v === null ? "–" : typeof v === "object" ? JSON.stringify(v) : String(v));
const list = (v) => (Array.isArray(v) ? v : []);
const seatNumber = (v) => (Number.isInteger(v) && v >= 1 && v <= MAX_SEATS ? v : null);

// A link inside the report's folder: a relative path without a scheme, else no link at all.
function pageLink(page, fragment, label) {
    if (typeof page !== "string" || !/^[\w./-]+$/.test(page) || page.startsWith("/") || page.includes("..")) {
        return text(label);
    }
    return el("a", {href: page + fragment}, text(label));
}

function table(node, head, rows) {
    node.replaceChildren(el("tr", null, head.map((h) => el("th", null, h))),
        ...rows.map((r) => el("tr", null, r.map((c) => el("td", null, c)))));
}

function standingsRows(bots) {
    return bots.map((b, k) => [k + 1, text(b.name), fmt(b.elo, 1), `${fmt(b.elo_low, 1)} … ${fmt(b.elo_high, 1)}`,
        text(b.matches) + (b.unfinished ? ` (${text(b.unfinished)} unfinished)` : ""), fmt(b.points, 1),
        fmt(b.average_place, 2), `${text(b.wins)}/${text(b.draws)}/${text(b.losses)}`, text(b.timeouts),
        `${fmt(b.average_time_ms, 0)} / ${fmt(b.max_time_ms, 0)}`, fmt(b.average_cpu_ms, 0),
        reasons(b.disqualified)]);
}

// Disqualifications by plain reason ("crashed 2, timed out 1"); the names are only keys.
function reasons(byReason) {
    if (byReason === null || typeof byReason !== "object" || Array.isArray(byReason)) return "–";
    const parts = Object.entries(byReason).map(([reason, n]) => `${reason} ${text(n)}`);
    return parts.length ? parts.join(", ") : "–";
}

// Grid lines of the Elo axis: at most nine, whatever the values.
function ticks(lo, hi) {
    const step = Math.pow(10, Math.floor(Math.log10((hi - lo) / 4)));
    const tick = [1, 2, 5, 10].map((m) => m * step).find((t) => (hi - lo) / t <= 8);
    const out = [];
    if (!finite(tick) || tick <= 0) return out;
    for (let v = Math.ceil(lo / tick) * tick; v <= hi && out.length < 9; v += tick) out.push(v);
    return out;
}

// One row per bot: the rating as a point, its 95 % interval as a bar, on a shared Elo axis.
function ratingsSvg(bots) {
    const rated = bots.filter((b) => finite(b.elo));
    if (!rated.length) return {nodes: [], width: 0, height: 0};
    const values = rated.flatMap((b) => [b.elo, b.elo_low, b.elo_high]).filter(finite);
    let lo = Math.min(0, ...values), hi = Math.max(0, ...values);
    const pad = Math.max(10, (hi - lo) * 0.08);
    lo -= pad; hi += pad;
    const left = 160, width = 600, row = 26, top = 10, bottom = top + rated.length * row;
    const X = (v) => left + ((v - lo) / (hi - lo)) * width;
    const nodes = ticks(lo, hi).flatMap((v) => [
        el("svg:line", {class: "grid", x1: X(v), x2: X(v), y1: top - 4, y2: bottom}),
        el("svg:text", {class: "tick", x: X(v), y: bottom + 14}, Math.round(v))]);
    rated.forEach((b, k) => {
        const y = top + k * row + row / 2;
        nodes.push(el("svg:text", {class: "name", x: left - 8, y}, text(b.name)));
        if (finite(b.elo_low) && finite(b.elo_high)) {
            const a = X(b.elo_low), z = X(b.elo_high);
            nodes.push(el("svg:line", {class: "interval", x1: a, x2: z, y1: y, y2: y}),
                el("svg:line", {class: "interval", x1: a, x2: a, y1: y - 5, y2: y + 5}),
                el("svg:line", {class: "interval", x1: z, x2: z, y1: y - 5, y2: y + 5}));
        }
        nodes.push(el("svg:circle", {class: "elo", cx: X(b.elo), cy: y, r: 5},
            el("svg:title", null, `${text(b.name)}: ${fmt(b.elo, 1)}`)));
    });
    return {nodes, width: left + width + 20, height: bottom + 24};
}

// Columns for places 1 to the most seats any match had; places beyond eight are not columns.
function placesRows(bots, most) {
    return bots.map((b) => {
        const places = b.places !== null && typeof b.places === "object" ? b.places : {};
        const r = [text(b.name)];
        for (let p = 1; p <= most; ++p) {
            const n = Object.prototype.hasOwnProperty.call(places, String(p)) ? places[String(p)] : 0;
            r.push(text(n));
        }
        return r;
    });
}

// Average place of each bot in each seat, from the finished matches; a last row for all bots.
function seatPlacesRows(bots, matches, seats) {
    const sums = new Map(), all = [];
    const add = (row, seat, place) => {
        const c = row[seat] || (row[seat] = {n: 0, sum: 0});
        c.n += 1; c.sum += place;
    };
    for (const m of matches) {
        if (m.end !== "final") continue;
        for (const s of list(m.seats)) {
            const seat = seatNumber(s.seat);
            if (seat === null || !finite(s.place)) continue;
            if (!sums.has(s.bot)) sums.set(s.bot, []);
            add(sums.get(s.bot), seat, s.place);
            add(all, seat, s.place);
        }
    }
    const cell = (c) => (c ? [fmt(c.sum / c.n, 2), " ", el("small", null, `(${c.n})`)] : "–");
    const row = (name, sumsOfRow) => {
        const r = [name];
        for (let k = 1; k <= seats; ++k) r.push(cell(sumsOfRow[k]));
        return r;
    };
    return bots.map((b) => row(text(b.name), sums.get(b.name) || []))
        .concat([row(el("b", null, "all bots"), all)]);
}

function disqualificationRows(matches) {
    const rows = [];
    for (const m of matches) {
        for (const d of list(m.disqualifications)) {
            const seat = list(m.seats).find((s) => s && s.seat === d.seat) || {};
            const at = Number.isInteger(d.at_move) && d.at_move >= 0 ? d.at_move : 0;
            rows.push([pageLink(m.page, `#move=${at}`, m.id), text(seat.bot), text(d.seat),
                       text(d.at_move), text(d.disqualified), text(d.reason), text(d.detail)]);
        }
    }
    return rows;
}

function matchRows(matches) {
    return matches.map((m) => [
        pageLink(m.page, "", m.id), text(m.map),
        list(m.seats).map((s) => `${text(s.seat)}: ${text(s.bot)} (${text(s.place)}, ${text(s.score)})`).join("; "),
        text(m.end) + (m.consistent === false ? " (replay disagrees)" : ""), text(m.moves)]);
}

// The limits of the matches as a phrase, as the text report gives them.
function limitText(limits) {
    const one = (l) => {
        const time = l && finite(l.time_ms) && l.time_ms > 0 ? `${l.time_ms / 1000} s per move` : "";
        const depth = l && finite(l.depth) && l.depth > 0 ? `depth ${l.depth}` : "";
        return [time, depth].filter((p) => p).join(", ") || "no limit";
    };
    return limits.map(one).join("; ");
}

function duelText(duel) {
    const s = duel.sprt || {};
    return `${text(duel.bot)} against ${text(duel.opponent)}: ${text(duel.wins)} wins, ${text(duel.draws)} draws, ` +
           `${text(duel.losses)} losses; likelihood of superiority ${fmt(100 * duel.los, 1)} %; ` +
           `SPRT [${fmt(s.elo0, 1)}, ${fmt(s.elo1, 1)}]: LLR ${fmt(s.llr, 2)} (${fmt(s.lower, 2)}, ${fmt(s.upper, 2)}), ` +
           text(s.verdict);
}

function notes(r) {
    const items = list(r.warnings).map((w) => el("li", null, text(w)))
        .concat(list(r.skipped).map((s) => el("li", null, `Skipped ${text(s && s.file)}: ${text(s && s.problem)}`)));
    return items.length ? [el("h2", null, "Warnings"), el("ul", null, items)] : [];
}

function showReport(data) {
    const r = data && data.report;
    if (!r || r.format !== "reversi-report-1" || !Array.isArray(r.bots)) {
        throw new Error("the data is not a report of the format \"reversi-report-1\"");
    }
    const bots = r.bots.filter((b) => b !== null && typeof b === "object");
    const matches = list(data.matches).filter((m) => m !== null && typeof m === "object");
    const $ = (id) => document.getElementById(id);
    const ended = r.ended !== null && typeof r.ended === "object"
        ? Object.entries(r.ended).map(([k, v]) => `${text(v)} ${k}`).join(", ") : "";
    $("summary").textContent = `${text(r.records)} matches in ${text(r.dir)}${ended ? ` (${ended})` : ""}` +
        (Array.isArray(r.limits) && r.limits.length ? `; limit: ${limitText(r.limits)}` : "");
    table($("standings"), ["", "bot", "Elo", "95 % interval", "matches", "points", "avg place", "W/D/L",
                           "time-outs", "ms per move (avg / max)", "CPU ms per move",
                           "disqualified"], standingsRows(bots));
    $("order").textContent = typeof r.order === "string" ? r.order : "";
    const plot = ratingsSvg(bots);
    $("ratings").setAttribute("viewBox", `0 0 ${plot.width || 1} ${plot.height || 1}`);
    $("ratings").style.maxWidth = `${plot.width}px`;
    $("ratings").replaceChildren(...plot.nodes);
    $("duel").replaceChildren(r.duel && typeof r.duel === "object" ? el("p", null, duelText(r.duel)) : "");
    const seats = Math.min(MAX_SEATS, Math.max(1, ...matches.map((m) => list(m.seats).length)));
    table($("places"), ["bot"].concat(Array.from({length: seats}, (_, k) => `${k + 1}.`)), placesRows(bots, seats));
    table($("seat-places"), ["bot"].concat(Array.from({length: seats}, (_, k) => `seat ${k + 1}`)),
          seatPlacesRows(bots, matches, seats));
    const dqs = disqualificationRows(matches);
    if (dqs.length) {
        table($("disqualifications"), ["match", "bot", "seat", "after move", "what happened", "the server's reason",
                                       "rule broken"], dqs);
    } else {
        $("disqualifications").replaceChildren(el("tr", null, el("td", null, "None.")));
    }
    $("notes").replaceChildren(...notes(r));
    table($("matches"), ["match", "map", "seats (place, score)", "end", "moves"], matchRows(matches));
    $("standings-view").hidden = false;
}

try {
    showReport(JSON.parse(document.getElementById("report").textContent));
} catch (e) {
    document.getElementById("error").hidden = false;
    document.getElementById("error-text").textContent = `The report cannot be read: ${e.message}.`;
    document.body.setAttribute("data-error", "true");
}
