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
            if (!got.unchanged) { etag = got.etag; show(got.body); }
            document.body.removeAttribute("data-error");
        } catch (e) {
            document.body.setAttribute("data-error", e.message);
        }
        setTimeout(tick, POLL_MS);
    };
    tick();
}

// --- Your team: sign in with the token, upload, submissions and their build logs ---------------

const TeamPage = {
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
        if (token()) this.load();
    },

    async load() {
        const error = document.getElementById("login-error");
        try {
            const { body } = await api("/api/submissions", { auth: true });
            error.textContent = "";
            document.getElementById("login").hidden = true;
            document.getElementById("signed-in").hidden = false;
            document.getElementById("team-name").textContent = body.team;
            this.list(body.submissions);
        } catch (e) {
            error.textContent = e.message;
        }
    },

    list(submissions) {
        replaceRows(document.getElementById("submissions"), submissions.map((s) => {
            const link = el("a", { href: `#${s.id}` }, s.id);
            link.addEventListener("click", () => this.showLog(s.id));
            return el("tr", {}, el("td", {}, link), el("td", {}, s.bot), el("td", {}, s.state),
                      el("td", {}, s.created));
        }));
        if (submissions.some((s) => s.state === "building")) setTimeout(() => this.load(), POLL_MS);
    },

    async showLog(id) {
        const { body } = await api(`/api/submissions/${encodeURIComponent(id)}`, { auth: true });
        document.getElementById("log-title").hidden = false;
        document.getElementById("log-title").textContent = `Build log of #${body.id} (${body.bot}, ${body.state})`;
        document.getElementById("log").textContent = body.log;
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
            result.textContent = `Submission #${body.id} is building.`;
            this.load();
        } catch (e) {
            result.textContent = e.message;
        }
    },
};

const pages = { team: TeamPage };
const page = pages[document.body.dataset.page];
if (page) page.start();
