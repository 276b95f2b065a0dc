// The league's web site: every page fetches the JSON API of "arena serve" and builds its
// elements with text nodes only; nothing from the API is ever parsed as markup.
"use strict";

const POLL_MS = 2000;

function el(tag, attrs, ...children) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attrs || {})) {
        if (name === "class") node.className = value;
        else node.setAttribute(name, value);
    }
    for (const child of children) {
        if (child === null || child === undefined) continue;
        node.append(child instanceof Node ? child : document.createTextNode(String(child)));
    }
    return node;
}

function replaceRows(table, rows) {
    const body = table.tBodies[0] || table.appendChild(el("tbody"));
    body.replaceChildren(...rows);
}

function token() { return sessionStorage.getItem("team-token") || ""; }

// Fetches a JSON document; rejects with the API's error text. `since` carries the ETag of the
// copy the page shows, so that an unchanged document costs a 304 and no work.
async function api(path, options = {}) {
    const headers = Object.assign({}, options.headers || {});
    if (options.auth && token()) headers.Authorization = `Bearer ${token()}`;
    if (options.etag) headers["If-None-Match"] = options.etag;
    const answer = await fetch(path, { method: options.method || "GET", headers, body: options.body, cache: "no-cache" });
    if (answer.status === 304) return { unchanged: true };
    const body = await answer.json();
    if (!answer.ok) throw new Error(body.error || `HTTP ${answer.status}`);
    return { body, etag: answer.headers.get("ETag") };
}

// Calls `show(body)` now and whenever the document at `path` changes.
function poll(path, show) {
    let etag = null;
    const tick = async () => {
        try {
            const got = await api(path, { etag });
            // Only one tick runs at a time: the next is scheduled after this one ends.
            // eslint-disable-next-line require-atomic-updates
            if (!got.unchanged) { etag = got.etag; show(got.body); }
            document.body.removeAttribute("data-error");
        } catch (e) {
            document.body.setAttribute("data-error", e.message);
        }
        setTimeout(tick, POLL_MS);
    };
    tick();
}

// --- Your team: sign in with the token, upload, its bots with their uploads, versions,
// ratings and matches, build logs and seat logs -----------------------------------------------

const TEAM_POLL_MS = 5000;

// A disqualification in the standings engine's plain words, which the API sends beside the
// server's own reason: the site and the reports say the same.
function plainReason(plain, reason) {
    if (!reason) return "";
    return plain && plain !== reason ? `${plain} (${reason})` : reason;
}

// How a seat ended: its place among the seats, a win only when no other seat shares it.
function seatResult(match, seat) {
    if (match.end !== "final") return match.end;
    if (seat.disqualified) return "disqualified";
    const firsts = match.seats.filter((s) => s.rank === 1).length;
    if (seat.rank === 1) return firsts === 1 ? "won" : "shared first place";
    return `place ${seat.rank}`;
}

const TeamPage = {
    team: "",
    lastUpload: null,
    shownLog: null,

    start() {
        document.getElementById("login").addEventListener("submit", (ev) => {
            ev.preventDefault();
            sessionStorage.setItem("team-token", document.getElementById("token").value.trim());
            this.load();
        });
        document.getElementById("logout").addEventListener("click", () => {
            sessionStorage.removeItem("team-token");
            location.reload();
        });
        document.getElementById("upload").addEventListener("submit", (ev) => {
            ev.preventDefault();
            this.upload();
        });
        document.getElementById("bot").addEventListener("input", () => this.siteName());
        if (token()) this.load().then(() => this.keepFresh());
    },

    keepFresh() {
        setTimeout(async () => {
            if (this.team) await this.load();
            this.keepFresh();
        }, TEAM_POLL_MS);
    },

    siteName() {
        const bot = document.getElementById("bot").value;
        document.getElementById("site-name").textContent =
            bot && this.team ? `It plays in the league as ${this.team}.${bot}.` : "";
    },

    async load() {
        const error = document.getElementById("login-error");
        try {
            const { body } = await api("/api/team/bots", { auth: true });
            error.textContent = "";
            this.team = body.team;
            document.getElementById("login").hidden = true;
            document.getElementById("signed-in").hidden = false;
            document.getElementById("team-name").textContent = body.team;
            this.siteName();
            this.show(body.bots);
        } catch (e) {
            error.textContent = e.message;
        }
    },

    show(bots) {
        const uploads = bots.flatMap((b) => b.uploads).sort((a, b) => b.id - a.id);
        replaceRows(document.getElementById("submissions"), uploads.map((s) => el("tr", {},
            el("td", { class: "num" }, s.id), el("td", {}, `${this.team}.${s.bot}`),
            el("td", {}, s.state), el("td", {}, s.created),
            el("td", {}, this.button("build log", () => this.showLog(s.id))))));
        const last = uploads.find((s) => s.id === this.lastUpload);
        if (last) document.getElementById("upload-result").textContent = `Submission #${last.id} ${last.state}.`;
        document.getElementById("bots").replaceChildren(...bots.map((b) => this.botSection(b)));
        document.body.dataset.teamBots = String(bots.length);
    },

    button(label, action) {
        const b = el("button", { type: "button" }, label);
        b.addEventListener("click", action);
        return b;
    },

    botSection(bot) {
        const row = bot.standings[0];
        const standing = !row ? "No finished match yet."
            : row.rated ? `Rated ${fixed(row.elo, 0)} (${fixed(row.elo_low, 0)} … ${fixed(row.elo_high, 0)}) over ${row.matches} matches, ${fixed(row.points, 1)} points.`
                : `Not rated yet: ${row.matches} matches, ${fixed(row.points, 1)} points.`;
        const versions = el("table", { class: "versions" },
            el("thead", {}, el("tr", {}, el("th", { class: "num" }, "Version"), el("th", {}, "Command (names its upload)"),
                el("th", {}, "Current"), el("th", { class: "num" }, "Matches"), el("th", { class: "num" }, "Elo (all matches)"))),
            el("tbody", {}, ...bot.versions.map((v) => el("tr", {}, el("td", { class: "num" }, v.version),
                el("td", {}, el("code", {}, v.command)),
                el("td", {}, v.current ? "yes" : ""), el("td", { class: "num" }, v.matches),
                el("td", { class: "num" }, fixed(v.elo, 0))))));
        const matches = el("table", { class: "matches" },
            el("thead", {}, el("tr", {}, ...["Match", "Map", "Seat", "Result", "Score", "Disqualified because", "Log"]
                .map((h) => el("th", {}, h)))),
            el("tbody", {}, ...bot.matches.flatMap((m) => m.seats.filter((s) => s.bot === bot.name).map((s) =>
                el("tr", {}, el("td", {}, el("a", { href: `/match/${encodeURIComponent(m.id)}` }, `m${m.id}`)),
                    el("td", {}, m.map), el("td", { class: "num" }, s.seat), el("td", {}, seatResult(m, s)),
                    el("td", { class: "num" }, s.score === null ? "" : s.score),
                    el("td", {}, plainReason(s.plain, s.disqualified)),
                    el("td", {}, this.button("seat log", () => this.showSeatLog(m.id, s.seat))))))));
        return el("section", { class: "bot", "data-bot": bot.name },
            el("h3", {}, bot.name),
            el("p", { class: "muted" }, `Uploaded as “${bot.bot}”; it plays in the league as ${bot.name}, its latest built upload the current version.`),
            el("p", { class: "standing" }, standing),
            el("h4", {}, "Versions"), versions,
            el("h4", {}, "Latest matches"), bot.matches.length ? matches : el("p", { class: "muted" }, "No matches yet."));
    },

    showText(title, text) {
        document.getElementById("log-title").hidden = false;
        document.getElementById("log-title").textContent = title;
        document.getElementById("log").textContent = text;
    },

    // Shows a build log, and keeps it live while the build runs.
    async showLog(id) {
        this.shownLog = id;
        const { body } = await api(`/api/submissions/${encodeURIComponent(id)}`, { auth: true });
        if (this.shownLog !== id) return;
        this.showText(`Build log of #${body.id} (${this.team}.${body.bot}, ${body.state})`, body.log);
        if (body.state === "building") setTimeout(() => this.showLog(id), POLL_MS);
    },

    async showSeatLog(match, seat) {
        this.shownLog = null;
        try {
            const { body } = await api(`/api/matches/${encodeURIComponent(match)}/logs/${encodeURIComponent(seat)}`, { auth: true });
            this.showText(`What ${body.bot} wrote in match m${body.match}, seat ${body.seat}`, body.log);
        } catch (e) {
            this.showText(`Seat log of match m${match}, seat ${seat}`, e.message);
        }
    },

    async upload() {
        const result = document.getElementById("upload-result");
        const file = document.getElementById("archive").files[0];
        const bot = document.getElementById("bot").value;
        try {
            const { body } = await api(`/api/submissions?bot=${encodeURIComponent(bot)}`, {
                method: "POST", auth: true, body: file,
                headers: { "Content-Type": "application/octet-stream" },
            });
            this.lastUpload = body.id;
            result.textContent = `Submission #${body.id} ${body.state}.`;
            await this.load();
            this.showLog(body.id);
        } catch (e) {
            result.textContent = e.message;
        }
    },
};

// --- Standings: overall, per map, crosstable and progress, polled while matches end ---------

function fixed(value, digits) { return typeof value === "number" ? value.toFixed(digits) : "–"; }

function botLink(name) { return el("a", { href: `/bot?name=${encodeURIComponent(name)}` }, name); }

function standingRows(rows) {
    return rows.map((r, i) => el("tr", { "data-bot": r.bot },
        el("td", { class: "num" }, r.rated ? i + 1 : ""),
        el("td", {}, botLink(r.bot)),
        el("td", { class: "num" }, r.version),
        el("td", { class: "num" }, r.rated ? fixed(r.elo, 0) : "not rated"),
        el("td", {}, r.rated ? `${fixed(r.elo_low, 0)} … ${fixed(r.elo_high, 0)}` : ""),
        el("td", { class: "num" }, r.matches === 0 ? "no matches" : r.matches),
        el("td", { class: "num" }, fixed(r.points, 1)),
        el("td", { class: "num" }, r.wins),
        el("td", { class: "num" }, r.draws),
        el("td", { class: "num" }, r.losses),
        el("td", { class: "num" }, fixed(r.average_place, 2)),
        el("td", { class: "num" }, fixed(r.time_per_move_ms, 0)),
        el("td", { class: "num" }, fixed(r.cpu_per_move_ms, 0)),
        el("td", {}, reasons(r.disqualified))));
}

// Disqualifications by plain reason ("crashed 2, timed out 1"), or nothing.
function reasons(byReason) {
    return Object.entries(byReason || {}).map(([reason, n]) => `${reason} ${n}`).join(", ");
}

// The limit in force as a phrase, as the text report gives it.
function limitText(limits) {
    const one = (l) => [l.time_ms ? `${l.time_ms / 1000} s per move` : "", l.depth ? `depth ${l.depth}` : ""]
        .filter((p) => p).join(", ") || "no limit";
    return (limits || []).map(one).join("; ") || "none yet";
}

const StandingsPage = {
    tables: null,

    start() {
        document.getElementById("map").addEventListener("change", () => this.showMap());
        poll("/api/standings", (tables) => this.show(tables));
    },

    show(tables) {
        this.tables = tables;
        const p = tables.progress || { needed: 0, done: 0, running: 0 };
        const share = p.needed ? p.done / p.needed : 1;
        document.getElementById("progress-bar").style.width = `${(100 * share).toFixed(1)}%`;
        document.getElementById("progress-text").textContent =
            `${p.done} of ${p.needed} matches played, ${p.running} running, ${Math.max(0, p.needed - p.done - p.running)} waiting`;
        replaceRows(document.getElementById("queue"), (tables.queue || []).map((q) => el("tr", {},
            el("td", {}, q.id), el("td", {}, q.running ? "running" : "waiting"), el("td", {}, q.map),
            el("td", {}, q.bots.join(" · ")))));
        document.getElementById("limit").textContent = limitText(tables.limits);
        document.getElementById("order").textContent = tables.order || "";
        replaceRows(document.getElementById("standings"), standingRows(tables.standings));
        this.mapChoices(tables.maps);
        this.showMap();
        this.crosstable(tables.crosstable);
        replaceRows(document.getElementById("aborted"), tables.aborted.length ? tables.aborted.map((a) => el("tr", {},
            el("td", {}, el("a", { href: `/match/${encodeURIComponent(a.match)}` }, a.match)),
            el("td", {}, a.end), el("td", {}, a.reason)))
            : [el("tr", {}, el("td", { colspan: "3", class: "muted" }, "No aborted matches."))]);
        document.body.dataset.matches = tables.matches;
    },

    mapChoices(maps) {
        const select = document.getElementById("map");
        const chosen = select.value;
        select.replaceChildren(...maps.map((m) => el("option", { value: String(m.map_id) }, m.map)));
        if (maps.some((m) => String(m.map_id) === chosen)) select.value = chosen;
    },

    showMap() {
        const id = document.getElementById("map").value;
        const map = (this.tables ? this.tables.maps : []).find((m) => String(m.map_id) === id);
        replaceRows(document.getElementById("map-standings"), map ? standingRows(map.standings) : []);
    },

    crosstable(cross) {
        const table = document.getElementById("crosstable");
        table.tHead.replaceChildren(el("tr", {}, el("th", {}), ...cross.bots.map((b) => el("th", {}, b))));
        replaceRows(table, cross.cells.map((row, i) => el("tr", {}, el("th", {}, cross.bots[i]),
            ...row.map((c) => el("td", { class: "num" }, c ? `${fixed(c.score, 1)} / ${c.matches}` : "")))));
    },
};

// --- A bot: versions with their ratings, standing, disqualifications, latest matches ----------

const BotPage = {
    start() {
        const name = new URLSearchParams(location.search).get("name") || "";
        document.getElementById("name").textContent = name;
        document.title = `Bot ${name}`;
        poll(`/api/bots/${encodeURIComponent(name)}`, (bot) => this.show(bot));
    },

    show(bot) {
        replaceRows(document.getElementById("versions"), bot.versions.map((v) => el("tr", {},
            el("td", { class: "num" }, v.version), el("td", {}, el("code", {}, v.command)),
            el("td", {}, v.current ? "yes" : ""), el("td", { class: "num" }, v.matches),
            el("td", { class: "num" }, fixed(v.elo, 0)))));
        replaceRows(document.getElementById("standing"), bot.standings.map((r) => el("tr", {},
            el("td", { class: "num" }, r.version), el("td", { class: "num" }, r.rated ? fixed(r.elo, 0) : "not rated"),
            el("td", {}, r.rated ? `${fixed(r.elo_low, 0)} … ${fixed(r.elo_high, 0)}` : ""),
            el("td", { class: "num" }, r.matches), el("td", { class: "num" }, fixed(r.points, 1)),
            el("td", { class: "num" }, fixed(r.average_place, 2)))));
        const matchLink = (id) => el("a", { href: `/match/${encodeURIComponent(id)}` }, id);
        replaceRows(document.getElementById("disqualifications"), bot.disqualifications.map((d) =>
            el("tr", {}, el("td", {}, matchLink(d.match)), el("td", { class: "num" }, d.seat), el("td", {}, plainReason(d.plain, d.reason)))));
        replaceRows(document.getElementById("matches"), bot.matches.map((m) => el("tr", {},
            el("td", {}, matchLink(m.id)), el("td", {}, m.map || ""), el("td", {}, m.end),
            el("td", {}, m.seats.map((s) => `${s.bot} (${s.rank}, ${s.score}${s.disqualified ? ", out" : ""})`).join(" · ")))));
    },
};

const pages = { team: TeamPage, standings: StandingsPage, bot: BotPage };
const page = pages[document.body.dataset.page];
if (page) page.start();
