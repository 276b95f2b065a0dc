// The tournament report: standings, ratings with their 95 % intervals, places per bot and per
// seat, disqualifications and the list of matches, drawn from the arena's report data.
"use strict";

const escHtml = (s) => String(s === undefined || s === null ? "" : s).replace(/[&<>"']/g,
    (c) => ({"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&#39;"}[c]));
const fmt = (v, digits) => (typeof v === "number" && Number.isFinite(v) ? v.toFixed(digits) : "–");

function table(head, rows) {
    return `<tr>${head.map((h) => `<th>${h}</th>`).join("")}</tr>` +
        rows.map((r) => `<tr>${r.map((c) => `<td>${c}</td>`).join("")}</tr>`).join("");
}

function standingsHtml(bots) {
    return table(["", "bot", "Elo", "95 % interval", "matches", "points", "avg place", "W/D/L", "time-outs", "ms per move (avg / max)"],
        bots.map((b, k) => [k + 1, escHtml(b.name), fmt(b.elo, 1), `${fmt(b.elo_low, 1)} … ${fmt(b.elo_high, 1)}`,
                            b.matches + (b.unfinished ? ` (${b.unfinished} unfinished)` : ""), fmt(b.points, 1),
                            fmt(b.average_place, 2), `${b.wins}/${b.draws}/${b.losses}`, b.timeouts,
                            `${fmt(b.average_time_ms, 0)} / ${fmt(b.max_time_ms, 0)}`]));
}

// One row per bot: the rating as a point, its 95 % interval as a bar, on a shared Elo axis.
function ratingsSvg(bots) {
    const rated = bots.filter((b) => typeof b.elo === "number");
    if (!rated.length) return {svg: "", height: 0};
    const values = rated.flatMap((b) => [b.elo, b.elo_low, b.elo_high]).filter((v) => typeof v === "number");
    let lo = Math.min(0, ...values), hi = Math.max(0, ...values);
    const pad = Math.max(10, (hi - lo) * 0.08);
    lo -= pad; hi += pad;
    const left = 160, width = 600, row = 26, top = 10;
    const X = (v) => left + ((v - lo) / (hi - lo)) * width;
    let s = "";
    const step = Math.pow(10, Math.floor(Math.log10((hi - lo) / 4)));
    const tick = [1, 2, 5, 10].map((m) => m * step).find((t) => (hi - lo) / t <= 8);
    for (let v = Math.ceil(lo / tick) * tick; v <= hi; v += tick) {
        s += `<line class="grid" x1="${X(v)}" x2="${X(v)}" y1="${top - 4}" y2="${top + rated.length * row}"/>` +
             `<text class="tick" x="${X(v)}" y="${top + rated.length * row + 14}">${Math.round(v)}</text>`;
    }
    rated.forEach((b, k) => {
        const y = top + k * row + row / 2;
        s += `<text class="name" x="${left - 8}" y="${y}">${escHtml(b.name)}</text>`;
        if (typeof b.elo_low === "number" && typeof b.elo_high === "number") {
            s += `<line class="interval" x1="${X(b.elo_low)}" x2="${X(b.elo_high)}" y1="${y}" y2="${y}"/>` +
                 `<line class="interval" x1="${X(b.elo_low)}" x2="${X(b.elo_low)}" y1="${y - 5}" y2="${y + 5}"/>` +
                 `<line class="interval" x1="${X(b.elo_high)}" x2="${X(b.elo_high)}" y1="${y - 5}" y2="${y + 5}"/>`;
        }
        s += `<circle class="elo" cx="${X(b.elo)}" cy="${y}" r="5"><title>${escHtml(b.name)}: ${fmt(b.elo, 1)}</title></circle>`;
    });
    return {svg: s, width: left + width + 20, height: top + rated.length * row + 24};
}

function placesHtml(bots) {
    const most = Math.max(1, ...bots.flatMap((b) => Object.keys(b.places || {}).map(Number)));
    const head = ["bot"];
    for (let p = 1; p <= most; ++p) head.push(`${p}.`);
    return table(head, bots.map((b) => {
        const r = [escHtml(b.name)];
        for (let p = 1; p <= most; ++p) r.push((b.places || {})[p] || 0);
        return r;
    }));
}

// Average place of each bot in each seat, from the finished matches; a last row for all bots.
function seatPlacesHtml(bots, matches) {
    const seats = Math.max(0, ...matches.map((m) => m.seats.length));
    const sums = {}, all = [];
    for (const m of matches) {
        if (m.end !== "final") continue;
        for (const s of m.seats) {
            if (typeof s.place !== "number") continue;
            const row = (sums[s.bot] = sums[s.bot] || []);
            const c = (row[s.seat] = row[s.seat] || {n: 0, sum: 0});
            c.n += 1; c.sum += s.place;
            const a = (all[s.seat] = all[s.seat] || {n: 0, sum: 0});
            a.n += 1; a.sum += s.place;
        }
    }
    const head = ["bot"];
    for (let k = 1; k <= seats; ++k) head.push(`seat ${k}`);
    const cell = (c) => (c ? `${fmt(c.sum / c.n, 2)} <small>(${c.n})</small>` : "–");
    const rows = bots.map((b) => {
        const r = [escHtml(b.name)];
        for (let k = 1; k <= seats; ++k) r.push(cell((sums[b.name] || [])[k]));
        return r;
    });
    const last = ["<b>all bots</b>"];
    for (let k = 1; k <= seats; ++k) last.push(cell(all[k]));
    rows.push(last);
    return table(head, rows);
}

function disqualificationsHtml(matches) {
    const rows = [];
    for (const m of matches) {
        for (const d of m.disqualifications) {
            const seat = m.seats.find((s) => s.seat === d.seat) || {};
            rows.push([`<a href="${escHtml(m.page)}#move=${d.at_move}">${escHtml(m.id)}</a>`, escHtml(seat.bot), d.seat,
                       d.at_move, escHtml(d.reason), escHtml(d.detail)]);
        }
    }
    if (!rows.length) return "<tr><td>None.</td></tr>";
    return table(["match", "bot", "seat", "after move", "reason", "rule broken"], rows);
}

function matchesHtml(matches) {
    return table(["match", "map", "seats (place, score)", "end", "moves"], matches.map((m) => [
        `<a href="${escHtml(m.page)}">${escHtml(m.id)}</a>`, escHtml(m.map),
        m.seats.map((s) => `${s.seat}: ${escHtml(s.bot)} (${s.place === undefined ? "–" : s.place}, ${s.score === undefined || s.score === null ? "–" : s.score})`).join("; "),
        escHtml(m.end) + (m.consistent === false ? " (replay disagrees)" : ""), m.moves]));
}

function duelHtml(duel) {
    if (!duel) return "";
    const s = duel.sprt || {};
    return `<p>${escHtml(duel.bot)} against ${escHtml(duel.opponent)}: ${duel.wins} wins, ${duel.draws} draws, ` +
           `${duel.losses} losses; likelihood of superiority ${fmt(100 * duel.los, 1)} %; SPRT [${fmt(s.elo0, 1)}, ${fmt(s.elo1, 1)}]: ` +
           `LLR ${fmt(s.llr, 2)} (${fmt(s.lower, 2)}, ${fmt(s.upper, 2)}), ${escHtml(s.verdict)}</p>`;
}

function showReport(data) {
    const r = data.report, matches = data.matches || [];
    if (!r || r.format !== "reversi-report-1" || !Array.isArray(r.bots)) throw new Error("the data is not a report of the format \"reversi-report-1\"");
    const $ = (id) => document.getElementById(id);
    const ended = Object.entries(r.ended || {}).map(([k, v]) => `${v} ${escHtml(k)}`).join(", ");
    $("summary").innerHTML = `${r.records} matches in ${escHtml(r.dir)}${ended ? ` (${ended})` : ""}`;
    $("standings").innerHTML = standingsHtml(r.bots);
    const plot = ratingsSvg(r.bots);
    $("ratings").setAttribute("viewBox", `0 0 ${plot.width || 1} ${plot.height || 1}`);
    $("ratings").style.maxWidth = `${plot.width || 0}px`;
    $("ratings").innerHTML = plot.svg;
    $("duel").innerHTML = duelHtml(r.duel);
    $("places").innerHTML = placesHtml(r.bots);
    $("seat-places").innerHTML = seatPlacesHtml(r.bots, matches);
    $("disqualifications").innerHTML = disqualificationsHtml(matches);
    const notes = (r.warnings || []).map((w) => `<li>${escHtml(w)}</li>`)
        .concat((r.skipped || []).map((s) => `<li>Skipped ${escHtml(s.file)}: ${escHtml(s.problem)}</li>`));
    $("notes").innerHTML = notes.length ? `<h2>Warnings</h2><ul>${notes.join("")}</ul>` : "";
    $("matches").innerHTML = matchesHtml(matches);
    $("standings-view").hidden = false;
}

try {
    showReport(JSON.parse(document.getElementById("report").textContent));
} catch (e) {
    document.getElementById("error").hidden = false;
    document.getElementById("error-text").textContent = `The report cannot be read: ${e.message}.`;
    document.body.setAttribute("data-error", "true");
}
