// The site journal page: the table, the timing chart, incidents and
// comments against chronel-web's JSON API. Every text from the server goes
// in as textContent, never as markup; every change request carries the
// session's CSRF token.
'use strict';

(function () {
  const PageRows = 100;
  // Rows a live page holds at most; beyond it the earliest rows drop out.
  const MaxShownRows = 1000;
  // Rows the table draws at most: those in view and the rest of a page
  // around them. A live page holding more stands the others in as empty
  // space of their height, so that a burst costs the browser the layout of
  // these rows, not of all it holds.
  const DrawnRows = PageRows + 20;
  // How long a row that came in live stays marked.
  const FreshMarkMs = 2000;
  const MaxTraces = 12;
  const LiveRetryMs = 3000;
  // Live rows are drawn together at most this often: during a burst the
  // browser lays the table out a few times a second, not once for every
  // block the server sends.
  const LiveDrawMs = 250;
  const TraceGap = 1.5; // a trace's height is 1, with 0.5 between traces

  const LegendTip =
    'Marks in brackets after the event text: malformed, no line, undated, repeated hour, skipped hour, ' +
    'chattering (more than 10 changes within 1 s). In brackets first in the Clock column, in red: clock not ' +
    'synchronised, clock quality poor or bad, clock off by N s. The Legend button says more.';

  // The table's columns, the window's in its order (the clock beside the
  // module time it qualifies). `sort`: the server's sort key; `optional`:
  // shown only when the server sends that field.
  const Columns = [
    { title: 'Module', sort: 'module', fill: (td, r) => { td.textContent = r.module; } },
    { title: 'Name', fill: (td, r) => { td.textContent = r.moduleName || ''; } },
    { title: 'Module time', sort: 'time', fill: (td, r) => { td.textContent = (r.moduleTime || '').replace('T', ' '); } },
    { title: 'Clock', tip: LegendTip, fill: fillClock },
    { title: 'Point', sort: 'point', num: true, fill: (td, r) => { td.textContent = r.point ? String(r.point) : ''; } },
    { title: 'Description', fill: (td, r) => { td.textContent = r.pointDescription || ''; } },
    { title: 'State', fill: (td, r) => { td.textContent = r.stateText || ''; } },
    { title: 'Event text', sort: 'text', tip: LegendTip, fill: fillText },
    { title: 'Quality', optional: 'quality', num: true, fill: (td, r) => { td.textContent = String(r.quality); } },
    { title: 'Received', optional: 'received', fill: (td, r) => { td.textContent = String(r.received); } },
    { title: 'Comments', fill: fillComments },
  ];

  const state = {
    user: null, // {name, role, csrf}
    modules: [],
    applied: {}, // the filter the page shows: from, to, module, point, grep
    sort: 'time',
    desc: true,
    offset: 0,
    total: 0,
    more: false,
    order: 'utc',
    lastId: 0,
    rows: [], // the rows shown, in the table's order
    ids: new Set(),
    selected: new Set(), // ids of selected rows
    columns: Columns.filter((c) => !c.optional),
    live: null, // EventSource
    liveRetry: 0,
    liveAdded: 0,
    liveElsewhere: 0,
    fresh: new Set(), // ids of rows marked as come in live
    livePending: [], // rows come in live, not drawn yet
    liveDrawTimer: 0,
    liveDrawnAt: -Infinity, // performance.now() of the last drawing
    eventPanelId: null,
    incidentId: null,
  };

  const $ = (id) => document.getElementById(id);

  function el(tag, text, cls) {
    const e = document.createElement(tag);
    if (text !== undefined && text !== null) e.textContent = String(text);
    if (cls) e.className = cls;
    return e;
  }

  function clear(node) {
    while (node.firstChild) node.removeChild(node.firstChild);
  }

  // ---- the server ---------------------------------------------------------

  class ApiError extends Error {
    constructor(status, words, body) {
      super(words);
      this.status = status;
      this.body = body;
    }
  }

  async function api(method, path, body) {
    const headers = { Accept: 'application/json' };
    if (method !== 'GET' && state.user) headers['X-CSRF-Token'] = state.user.csrf;
    const init = { method, headers, credentials: 'same-origin', cache: 'no-store' };
    if (body !== undefined) {
      headers['Content-Type'] = 'application/json';
      init.body = JSON.stringify(body);
    }
    let res;
    try {
      res = await fetch(path, init);
    } catch (e) {
      throw new ApiError(0, 'the server cannot be reached (' + e.message + ')');
    }
    let data = null;
    try {
      data = await res.json();
    } catch (e) {
      data = null;
    }
    if (res.status === 401 && path !== '/api/login') {
      showLogin('The session has ended: log in again.');
      throw new ApiError(401, 'not logged in', data);
    }
    if (!res.ok) {
      const words = data && typeof data.error === 'string' ? data.error : res.status + ' ' + res.statusText;
      throw new ApiError(res.status, words, data);
    }
    return data;
  }

  function query(params) {
    const q = new URLSearchParams();
    for (const [k, v] of Object.entries(params)) {
      if (v !== undefined && v !== null && v !== '') q.set(k, String(v));
    }
    return q.toString();
  }

  function filterParams(f) {
    return { from: f.from, to: f.to, module: f.module, point: f.point, grep: f.grep };
  }

  function showError(target, e) {
    if (e instanceof ApiError && e.status === 401) return;
    $(target).textContent = e instanceof Error ? e.message : String(e);
  }

  // ---- logging in and out -------------------------------------------------

  function canChange() {
    return !!state.user && (state.user.role === 'engineer' || state.user.role === 'admin');
  }

  function showLogin(message) {
    stopLive();
    state.user = null;
    $('app').hidden = true;
    $('who').hidden = true;
    $('event-panel').hidden = true;
    $('incident-detail').hidden = true;
    $('login').hidden = false;
    $('login-error').textContent = message || '';
    $('login-password').value = '';
    $('login-name').focus();
  }

  async function showApp(user) {
    state.user = user;
    $('user-name').textContent = user.name;
    $('user-role').textContent = user.role;
    $('who').hidden = false;
    $('login').hidden = true;
    $('app').hidden = false;
    // The server refuses a viewer's changes anyway; the controls go too.
    for (const e of document.querySelectorAll('.needs-engineer')) e.hidden = !canChange();
    $('error').textContent = '';
    try {
      await loadModules();
      await loadPoints();
    } catch (e) {
      showError('error', e);
    }
    applyFilter();
    loadIncidents();
  }

  async function login(ev) {
    ev.preventDefault();
    $('login-error').textContent = '';
    $('login-submit').disabled = true;
    try {
      const user = await api('POST', '/api/login', { name: $('login-name').value, password: $('login-password').value });
      $('login-password').value = '';
      await showApp(user);
    } catch (e) {
      let words = e.message;
      if (e.status === 429 && e.body && e.body.retryAfter) words += ' (try again in ' + e.body.retryAfter + ' s)';
      $('login-error').textContent = words;
    } finally {
      $('login-submit').disabled = false;
    }
  }

  async function logout() {
    try {
      await api('POST', '/api/logout');
    } catch (e) {
      // Logged out on this page whatever the server said.
    }
    showLogin('Logged out.');
  }

  // ---- the filter ---------------------------------------------------------

  async function loadModules() {
    state.modules = (await api('GET', '/api/modules')) || [];
    const select = $('f-module');
    const chosen = select.value;
    clear(select);
    select.appendChild(new Option('All modules', ''));
    for (const m of state.modules) {
      select.appendChild(new Option(m.name ? m.module + '  ' + m.name : m.module, m.module));
    }
    select.value = state.modules.some((m) => m.module === chosen) ? chosen : '';
    const checks = $('i-modules');
    clear(checks);
    for (const m of state.modules) {
      const label = el('label');
      const box = el('input');
      box.type = 'checkbox';
      box.value = m.module;
      label.appendChild(box);
      label.appendChild(document.createTextNode(' ' + (m.name ? m.module + ' ' + m.name : m.module)));
      checks.appendChild(label);
    }
  }

  async function loadPoints() {
    const points = (await api('GET', '/api/points?' + query({ module: $('f-module').value }))) || [];
    const select = $('f-point');
    const chosen = select.value;
    clear(select);
    select.appendChild(new Option('All points', ''));
    for (const p of points) {
      const text = p.point === 0 ? 'No point' : p.description ? p.point + '  ' + p.description : String(p.point);
      select.appendChild(new Option(text, String(p.point)));
    }
    select.value = points.some((p) => String(p.point) === chosen) ? chosen : '';
  }

  function typedFilter() {
    return {
      from: $('f-from').value.trim(),
      to: $('f-to').value.trim(),
      module: $('f-module').value,
      point: $('f-point').value,
      grep: $('f-grep').value,
    };
  }

  function applyFilter() {
    state.applied = typedFilter();
    state.offset = 0;
    state.selected.clear();
    if (!$('i-from').value && state.applied.from) $('i-from').value = state.applied.from;
    if (!$('i-to').value && state.applied.to) $('i-to').value = state.applied.to;
    return loadPage();
  }

  // ---- the table ----------------------------------------------------------

  function fillText(td, r) {
    td.textContent = r.text || '';
    const marks = [];
    if (r.marks) marks.push(r.marks);
    if (r.chattering) marks.push('chattering');
    if (marks.length) td.appendChild(el('span', '  [' + marks.join(', ') + ']', 'mark'));
  }

  function fillClock(td, r) {
    if (r.clockDoubt) {
      td.textContent = '[' + r.clockDoubt + ']  ' + (r.clock || '');
      td.classList.add('doubt');
    } else {
      td.textContent = r.clock || '';
    }
  }

  function fillComments(td, r) {
    const b = el('button', r.comments ? String(r.comments) : '0', r.comments ? 'badge has' : 'badge');
    b.type = 'button';
    b.title = 'Comments on this event';
    b.setAttribute('aria-label', (r.comments || 0) + ' comments on event ' + r.id);
    b.addEventListener('click', (ev) => {
      ev.stopPropagation();
      openEventPanel(r);
    });
    td.appendChild(b);
  }

  function rowElement(r) {
    const tr = document.createElement('tr');
    tr.dataset.id = String(r.id);
    for (const c of state.columns) {
      const td = document.createElement('td');
      if (c.num) td.className = 'num';
      c.fill(td, r);
      tr.appendChild(td);
    }
    if (state.selected.has(r.id)) tr.classList.add('selected');
    if (state.fresh.has(r.id)) tr.classList.add('fresh');
    return tr;
  }

  // The rows drawn, by id, and the height a row stands in for (a guess
  // until a drawn row has been measured).
  const drawn = { rows: new Map(), rowHeight: 20, first: -1, last: -1 };

  // Draws the rows around what is in view: rows already drawn stay as they
  // are, rows that come into the window are made, the rest are taken out.
  function drawRows(force) {
    const n = state.rows.length;
    const wrap = $('journal-wrap');
    let first = 0;
    if (n > DrawnRows) {
      const top = Math.floor(wrap.scrollTop / drawn.rowHeight);
      const inView = Math.ceil(wrap.clientHeight / drawn.rowHeight);
      first = Math.max(0, Math.min(n - DrawnRows, top - ((DrawnRows - inView) >> 1)));
    }
    const last = Math.min(n, first + DrawnRows);
    if (!force && first === drawn.first && last === drawn.last) return;
    drawn.first = first;
    drawn.last = last;
    const body = $('journal-body');
    const keep = new Map();
    const order = [];
    for (let i = first; i < last; ++i) {
      const r = state.rows[i];
      const tr = drawn.rows.get(r.id) || rowElement(r);
      // Stripes by the row's place in the whole table counted from its end,
      // which rows coming in at the top do not change.
      tr.classList.toggle('even', ((n - i) & 1) === 0);
      keep.set(r.id, tr);
      order.push(tr);
    }
    for (const [id, tr] of drawn.rows) if (!keep.has(id)) tr.remove();
    let at = body.firstChild;
    for (const tr of order) {
      if (tr === at) at = at.nextSibling;
      else body.insertBefore(tr, at);
    }
    drawn.rows = keep;
    standIn('journal-above', first);
    standIn('journal-below', n - last);
  }

  function standIn(id, rows) {
    const tbody = $(id);
    tbody.hidden = rows === 0;
    if (rows) tbody.firstElementChild.style.height = rows * drawn.rowHeight + 'px';
  }

  // Drawn again from the rows: a new page, new columns.
  function redrawRows() {
    const body = $('journal-body');
    clear(body);
    drawn.rows = new Map();
    for (const id of ['journal-above', 'journal-below']) {
      $(id).firstElementChild.firstElementChild.colSpan = state.columns.length;
    }
    drawRows(true);
    const sample = body.firstElementChild;
    if (sample) drawn.rowHeight = sample.getBoundingClientRect().height || drawn.rowHeight;
  }

  function buildHead() {
    const head = $('journal-head');
    clear(head);
    for (const c of state.columns) {
      const th = document.createElement('th');
      if (c.tip) th.title = c.tip;
      if (c.sort) {
        const b = el('button', c.title, 'sort');
        b.type = 'button';
        b.dataset.sort = c.sort;
        b.addEventListener('click', () => sortBy(c.sort));
        th.appendChild(b);
        if (state.sort === c.sort) th.setAttribute('aria-sort', state.desc ? 'descending' : 'ascending');
      } else {
        th.textContent = c.title;
      }
      head.appendChild(th);
    }
  }

  function sortBy(key) {
    if (state.sort === key) {
      state.desc = !state.desc;
    } else {
      state.sort = key;
      state.desc = key === 'time';
    }
    state.offset = 0;
    loadPage();
  }

  let pageRequest = 0;

  async function loadPage() {
    const mine = ++pageRequest;
    $('error').textContent = '';
    const params = filterParams(state.applied);
    Object.assign(params, { sort: state.sort, desc: state.desc ? 1 : 0, offset: state.offset, limit: PageRows });
    let page;
    try {
      page = await api('GET', '/api/rows?' + query(params));
    } catch (e) {
      if (mine === pageRequest) {
        showError('error', e);
        stopLive();
      }
      return;
    }
    if (mine !== pageRequest) return; // a later request answers for the page
    const columns = Columns.filter((c) => !c.optional || (page.rows.length && c.optional in page.rows[0]));
    state.columns = columns;
    state.total = page.total;
    state.more = !!page.more;
    state.order = page.order;
    state.lastId = page.lastId || 0;
    state.liveAdded = 0;
    state.liveElsewhere = 0;
    state.rows = page.rows.slice();
    state.ids = new Set(state.rows.map((r) => r.id));
    state.fresh.clear();
    // The page holds every row up to its lastId; the stream opened below
    // sends the later ones again.
    dropPendingRows();
    buildHead();
    $('journal-wrap').scrollTop = 0;
    redrawRows();
    announceRows(state.rows.map((r) => r.id));
    refreshStatus();
    refreshChart();
    refreshChoices(state.rows);
    if ($('live').checked) startLive();
  }

  // The filter's lists are read again only when a module or point is new to
  // them, so a list the user has open is left alone otherwise.
  function refreshChoices(rows) {
    const values = (select) => new Set(Array.from($(select).options, (o) => o.value));
    const modules = values('f-module');
    const points = values('f-point');
    const chosen = $('f-module').value;
    const fresh = rows.some((r) => !modules.has(r.module) ||
      ((!chosen || r.module === chosen) && !points.has(String(r.point))));
    if (!fresh) return;
    loadModules().then(loadPoints).catch((e) => showError('error', e));
  }

  function refreshStatus() {
    const shown = state.rows.length;
    let text;
    if (state.total === 0) {
      text = 'No rows match';
    } else {
      text = 'Rows ' + (state.offset + (shown ? 1 : 0)) + '–' + (state.offset + shown) + ' of ' + state.total;
    }
    text += '; ' + (state.order === 'utc' ? 'in UTC order' : 'in module-time order');
    if (state.live) {
      text += '; live';
      if (state.liveAdded) text += ', ' + state.liveAdded + ' new shown';
      if (state.liveElsewhere) text += ', ' + state.liveElsewhere + ' new on other pages';
    }
    $('status').textContent = text;
    $('page-first').disabled = state.offset === 0;
    $('page-prev').disabled = state.offset === 0;
    $('page-next').disabled = !state.more;
  }

  function turnPage(to) {
    state.offset = Math.max(0, to);
    loadPage();
  }

  function toggleRow(ev) {
    const tr = ev.target.closest('tr');
    if (!tr || !tr.dataset.id) return;
    const id = Number(tr.dataset.id);
    if (state.selected.has(id)) state.selected.delete(id);
    else state.selected.add(id);
    tr.classList.toggle('selected', state.selected.has(id));
    refreshChart();
  }

  // ---- live rows ----------------------------------------------------------

  // The page's order as the server sorts it, for placing a live row.
  function timeKey(r) {
    return state.order === 'utc' ? r.utcTime || '' : r.moduleTime || '';
  }

  function compareRows(a, b) {
    const plain = (x, y) => (x < y ? -1 : x > y ? 1 : 0);
    const byTime = () => plain(timeKey(a), timeKey(b)) || plain(a.module, b.module) || plain(a.id, b.id);
    let c;
    switch (state.sort) {
      case 'module': c = plain(a.module, b.module) || byTime(); break;
      case 'point': c = plain(a.point, b.point) || byTime(); break;
      case 'text': c = plain(a.text, b.text) || byTime(); break;
      default: c = byTime();
    }
    return state.desc ? -c : c;
  }

  function placeOf(r) {
    let lo = 0;
    let hi = state.rows.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (compareRows(state.rows[mid], r) <= 0) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  }

  function startLive() {
    stopLive();
    const url = '/api/live?' + query(Object.assign({ after: state.lastId }, filterParams(state.applied)));
    const es = new EventSource(url);
    state.live = es;
    es.addEventListener('rows', (ev) => {
      if (state.live !== es) return;
      let batch;
      try {
        batch = JSON.parse(ev.data);
      } catch (e) {
        return;
      }
      queueLiveRows(batch.rows || []);
      if (batch.lastId) state.lastId = Math.max(state.lastId, batch.lastId);
    });
    // Too far behind for the server to catch up row by row: the page is
    // read afresh, and the stream opened again from its last row.
    es.addEventListener('gap', () => {
      if (state.live === es) loadPage();
    });
    es.addEventListener('error', () => {
      if (state.live !== es) return;
      // Opened again from the last row seen rather than by EventSource's own
      // retry, whose URL would ask again for rows shown already.
      es.close();
      state.live = null;
      refreshStatus();
      clearTimeout(state.liveRetry);
      state.liveRetry = setTimeout(async () => {
        if (!$('live').checked || !state.user) return;
        try {
          await api('GET', '/api/me');
          startLive();
        } catch (e) {
          showError('error', e);
        }
      }, LiveRetryMs);
    });
    refreshStatus();
  }

  function stopLive() {
    clearTimeout(state.liveRetry);
    if (state.live) {
      state.live.close();
      state.live = null;
    }
  }

  function queueLiveRows(rows) {
    for (const r of rows) state.livePending.push(r);
    if (state.liveDrawTimer || !state.livePending.length) return;
    const wait = Math.max(0, state.liveDrawnAt + LiveDrawMs - performance.now());
    state.liveDrawTimer = setTimeout(drawPendingRows, wait);
  }

  function drawPendingRows() {
    state.liveDrawTimer = 0;
    state.liveDrawnAt = performance.now();
    const rows = state.livePending;
    state.livePending = [];
    addLiveRows(rows);
  }

  function dropPendingRows() {
    clearTimeout(state.liveDrawTimer);
    state.liveDrawTimer = 0;
    state.livePending = [];
  }

  function addLiveRows(incoming) {
    let rows = incoming.filter((r) => !state.ids.has(r.id));
    if (!rows.length) return;
    // A row without a UTC time puts the journal's order back on module time:
    // the page is read anew in that order.
    if (state.order === 'utc' && rows.some((r) => !r.utcTime)) {
      loadPage();
      return;
    }
    state.total += rows.length;
    // Of a batch larger than the table holds only the latest can stay.
    if (rows.length > MaxShownRows) {
      rows.sort((a, b) => (timeKey(a) < timeKey(b) ? -1 : timeKey(a) > timeKey(b) ? 1 : a.id - b.id));
      state.liveElsewhere += rows.length - MaxShownRows;
      rows = rows.slice(rows.length - MaxShownRows);
    }
    let added = 0;
    const marked = [];
    for (const r of rows) {
      const at = placeOf(r);
      // Before the first row of a later page, or after the last of an
      // earlier one: it is not this page's.
      if ((at === state.rows.length && state.more) || (at === 0 && state.offset > 0)) {
        state.liveElsewhere += 1;
        continue;
      }
      state.fresh.add(r.id);
      marked.push(r.id);
      state.rows.splice(at, 0, r);
      state.ids.add(r.id);
      added += 1;
    }
    state.liveAdded += added;
    if (marked.length) setTimeout(() => unmarkFresh(marked), FreshMarkMs);
    trimRows();
    drawRows(true);
    if (marked.length) announceRows(marked);
    refreshStatus();
    refreshChoices(rows);
    // New rows change the chart only where it draws their points.
    if (added && (chartKeys().length || (chart.series && chart.series.length))) refreshChart(true);
  }

  // Tells whoever watches the page (its tests, the benchmark) which rows the
  // table took in, drawn or standing in beyond the rows drawn.
  function announceRows(ids) {
    $('journal').dispatchEvent(new CustomEvent('rows-shown', { detail: ids }));
  }

  function unmarkFresh(ids) {
    for (const id of ids) {
      if (!state.fresh.delete(id)) continue;
      const tr = drawn.rows.get(id);
      if (tr) tr.classList.remove('fresh');
    }
  }

  // Takes the earliest rows out of the page beyond what it holds; the
  // drawing that follows takes their rows out of the table.
  function trimRows() {
    const excess = state.rows.length - MaxShownRows;
    if (excess <= 0) return;
    let gone;
    if (state.sort === 'time') {
      // The earliest rows are at one end.
      const first = state.desc ? state.rows.length - excess : 0;
      gone = state.rows.splice(first, excess);
    } else {
      const ids = state.rows.map((r) => r.id).sort((a, b) => a - b).slice(0, excess);
      const drop = new Set(ids);
      gone = state.rows.filter((r) => drop.has(r.id));
      state.rows = state.rows.filter((r) => !drop.has(r.id));
    }
    for (const r of gone) {
      state.ids.delete(r.id);
      state.selected.delete(r.id);
      state.fresh.delete(r.id);
    }
  }

  // ---- the timing chart ---------------------------------------------------

  const chart = {
    instance: null,
    series: [],
    full: null, // {min, max} of the data
    view: null,
    cursor: null, // ms
    drag: null, // {x0, x1, pan, min, max}
    request: 0,
  };

  function chartKeys() {
    const keys = [];
    const take = (r) => {
      const key = r.module + ':' + r.point;
      if (r.point > 0 && !keys.includes(key) && keys.length < MaxTraces) keys.push(key);
    };
    for (const r of state.rows) if (state.selected.has(r.id)) take(r);
    // Nothing selected but a point filtered: that point of every module.
    if (!keys.length && state.applied.point) for (const r of state.rows) take(r);
    return keys;
  }

  function timeText(ms, span) {
    const iso = new Date(ms).toISOString();
    if (span > 86400000) return iso.slice(0, 10) + ' ' + iso.slice(11, 19);
    return iso.slice(11, 23);
  }

  // `keep`: the view stays where it is (rows arrived), else the whole
  // period shows.
  async function refreshChart(keep) {
    const mine = ++chart.request;
    const keys = chartKeys();
    if (!keys.length) {
      drawChart([], state.order, false);
      return;
    }
    let answer;
    try {
      answer = await api('GET', '/api/chart?' + query({ series: keys.join(','), from: state.applied.from, to: state.applied.to }));
    } catch (e) {
      if (mine === chart.request) showError('error', e);
      return;
    }
    if (mine !== chart.request) return;
    drawChart(answer.series || [], answer.order, keep === true);
  }

  function traceBase(i, n) {
    return (n - 1 - i) * TraceGap;
  }

  function drawChart(series, order, keep) {
    chart.series = series;
    let min = Infinity;
    let max = -Infinity;
    for (const s of series) {
      for (const c of s.changes) {
        min = Math.min(min, c.t);
        max = Math.max(max, c.t);
      }
    }
    if (!isFinite(min)) {
      min = Date.now() - 60000;
      max = Date.now();
    }
    const room = Math.max((max - min) / 50, 100);
    chart.full = { min: min - room, max: max + room };
    if (!keep || !chart.view) chart.view = Object.assign({}, chart.full);
    const n = series.length;
    const palette = ['#24455e', '#b01e00', '#2e7d32', '#6a1b9a', '#ef6c00', '#00838f'];
    const datasets = series.map((s, i) => {
      const base = traceBase(i, n);
      const data = s.changes.map((c) => ({ x: c.t, y: base + (c.state ? 1 : 0) }));
      // The last state holds to the end of the period.
      if (data.length) data.push({ x: chart.full.max, y: data[data.length - 1].y });
      return {
        label: s.module + ':' + s.point + (s.description ? ' ' + s.description : ''),
        data,
        stepped: 'before',
        borderColor: palette[i % palette.length],
        borderWidth: 2,
        pointRadius: 0,
        fill: false,
      };
    });
    const labels = series.map((s) => s.module + ':' + s.point);
    const axisTitle = order === 'module time' ? 'module time' : 'UTC';
    if (!chart.instance) {
      chart.instance = new Chart($('chart'), {
        type: 'line',
        data: { datasets },
        options: {
          animation: false,
          responsive: true,
          maintainAspectRatio: false,
          events: [], // the page's own mouse handling below
          parsing: false,
          plugins: { legend: { display: true, position: 'bottom' }, tooltip: { enabled: false } },
          scales: {
            x: { type: 'linear', ticks: { maxRotation: 0 }, title: { display: true, text: axisTitle } },
            y: { type: 'linear', grid: { display: false } },
          },
        },
        plugins: [cursorPlugin],
      });
    }
    const c = chart.instance;
    c.data.datasets = datasets;
    const x = c.options.scales.x;
    x.title.text = axisTitle;
    x.ticks.callback = (v) => timeText(v, chart.view.max - chart.view.min);
    const y = c.options.scales.y;
    y.min = -0.25;
    y.max = Math.max(n, 1) * TraceGap - 0.25;
    y.afterBuildTicks = (axis) => {
      axis.ticks = labels.map((_, i) => ({ value: traceBase(i, n) + 0.5 }));
    };
    y.ticks = { callback: (v) => labels[n - 1 - Math.round((v - 0.5) / TraceGap)] || '' };
    setView(chart.view);
    refreshReadout();
  }

  function setView(v) {
    const span = Math.max(v.max - v.min, 10);
    const fullSpan = chart.full.max - chart.full.min;
    if (span >= fullSpan) {
      chart.view = Object.assign({}, chart.full);
    } else {
      const min = Math.min(Math.max(v.min, chart.full.min), chart.full.max - span);
      chart.view = { min, max: min + span };
    }
    const c = chart.instance;
    if (!c) return;
    c.options.scales.x.min = chart.view.min;
    c.options.scales.x.max = chart.view.max;
    c.update('none');
  }

  function zoom(factor, anchor) {
    if (!chart.view) return;
    const at = anchor === undefined ? (chart.view.min + chart.view.max) / 2 : anchor;
    setView({ min: at - (at - chart.view.min) * factor, max: at + (chart.view.max - at) * factor });
  }

  function pan(share) {
    if (!chart.view) return;
    const d = (chart.view.max - chart.view.min) * share;
    setView({ min: chart.view.min + d, max: chart.view.max + d });
  }

  // Draws the time cursor and the span being dragged over.
  const cursorPlugin = {
    id: 'chronelCursor',
    afterDraw(c) {
      const area = c.chartArea;
      const ctx = c.ctx;
      const xs = c.scales.x;
      ctx.save();
      if (chart.cursor !== null && chart.cursor >= xs.min && chart.cursor <= xs.max) {
        const px = xs.getPixelForValue(chart.cursor);
        ctx.strokeStyle = '#d00';
        ctx.lineWidth = 1;
        ctx.beginPath();
        ctx.moveTo(px, area.top);
        ctx.lineTo(px, area.bottom);
        ctx.stroke();
      }
      if (chart.drag && !chart.drag.pan && Math.abs(chart.drag.x1 - chart.drag.x0) > 3) {
        ctx.fillStyle = 'rgba(36, 69, 94, 0.15)';
        const left = Math.max(Math.min(chart.drag.x0, chart.drag.x1), area.left);
        const right = Math.min(Math.max(chart.drag.x0, chart.drag.x1), area.right);
        ctx.fillRect(left, area.top, right - left, area.bottom - area.top);
      }
      ctx.restore();
    },
  };

  function stateAt(s, t) {
    let now = null;
    for (const c of s.changes) {
      if (c.t > t) break;
      now = c.state;
    }
    return now;
  }

  function refreshReadout() {
    const box = $('cursor-readout');
    clear(box);
    if (!chart.series.length) {
      box.textContent = 'Select rows of the table to chart their points.';
      return;
    }
    const cut = chart.series.filter((s) => s.truncated).map((s) => s.module + ':' + s.point);
    if (cut.length) box.appendChild(el('div', 'Only the first changes of ' + cut.join(', ') + ' are drawn: narrow the period.'));
    if (chart.cursor === null) return;
    box.appendChild(el('strong', timeText(chart.cursor, 0) + ' '));
    for (const s of chart.series) {
      const now = stateAt(s, chart.cursor);
      const words = now === null ? 'no change before' : now ? 'On' : 'Off';
      box.appendChild(el('span', s.module + ':' + s.point + ' ' + words));
    }
  }

  function chartEvents() {
    const canvas = $('chart');
    const valueAt = (x) => chart.instance.scales.x.getValueForPixel(x);
    canvas.addEventListener('wheel', (ev) => {
      if (!chart.instance) return;
      ev.preventDefault();
      zoom(ev.deltaY < 0 ? 0.8 : 1.25, valueAt(ev.offsetX));
    }, { passive: false });
    canvas.addEventListener('mousedown', (ev) => {
      if (!chart.instance || ev.button !== 0) return;
      chart.drag = { x0: ev.offsetX, x1: ev.offsetX, pan: ev.shiftKey, min: chart.view.min, max: chart.view.max };
    });
    canvas.addEventListener('mousemove', (ev) => {
      if (!chart.drag) return;
      chart.drag.x1 = ev.offsetX;
      if (chart.drag.pan) {
        const xs = chart.instance.scales.x;
        const msPerPx = (chart.drag.max - chart.drag.min) / Math.max(xs.right - xs.left, 1);
        const d = (chart.drag.x0 - ev.offsetX) * msPerPx;
        setView({ min: chart.drag.min + d, max: chart.drag.max + d });
      } else {
        chart.instance.draw();
      }
    });
    const end = (ev) => {
      const d = chart.drag;
      if (!d) return;
      chart.drag = null;
      if (Math.abs(d.x1 - d.x0) <= 3) {
        if (ev.type === 'mouseup') {
          chart.cursor = valueAt(d.x0);
          refreshReadout();
        }
        chart.instance.draw();
      } else if (!d.pan) {
        const a = valueAt(d.x0);
        const b = valueAt(d.x1);
        setView({ min: Math.min(a, b), max: Math.max(a, b) });
      }
    };
    canvas.addEventListener('mouseup', end);
    canvas.addEventListener('mouseleave', end);
    $('chart-in').addEventListener('click', () => zoom(0.5));
    $('chart-out').addEventListener('click', () => zoom(2));
    $('chart-left').addEventListener('click', () => pan(-0.25));
    $('chart-right').addEventListener('click', () => pan(0.25));
    $('chart-all').addEventListener('click', () => chart.full && setView(chart.full));
  }

  // ---- incidents ----------------------------------------------------------

  async function loadIncidents() {
    let list;
    try {
      list = (await api('GET', '/api/incidents')) || [];
    } catch (e) {
      showError('error', e);
      return;
    }
    const body = $('incident-body');
    clear(body);
    for (const i of list) {
      const tr = document.createElement('tr');
      tr.dataset.id = String(i.id);
      for (const v of [i.id, i.title, i.from, i.to, (i.modules || []).join(', '), i.author, i.created, i.comments]) {
        tr.appendChild(el('td', v));
      }
      tr.addEventListener('click', () => openIncident(i.id));
      body.appendChild(tr);
    }
  }

  // The selected rows' span (To is not included, so it is a millisecond
  // after the last) and their modules, as the incident's.
  function incidentFromSelection() {
    const rows = state.rows.filter((r) => state.selected.has(r.id) && r.moduleTime);
    if (!rows.length) {
      $('incident-form-error').textContent = 'Select rows of the table first.';
      return;
    }
    $('incident-form-error').textContent = '';
    const times = rows.map((r) => r.moduleTime).sort();
    const last = times[times.length - 1];
    const after = new Date(Date.parse(last + 'Z') + 1).toISOString().slice(0, 23);
    $('i-from').value = times[0].replace('T', ' ');
    $('i-to').value = after.replace('T', ' ');
    const modules = new Set(rows.map((r) => r.module));
    for (const box of document.querySelectorAll('#i-modules input')) box.checked = modules.has(box.value);
  }

  async function addIncident(ev) {
    ev.preventDefault();
    $('incident-form-error').textContent = '';
    const modules = Array.from(document.querySelectorAll('#i-modules input:checked')).map((b) => b.value);
    try {
      const made = await api('POST', '/api/incidents', {
        title: $('i-title').value,
        from: $('i-from').value.trim(),
        to: $('i-to').value.trim(),
        modules,
        comment: $('i-comment').value,
      });
      $('i-title').value = '';
      $('i-comment').value = '';
      await loadIncidents();
      openIncident(made.id);
    } catch (e) {
      showError('incident-form-error', e);
    }
  }

  async function openIncident(id) {
    let i;
    try {
      i = await api('GET', '/api/incidents/' + encodeURIComponent(id));
    } catch (e) {
      showError('error', e);
      return;
    }
    state.incidentId = i.id;
    $('d-title').textContent = 'Incident ' + i.id + ': ' + i.title;
    $('d-period').textContent = i.from + ' to ' + i.to;
    $('d-modules').textContent = (i.modules || []).join(', ') || 'all modules';
    $('d-author').textContent = i.author + ', ' + i.created;
    $('d-comment').textContent = i.comment || '';
    const link = $('d-package');
    link.href = '/api/incidents/' + encodeURIComponent(i.id) + '/package';
    link.setAttribute('download', 'incident-' + i.id + '.zip');
    fillCommentList($('d-comments'), i.commentList || []);
    $('d-comment-error').textContent = '';
    $('incident-detail').hidden = false;
    $('incident-detail').dataset.modules = (i.modules || []).join(',');
    $('incident-detail').dataset.from = i.from;
    $('incident-detail').dataset.to = i.to;
  }

  function fillCommentList(list, comments) {
    clear(list);
    if (!comments.length) list.appendChild(el('li', 'No comments yet.', 'meta'));
    for (const c of comments) {
      const li = el('li');
      li.appendChild(el('div', c.author + ', ' + c.created, 'meta'));
      li.appendChild(el('div', c.text, 'text'));
      list.appendChild(li);
    }
  }

  async function addIncidentComment(ev) {
    ev.preventDefault();
    $('d-comment-error').textContent = '';
    const id = state.incidentId;
    try {
      await api('POST', '/api/incidents/' + encodeURIComponent(id) + '/comments', { text: $('d-comment-text').value });
      $('d-comment-text').value = '';
      await openIncident(id);
      await loadIncidents();
    } catch (e) {
      showError('d-comment-error', e);
    }
  }

  function showIncidentInJournal() {
    const d = $('incident-detail').dataset;
    const modules = d.modules ? d.modules.split(',') : [];
    $('f-from').value = d.from || '';
    $('f-to').value = d.to || '';
    $('f-module').value = modules.length === 1 ? modules[0] : '';
    loadPoints().catch((e) => showError('error', e)).then(applyFilter);
  }

  // ---- comments on one event ----------------------------------------------

  async function openEventPanel(r) {
    state.eventPanelId = r.id;
    $('e-id').textContent = String(r.id);
    $('e-summary').textContent = r.module + '  ' + (r.moduleTime || '').replace('T', ' ') + '  ' + (r.text || '');
    $('e-error').textContent = '';
    $('event-panel').hidden = false;
    await loadEventComments(r.id);
  }

  async function loadEventComments(id) {
    try {
      const list = (await api('GET', '/api/events/' + encodeURIComponent(id) + '/comments')) || [];
      if (state.eventPanelId !== id) return;
      fillCommentList($('e-comments'), list);
      setCommentCount(id, list.length);
    } catch (e) {
      showError('e-error', e);
    }
  }

  function setCommentCount(id, count) {
    const r = state.rows.find((x) => x.id === id);
    if (!r || r.comments === count) return;
    r.comments = count;
    const tr = drawn.rows.get(id);
    if (tr) {
      drawn.rows.delete(id);
      tr.remove();
      drawRows(true);
    }
  }

  async function addEventComment(ev) {
    ev.preventDefault();
    $('e-error').textContent = '';
    const id = state.eventPanelId;
    try {
      await api('POST', '/api/events/' + encodeURIComponent(id) + '/comments', { text: $('e-comment-text').value });
      $('e-comment-text').value = '';
      await loadEventComments(id);
    } catch (e) {
      showError('e-error', e);
    }
  }

  // ---- start --------------------------------------------------------------

  function wire() {
    $('login-form').addEventListener('submit', login);
    $('logout').addEventListener('click', logout);
    $('filter').addEventListener('submit', (ev) => {
      ev.preventDefault();
      applyFilter();
    });
    $('f-module').addEventListener('change', () => {
      loadPoints().catch((e) => showError('error', e)).then(applyFilter);
    });
    $('f-point').addEventListener('change', applyFilter);
    $('legend-toggle').addEventListener('click', () => {
      const shown = $('legend').hidden;
      $('legend').hidden = !shown;
      $('legend-toggle').setAttribute('aria-expanded', String(shown));
    });
    $('live').addEventListener('change', () => {
      if ($('live').checked) startLive();
      else stopLive();
      refreshStatus();
    });
    $('page-first').addEventListener('click', () => turnPage(0));
    $('page-prev').addEventListener('click', () => turnPage(state.offset - PageRows));
    $('page-next').addEventListener('click', () => turnPage(state.offset + PageRows));
    $('journal-body').addEventListener('click', toggleRow);
    let scrolled = 0;
    $('journal-wrap').addEventListener('scroll', () => {
      if (scrolled) return;
      scrolled = requestAnimationFrame(() => {
        scrolled = 0;
        drawRows(false);
      });
    });
    $('incident-form').addEventListener('submit', addIncident);
    $('i-selection').addEventListener('click', incidentFromSelection);
    $('d-comment-form').addEventListener('submit', addIncidentComment);
    $('d-close').addEventListener('click', () => { $('incident-detail').hidden = true; });
    $('d-show').addEventListener('click', showIncidentInJournal);
    $('e-comment-form').addEventListener('submit', addEventComment);
    $('e-close').addEventListener('click', () => {
      $('event-panel').hidden = true;
      state.eventPanelId = null;
    });
    chartEvents();
  }

  async function start() {
    wire();
    try {
      const me = await api('GET', '/api/me');
      await showApp(me);
    } catch (e) {
      if (!(e instanceof ApiError && e.status === 401)) showLogin(e.message);
    }
  }

  start();
})();
