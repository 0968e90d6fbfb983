// SPDX-License-Identifier: MIT
// Zpmoni operator console. Every text from the server goes into the page through textContent.
'use strict';

(function () {
const $ = (id) => document.getElementById(id);
const MAX_EVENTS = 2000, MAX_CHAT = 1000, MAX_LOG = 500, MAX_SAMPLES = 360;

const state = {
    session: null,          // {operator, role, csrf}
    tab: 'overview',
    status: null,
    players: [],
    sort: {key: 'user', dir: 1},
    events: [],
    lastEvent: 0,
    chat: [],
    lastChat: 0,
    bans: [],
    serverLog: [],
    schedule: [],
    rates: {interval: 10, samples: []},
    pending: null,          // live rate readings for the sample being built
    ws: null,
    wsTries: 0,
    wsTimer: null,
};

// ---- helpers -------------------------------------------------------------------------------

function el(tag, text, cls) {
    const e = document.createElement(tag);
    if (text !== undefined && text !== null) e.textContent = String(text);
    if (cls) e.className = cls;
    return e;
}

function setText(id, text) { $(id).textContent = text === undefined || text === null ? '—' : String(text); }

function fmtTime(t) {
    if (t === null || t === undefined) return '—';
    return new Date(t * 1000).toLocaleString('ja-JP', {hour12: false});
}

function fmtClock(t) {
    return new Date(t * 1000).toLocaleTimeString('ja-JP', {hour12: false});
}

function fmtDuration(seconds) {
    if (seconds === null || seconds === undefined || seconds < 0) return '';
    const d = Math.floor(seconds / 86400), h = Math.floor(seconds % 86400 / 3600), m = Math.floor(seconds % 3600 / 60);
    if (d) return d + '日' + h + '時間';
    if (h) return h + '時間' + m + '分';
    return m + '分';
}

function fmtRate(v) {
    if (typeof v !== 'number' || !isFinite(v)) return '—';
    if (v >= 1048576) return (v / 1048576).toFixed(1) + ' MB/s';
    if (v >= 1024) return (v / 1024).toFixed(1) + ' KB/s';
    return Math.round(v) + ' B/s';
}

function fmtBytesShort(v) {
    if (v >= 1048576) return (v / 1048576).toFixed(1) + 'M';
    if (v >= 1024) return (v / 1024).toFixed(v >= 10240 ? 0 : 1) + 'K';
    return String(Math.round(v));
}

const CAUSES = {operator: '操作員', schedule: '予定', crash: '異常終了', hang: '応答なし'};
const ACTIONS = {start: '起動', stop: '停止', restart: '再起動', takeover: '制御を引き継ぐ'};
const KINDS = {logon: 'ログオン', logoff: 'ログオフ', join: '参加', leave: '離脱', ban: 'アクセス禁止',
    server: 'サーバー', other: 'その他'};

function label(map, key) { return Object.prototype.hasOwnProperty.call(map, key) ? map[key] : String(key); }

function isAdmin() { return state.session && state.session.role === 'admin'; }

// ---- notices and the dialog ----------------------------------------------------------------

let noticeTimer = null;
function notice(text, ok) {
    setText('notice-text', text);
    $('notice').className = ok ? 'ok' : 'error';
    $('notice').hidden = false;
    clearTimeout(noticeTimer);
    noticeTimer = setTimeout(() => { $('notice').hidden = true; }, ok ? 4000 : 10000);
}

// Resolves to the entered text (or '' without an input field) on OK, null on cancel.
function ask(text, inputLabel, initial) {
    const dlg = $('dialog');
    if (dlg.open) return Promise.resolve(null);  // one question at a time
    setText('dialog-text', text);
    $('dialog-label').hidden = !inputLabel;
    $('dialog-label-text').textContent = inputLabel || '';
    $('dialog-input').value = initial || '';
    return new Promise((resolve) => {
        dlg.returnValue = 'cancel';
        dlg.addEventListener('close', () => {
            resolve(dlg.returnValue === 'ok' ? (inputLabel ? $('dialog-input').value : '') : null);
        }, {once: true});
        dlg.showModal();
        (inputLabel ? $('dialog-input') : $('dialog-ok')).focus();
    });
}

// ---- the API -------------------------------------------------------------------------------

class ApiError extends Error {
    constructor(status, text) { super(text); this.status = status; }
}

async function api(method, path, body) {
    const headers = {};
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    if (method !== 'GET' && state.session && state.session.csrf) headers['X-CSRF-Token'] = state.session.csrf;
    let res;
    try {
        res = await fetch(path, {method, headers, credentials: 'same-origin', cache: 'no-store',
            body: body === undefined ? undefined : JSON.stringify(body)});
    } catch (e) {
        throw new ApiError(0, 'サーバーに接続できません');
    }
    let data = null;
    try { data = await res.json(); } catch (e) { data = null; }
    if (!res.ok) {
        const text = data && typeof data.error === 'string' ? data.error : 'HTTP ' + res.status;
        if (res.status === 401 && path !== '/api/v1/login') loggedOut();
        throw new ApiError(res.status, text);
    }
    return data || {};
}

// Runs an action, shows its error if any; true when it went through.
async function act(method, path, body, done) {
    try {
        const r = await api(method, path, body);
        if (done) notice(done, true);
        return r || {};
    } catch (e) {
        notice(e.message, false);
        return null;
    }
}

// ---- session -------------------------------------------------------------------------------

function loggedIn(session) {
    state.session = session;
    document.body.classList.toggle('viewer', !isAdmin());
    setText('operator', session.operator + (isAdmin() ? ' (管理者)' : ' (閲覧者)'));
    $('login').hidden = true;
    $('top').hidden = false;
    showTab(location.hash.replace('#', '') || state.tab);
    loadAll().then(connectLive);
}

function loggedOut() {
    state.session = null;
    closeLive();
    $('top').hidden = true;
    document.querySelectorAll('.tab').forEach((t) => { t.hidden = true; });
    $('login').hidden = false;
    $('login-token').focus();
}

$('login-form').addEventListener('submit', async (ev) => {
    ev.preventDefault();
    const token = $('login-token').value.trim();
    try {
        const s = await api('POST', '/api/v1/login', {token});
        $('login-token').value = '';
        $('notice').hidden = true;
        loggedIn(s);
    } catch (e) {
        notice(e.status === 401 ? 'トークンが正しくありません' : e.message, false);
    }
});

$('logout').addEventListener('click', async () => {
    await act('POST', '/api/v1/logout');
    loggedOut();
});

$('notice-close').addEventListener('click', () => { $('notice').hidden = true; });

// ---- tabs ----------------------------------------------------------------------------------

function showTab(name) {
    if (!$('tab-' + name)) name = 'overview';
    state.tab = name;
    document.querySelectorAll('.tab').forEach((t) => { t.hidden = t.id !== 'tab-' + name; });
    document.querySelectorAll('#tabs button').forEach((b) => b.classList.toggle('active', b.dataset.tab === name));
    if (location.hash !== '#' + name) history.replaceState(null, '', '#' + name);
    if (name === 'overview') drawChart();
    if (name === 'server') loadServer();
    if (name === 'chat') scrollChat();
}

document.querySelectorAll('#tabs button').forEach((b) => b.addEventListener('click', () => showTab(b.dataset.tab)));
window.addEventListener('hashchange', () => { if (state.session) showTab(location.hash.replace('#', '')); });

async function loadAll() {
    const get = (path) => api('GET', path).catch((e) => { notice(e.message, false); return null; });
    const [status, rates, players, events, chat, bans, server] = await Promise.all([
        get('/api/v1/status'), get('/api/v1/rates'), get('/api/v1/players'), get('/api/v1/events?since=0'),
        get('/api/v1/chat?since=0'), get('/api/v1/bans'), get('/api/v1/server')]);
    if (!state.session) return;
    if (rates && Array.isArray(rates.samples)) {
        state.rates = {interval: rates.interval || 10, samples: rates.samples.slice(-MAX_SAMPLES)};
        state.pending = null;
    }
    if (status) onStatus(status);
    if (players) onPlayers(players.players || []);
    if (events) {
        // A monitor started anew counts from the start again: nothing of the old numbers is kept.
        state.events = [];
        state.lastEvent = 0;
        (events.events || []).forEach(addEvent);
        state.lastEvent = Math.max(state.lastEvent, events.last || 0);
        renderEvents();
    }
    if (chat) {
        state.chat = [];
        state.lastChat = 0;
        $('chat-list').replaceChildren();
        (chat.chat || []).forEach(addChat);
        state.lastChat = Math.max(state.lastChat, chat.last || 0);
    }
    if (bans) onBans(bans.bans || [], bans.installed);
    if (server) onServer(server);
}

// ---- overview ------------------------------------------------------------------------------

function serverState(s) {
    if (!s) return '—';
    if (s.running) return '稼働中';
    return s.supervised === false ? '停止 (監視外)' : '停止';
}

function restartText(s) {
    if (!s || s.lastRestart === null || s.lastRestart === undefined) return '—';
    return fmtTime(s.lastRestart) + (s.lastRestartCause ? ' (' + label(CAUSES, s.lastRestartCause) + ')' : '');
}

function upText(s, now) {
    if (!s || !s.running || s.upSince === null || s.upSince === undefined) return '—';
    return fmtTime(s.upSince) + ' (' + fmtDuration(now - s.upSince) + ')';
}

function fillNext(list, next) {
    const ul = $(list);
    ul.replaceChildren();
    if (!next || !next.length) { ul.append(el('li', '予定なし', 'muted')); return; }
    next.forEach((n) => ul.append(el('li', fmtTime(n.time) + '  ' + label(ACTIONS, n.action))));
}

function onStatus(st) {
    state.status = st;
    const s = st.server || {}, now = st.time || Date.now() / 1000;
    setText('ov-line', st.statusLine || '');
    setText('ov-state', serverState(s));
    $('ov-state').className = s.running ? 'good' : 'bad';
    setText('ov-pid', s.pid);
    setText('ov-up', upText(s, now));
    setText('ov-restart', restartText(s));
    const p = st.players || {};
    setText('ov-online', p.online);
    setText('ov-flying', p.flying);
    const r = st.rates || {};
    setText('ov-in', fmtRate(r.bytesInPerSecond));
    setText('ov-out', fmtRate(r.bytesOutPerSecond));
    const g = st.glimit || {};
    setText('ov-glimit', !g.enabled ? '無効' : (g.connected ? '接続中' : '未接続') +
        (g.min !== undefined && g.max !== undefined ? ' (' + g.min + ' 〜 ' + g.max + ' G)' : ''));
    const c = st.client || {};
    setText('ov-client', !c.started ? '停止' : c.connected ? 'ログオン中' : '未ログオン');
    const cap = st.capture || {};
    setText('ov-capture', (cap.running ? '動作中' : '停止') + ' / 取りこぼし ' + (cap.drops || 0));
    $('ov-capture').className = cap.drops ? 'bad' : '';
    const b = st.bans || {};
    setText('ov-bans', (b.entries || 0) + ' 件' + (b.installed === false ? ' (規則未設定)' : ''));
    fillNext('ov-next', st.next);
    fillServerState(s, now);
    updateChatForm();
    addRateReading(now, r.bytesInPerSecond, r.bytesOutPerSecond);
}

// Live readings every second are averaged into samples of the same interval as /rates gives.
function addRateReading(now, rin, rout) {
    if (typeof rin !== 'number' || typeof rout !== 'number') return;
    const step = state.rates.interval, samples = state.rates.samples;
    const last = samples.length ? samples[samples.length - 1].time : 0;
    if (now <= last) return;
    if (!state.pending) state.pending = {start: now, in: 0, out: 0, n: 0};
    const pd = state.pending;
    pd.in += rin; pd.out += rout; pd.n += 1;
    if (now - Math.max(pd.start, last) >= step - 0.5 || now - last >= step) {
        samples.push({time: now, in: pd.in / pd.n, out: pd.out / pd.n});
        while (samples.length > MAX_SAMPLES) samples.shift();
        state.pending = null;
        if (state.tab === 'overview') drawChart();
    }
}

function drawChart() {
    const canvas = $('rate-chart');
    if (!canvas || canvas.offsetParent === null) return;
    const dpr = window.devicePixelRatio || 1, w = canvas.clientWidth, h = canvas.clientHeight;
    canvas.width = Math.round(w * dpr);
    canvas.height = Math.round(h * dpr);
    const g = canvas.getContext('2d');
    g.setTransform(dpr, 0, 0, dpr, 0, 0);
    g.clearRect(0, 0, w, h);
    const css = getComputedStyle(canvas);
    const colIn = css.getPropertyValue('--in').trim() || '#1f77b4';
    const colOut = css.getPropertyValue('--out').trim() || '#ff7f0e';
    const colGrid = css.getPropertyValue('--grid').trim() || '#ccc';
    const colText = css.getPropertyValue('color') || '#333';
    const samples = state.rates.samples;
    const end = state.status && state.status.time ? state.status.time : Date.now() / 1000;
    const start = end - 3600;
    const left = 48, right = 8, top = 8, bottom = 20;
    const pw = w - left - right, ph = h - top - bottom;
    let max = 1024;
    samples.forEach((s) => { if (s.time >= start) max = Math.max(max, s.in, s.out); });
    // A round top (1, 2, 4 or 8 times a power of ten, in bytes, KiB or MiB) so that the four grid steps read well.
    const unit = max >= 1048576 ? 1048576 : max >= 1024 ? 1024 : 1;
    const mag = Math.pow(10, Math.floor(Math.log10(max / unit)));
    max = unit * mag * ([1, 2, 4, 8, 10].find((f) => f * mag * unit >= max) || 10);
    g.font = '11px sans-serif';
    g.fillStyle = colText;
    g.strokeStyle = colGrid;
    g.lineWidth = 1;
    for (let i = 0; i <= 4; i++) {
        const y = top + ph - ph * i / 4;
        g.beginPath(); g.moveTo(left, y + 0.5); g.lineTo(w - right, y + 0.5); g.stroke();
        g.textAlign = 'right'; g.textBaseline = 'middle';
        g.fillText(fmtBytesShort(max * i / 4), left - 4, y);
    }
    g.textAlign = 'center'; g.textBaseline = 'top';
    [[0, '-60分'], [0.25, '-45分'], [0.5, '-30分'], [0.75, '-15分'], [1, '現在']].forEach(([f, t]) => {
        g.fillText(t, Math.min(Math.max(left + pw * f, left + 14), w - right - 14), top + ph + 4);
    });
    const line = (key, color) => {
        g.strokeStyle = color; g.lineWidth = 1.5; g.beginPath();
        let started = false, prev = null;
        samples.forEach((s) => {
            if (s.time < start) return;
            const x = left + pw * (s.time - start) / 3600, y = top + ph - ph * s[key] / max;
            // A gap of more than two intervals is left open.
            if (!started || (prev !== null && s.time - prev > 2 * state.rates.interval + 1)) g.moveTo(x, y);
            else g.lineTo(x, y);
            started = true; prev = s.time;
        });
        g.stroke();
    };
    line('in', colIn);
    line('out', colOut);
}
window.addEventListener('resize', () => { if (state.tab === 'overview') drawChart(); });

// ---- players -------------------------------------------------------------------------------

const playerRows = new Map();   // "address:port" -> row

function playerKey(p) { return p.address + ':' + p.port; }

function playerRow(p) {
    const tr = document.createElement('tr');
    for (let i = 0; i < 7; i++) tr.append(el('td'));
    tr.cells[5].className = tr.cells[6].className = 'num';
    const ops = el('td', null, 'ops');
    const ban = el('button', '禁止', 'danger admin-only');
    ban.type = 'button';
    ban.dataset.op = 'ban';
    ban.addEventListener('click', () => banPlayer(tr.player));
    const copy = el('button', 'コピー');
    copy.type = 'button';
    copy.dataset.op = 'copy';
    copy.addEventListener('click', () => copyText(tr.player.address));
    ops.append(ban, copy);
    tr.append(ops);
    return tr;
}

function onPlayers(players) {
    state.players = Array.isArray(players) ? players : [];
    renderPlayers();
}

function renderPlayers() {
    const filter = $('player-filter').value.trim().toLowerCase();
    const {key, dir} = state.sort;
    const list = state.players.filter((p) => !filter ||
        [p.user, p.aircraft, p.address, p.host].some((v) => String(v || '').toLowerCase().includes(filter)));
    list.sort((a, b) => {
        let x = a[key], y = b[key];
        if (key === 'address') { x = addrNum(a.address) * 65536 + (a.port || 0); y = addrNum(b.address) * 65536 + (b.port || 0); }
        if (typeof x === 'number' && typeof y === 'number') return (x - y) * dir;
        return String(x || '').localeCompare(String(y || ''), 'ja') * dir;
    });
    const body = $('players').tBodies[0], seen = new Set();
    list.forEach((p) => {
        const k = playerKey(p);
        seen.add(k);
        let tr = playerRows.get(k);
        if (!tr) { tr = playerRow(p); playerRows.set(k, tr); }
        tr.player = p;
        tr.dataset.user = p.user || '';
        tr.dataset.address = p.address || '';
        const c = tr.cells;
        c[0].textContent = p.user || '';
        c[1].textContent = p.aircraft || '';
        c[2].textContent = p.address + (p.port ? ':' + p.port : '');
        c[3].textContent = p.host || '';
        c[4].textContent = fmtTime(p.logon);
        c[5].textContent = fmtRate(p.rateIn);
        c[6].textContent = fmtRate(p.rateOut);
        tr.classList.toggle('flying', !!p.flying);
        body.append(tr);  // moves an existing row into sorted place
    });
    for (const [k, tr] of playerRows) if (!seen.has(k)) { tr.remove(); playerRows.delete(k); }
    setText('player-count', list.length + ' / ' + state.players.length + ' 人');
    document.querySelectorAll('#players th[data-key]').forEach((th) => {
        th.classList.toggle('asc', th.dataset.key === key && dir > 0);
        th.classList.toggle('desc', th.dataset.key === key && dir < 0);
    });
}

function addrNum(a) {
    const p = String(a || '').split('.').map(Number);
    return p.length === 4 ? ((p[0] * 256 + p[1]) * 256 + p[2]) * 256 + p[3] : 0;
}

document.querySelectorAll('#players th[data-key]').forEach((th) => th.addEventListener('click', () => {
    const key = th.dataset.key;
    state.sort = {key, dir: state.sort.key === key ? -state.sort.dir : 1};
    renderPlayers();
}));
$('player-filter').addEventListener('input', renderPlayers);

async function banPlayer(p) {
    if (!p) return;
    const comment = await ask(p.user + ' (' + p.address + ') をアクセス禁止にします。', 'コメント', '');
    if (comment === null) return;
    const r = await act('POST', '/api/v1/bans', {address: p.address, mask: '', comment: comment.trim()},
        p.address + ' をアクセス禁止にしました');
    if (r) loadBans();
}

async function copyText(text) {
    try {
        if (navigator.clipboard && window.isSecureContext) {
            await navigator.clipboard.writeText(text);
            notice(text + ' をコピーしました', true);
            return;
        }
    } catch (e) { /* falls back below */ }
    const ta = el('textarea');
    ta.value = text;
    ta.className = 'offscreen';
    document.body.append(ta);
    ta.select();
    let ok = false;
    try { ok = document.execCommand('copy'); } catch (e) { ok = false; }
    ta.remove();
    if (ok) notice(text + ' をコピーしました', true);
    else await ask('コピーできませんでした。手動でコピーしてください。', 'アドレス', text);
}

// ---- events --------------------------------------------------------------------------------

function addEvent(e) {
    if (!e || typeof e.seq !== 'number') return false;
    if (state.events.length && e.seq <= state.events[state.events.length - 1].seq) return false;
    state.events.push(e);
    if (state.events.length > MAX_EVENTS) state.events.shift();
    state.lastEvent = Math.max(state.lastEvent, e.seq);
    return true;
}

function eventRow(e) {
    const tr = document.createElement('tr');
    tr.append(el('td', fmtTime(e.time), 'time'), el('td', label(KINDS, e.kind), 'kind kind-' + String(e.kind).replace(/[^a-z]/g, '')),
        el('td', e.text, 'text'));
    return tr;
}

// Newest first.
function renderEvents() {
    const kind = $('event-kind').value, body = $('events').tBodies[0];
    const rows = [];
    for (let i = state.events.length - 1; i >= 0; i--) {
        if (!kind || state.events[i].kind === kind) rows.push(eventRow(state.events[i]));
    }
    body.replaceChildren(...rows);
    setText('event-count', rows.length + ' 件');
}

function onEvent(e) {
    if (!addEvent(e)) return;
    const kind = $('event-kind').value;
    if (kind && e.kind !== kind) return;
    const body = $('events').tBodies[0];
    body.prepend(eventRow(e));
    while (body.rows.length > MAX_EVENTS) body.lastElementChild.remove();
    setText('event-count', body.rows.length + ' 件');
}

$('event-kind').addEventListener('change', renderEvents);

// ---- chat ----------------------------------------------------------------------------------

function addChat(c) {
    if (!c || typeof c.seq !== 'number' || c.seq <= state.lastChat) return;
    state.chat.push(c);
    state.lastChat = Math.max(state.lastChat, c.seq);
    const list = $('chat-list');
    const li = el('li');
    li.append(el('span', fmtClock(c.time), 'time'), el('span', c.text, 'text'));
    const atEnd = list.scrollTop + list.clientHeight >= list.scrollHeight - 8;
    list.append(li);
    while (state.chat.length > MAX_CHAT) { state.chat.shift(); list.firstElementChild.remove(); }
    if (atEnd) scrollChat();
}

function scrollChat() { const l = $('chat-list'); l.scrollTop = l.scrollHeight; }

function updateChatForm() {
    const c = state.status && state.status.client;
    let note = '';
    if (!isAdmin()) note = '閲覧者はチャットを送信できません。';
    else if (!c || !c.connected) note = 'クライアント接続がサーバーにログオンしていないため、送信できません。';
    $('chat-note').hidden = !note;
    $('chat-note').textContent = note;
    $('chat-text').disabled = $('chat-send').disabled = !!note;
}

$('chat-form').addEventListener('submit', async (ev) => {
    ev.preventDefault();
    const text = $('chat-text').value.trim();
    if (!text) return;
    // eslint-disable-next-line no-control-regex
    if (/[\u0000-\u001f\u007f]/.test(text)) { notice('制御文字は送信できません', false); return; }
    $('chat-send').disabled = true;
    const r = await act('POST', '/api/v1/chat', {text});
    $('chat-send').disabled = false;
    if (r) $('chat-text').value = '';
    updateChatForm();
});

// ---- bans ----------------------------------------------------------------------------------

function onBans(bans, installed) {
    state.bans = Array.isArray(bans) ? bans : [];
    $('bans-note').hidden = installed !== false;
    $('bans-note').textContent = installed === false ? 'パケットフィルタに規則が入っていません。禁止は効いていません。' : '';
    const body = $('bans').tBodies[0];
    body.replaceChildren(...state.bans.map((b) => {
        const tr = document.createElement('tr');
        tr.dataset.address = b.address || '';
        tr.append(el('td', b.address), el('td', b.mask || '—'), el('td', b.block || '—'), el('td', b.comment, 'text'),
            el('td', b.inForce ? '有効' : '無効', b.inForce ? 'good' : 'bad'), el('td', fmtTime(b.until)));
        const td = el('td', null, 'admin-only ops');
        const rm = el('button', '解除', 'danger');
        rm.type = 'button';
        rm.addEventListener('click', () => unban(b));
        td.append(rm);
        tr.append(td);
        return tr;
    }));
    if (!state.bans.length) {
        const tr = document.createElement('tr'), td = el('td', '登録なし', 'muted');
        td.colSpan = 7;
        tr.append(td);
        body.append(tr);
    }
}

async function loadBans() {
    const r = await api('GET', '/api/v1/bans').catch((e) => { notice(e.message, false); return null; });
    if (r) onBans(r.bans || [], r.installed);
}

async function unban(b) {
    // One host by its address, a block by its CIDR form.
    const target = b.block && !String(b.block).endsWith('/32') ? b.block : b.address;
    if (await ask(target + ' のアクセス禁止を解除しますか?') === null) return;
    const r = await act('DELETE', '/api/v1/bans?address=' + encodeURIComponent(target));
    if (r) { notice(target + ': ' + (r.removed || 0) + ' 件解除しました', true); loadBans(); }
}

$('ban-form').addEventListener('submit', async (ev) => {
    ev.preventDefault();
    const address = $('ban-address').value.trim(), mask = $('ban-mask').value.trim();
    const comment = $('ban-comment').value.trim();
    if (!address) return;
    const r = await act('POST', '/api/v1/bans', {address, mask, comment}, address + ' をアクセス禁止にしました');
    if (r) { $('ban-address').value = $('ban-mask').value = $('ban-comment').value = ''; loadBans(); }
});

// ---- server --------------------------------------------------------------------------------

function fillServerState(s, now) {
    setText('sv-state', serverState(s));
    $('sv-state').className = s && s.running ? 'good' : 'bad';
    setText('sv-pid', s && s.pid);
    setText('sv-up', upText(s, now));
    setText('sv-restart', restartText(s));
    setText('sv-supervised', s && s.supervised ? 'あり' : 'なし');
}

function onServer(r) {
    if (r.server) fillServerState(r.server, state.status ? state.status.time : Date.now() / 1000);
    fillNext('sv-schedule', r.schedule);
    state.serverLog = [];
    $('sv-log').replaceChildren();
    (r.log || []).forEach(addServerLog);
}

function addServerLog(l) {
    if (!l) return;
    state.serverLog.push(l);
    const li = el('li');
    li.append(el('span', fmtTime(l.time), 'time'), el('span', l.text, 'text'));
    $('sv-log').prepend(li);
    while (state.serverLog.length > MAX_LOG) { state.serverLog.shift(); $('sv-log').lastElementChild.remove(); }
}

async function loadServer() {
    const r = await api('GET', '/api/v1/server').catch(() => null);
    if (r) onServer(r);
}

const CONFIRM = {
    start: 'サーバーを起動しますか?',
    stop: 'サーバーを停止しますか? 接続中のプレイヤーは切断されます。',
    restart: 'サーバーを再起動しますか? 接続中のプレイヤーは切断されます。',
    takeover: '動作中のサーバーのウィンドウを制御下に置きますか?',
};

document.querySelectorAll('#tab-server button[data-action]').forEach((b) => b.addEventListener('click', async () => {
    const action = b.dataset.action;
    if (await ask(CONFIRM[action]) === null) return;
    const r = await act('POST', '/api/v1/server/' + action, undefined, label(ACTIONS, action) + 'を受け付けました');
    if (r) loadServer();
}));

// ---- live updates --------------------------------------------------------------------------

function setLink(up) {
    $('link').textContent = up ? 'ライブ' : '再接続中';
    $('link').className = up ? 'link-up' : 'link-down';
}

function connectLive() {
    if (!state.session || state.ws) return;
    const proto = location.protocol === 'https:' ? 'wss:' : 'ws:';
    const ws = new WebSocket(proto + '//' + location.host + '/api/v1/live?events=' + state.lastEvent +
        '&chat=' + state.lastChat);
    state.ws = ws;
    ws.onopen = () => {
        // Events and chat resume from the sequence numbers; the rest is fetched again.
        if (state.wsTries > 0) { loadBans(); loadServer(); }
        state.wsTries = 0;
        setLink(true);
    };
    ws.onmessage = (m) => {
        let msg;
        try { msg = JSON.parse(m.data); } catch (e) { return; }
        if (!msg || typeof msg !== 'object') return;
        switch (msg.type) {
        case 'status': if (msg.status) onStatus(msg.status); break;
        case 'players': onPlayers(msg.players); break;
        case 'event': onEvent(msg.event); break;
        case 'chat': addChat(msg.chat); break;
        case 'bans': onBans(msg.bans, msg.installed); break;
        case 'server': addServerLog(msg.log); break;
        default: break;
        }
    };
    ws.onclose = () => {
        if (state.ws !== ws) return;
        state.ws = null;
        setLink(false);
        if (!state.session) return;
        const delay = Math.min(30000, 1000 * Math.pow(2, state.wsTries++)) * (0.75 + Math.random() * 0.5);
        state.wsTimer = setTimeout(async () => {
            state.wsTimer = null;
            // A lapsed session shows the log-in form instead of retrying forever.
            try { await api('GET', '/api/v1/session'); } catch (e) { if (e.status === 401) return; }
            connectLive();
        }, delay);
    };
}

function closeLive() {
    clearTimeout(state.wsTimer);
    state.wsTimer = null;
    const ws = state.ws;
    state.ws = null;
    if (ws) ws.close();
    setLink(false);
}

// ---- start ---------------------------------------------------------------------------------

api('GET', '/api/v1/session').then(loggedIn, () => loggedOut());
})();
