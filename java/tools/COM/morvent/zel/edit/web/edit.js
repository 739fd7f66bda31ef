// The hierarchy editor's page. Every name shown comes from the design or the configuration:
// it goes into the page as text (textContent), never as markup.
'use strict';

const base = location.pathname.replace(/[^/]*$/, '');
const $ = (id) => document.getElementById(id);
const nodes = new Map();      // path -> {row, box, data}; "" is the top
const expanded = new Set();   // paths whose rows are open
let selected = null;
let generation = -1;
let warningsSeen = 0;
let panelMode = null;         // {kind: 'instance', path} | {kind: 'settings'} | {kind: 'changes'}

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined && text !== null) e.textContent = text;
  return e;
}

async function call(name, params, post) {
  const body = new URLSearchParams(params || {});
  const init = post ? {method: 'POST', body, headers: {'X-Zel-Edit': '1'}} : {};
  const r = await fetch(base + 'api/' + name + (post ? '' : '?' + body), init);
  let data;
  try { data = await r.json(); } catch (e) { data = {error: 'the server answered ' + r.status}; }
  if (!r.ok) { const err = new Error(data.error || ('HTTP ' + r.status)); err.status = r.status; throw err; }
  return data;
}
const get = (name, params) => call(name, params, false);
const post = (name, params) => call(name, params, true);

// Long requests (Changes, lint, search, the table) each carry a job name of their own, so that
// their Cancel stops them alone; meanwhile `line` shows how many instances the walk bound.
let jobCount = 0;
function longCall(name, params, isPost, line, what, job) {
  const text = el('span', null, what + '\u2026 ');
  line.textContent = '';
  line.append(text, button('Cancel', () => post('cancel', {job}).catch(() => {})));
  const timer = setInterval(async () => {
    try {
      const j = (await get('progress')).jobs.find((x) => x.id === job);
      if (j) text.textContent = what + '\u2026 ' + j.walked.toLocaleString('en') + ' instances walked ';
    } catch (e) { /* the request's own answer tells */ }
  }, 400);
  return call(name, Object.assign({job}, params), isPost).finally(() => clearInterval(timer));
}

// The panel's long request: a newer one stops the one before, whose answer is then dropped (null).
let panelJob = null;
async function panelCall(name, isPost, what) {
  if (panelJob) post('cancel', {job: panelJob}).catch(() => {});
  const job = 'p' + Date.now().toString(36) + '-' + ++jobCount;
  panelJob = job;
  const line = el('p', 'hint');
  line.id = 'working';
  $('panel').append(line);
  try {
    const r = await longCall(name, {}, isPost, line, what, job);
    return panelJob === job ? r : null;
  } catch (e) {
    if (panelJob !== job) return null;
    throw e;
  } finally {
    if (panelJob === job) panelJob = null;
    line.remove();
  }
}

// A path's instance names, each as the path writes it: a '/' or '\\' inside a name has a '\\' before it.
function pathParts(path) {
  const parts = [];
  let name = '';
  for (let i = 0; i < path.length; ++i) {
    if (path[i] === '\\' && i + 1 < path.length) name += path[i] + path[++i];
    else if (path[i] === '/') { parts.push(name); name = ''; }
    else name += path[i];
  }
  parts.push(name);
  return parts;
}
function depthOf(path) { return path === '' ? 0 : pathParts(path).length; }
function parentOf(path) { const p = pathParts(path); p.pop(); return p.join('/'); }

// ---------------------------------------------------------------------------------------
// The tree

function rowText(d) {
  return d.name + ': ' + d.master + ' -> ' + (d.binding || 'open') + ' ' + d.kind + ' ' + d.brief + ' ' + (d.lint || []).join();
}

const escapes = {'&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;'};
const esc = (t) => String(t).replace(/[&<>"']/g, (c) => escapes[c]);

// A row's markup: built as one string, every name escaped, so that a level of thousands of
// instances is shown in one go.
function rowInner(d) {
  // The twisty is drawn by the style sheet from the row's data-children and class "open".
  let h;
  if (d.path === '') {
    h = '<b>Top:</b> <i>' + esc(d.binding) + '</i>';
  } else {
    h = '<b>' + esc(d.name) + ':</b> ' + esc(d.master) + ' -&gt; <i' + (d.binding ? '>' : ' class="open">')
      + esc(d.binding || 'open') + '</i>';
    if (d.kind !== 'view-list') h += '<span class="kind kind-' + esc(d.kind) + '">' + esc(d.kind.replace(/-/g, ' ')) + '</span>';
  }
  // The lint's mark before the brief text, which may run past the pane.
  for (const l of d.lint || []) h += '<span class="lint" title="' + esc(l) + '">\u26a0 lint</span>';
  if (d.brief) h += '<em>' + esc(d.brief) + '</em>';
  return h;
}

function rowHtml(d) {
  return '<div class="row' + (d.path === selected ? ' sel' : '') + (d.children && expanded.has(d.path) ? ' open' : '')
       + '" role="treeitem" data-path="' + esc(d.path) + '" data-children="' + (d.children ? '1' : '')
       + '">' + rowInner(d) + '</div>';
}

// Indents a row by its depth (through the DOM: the page's policy forbids inline style).
function indent(row, path) {
  row.style.paddingLeft = (depthOf(path) * 16 + 20) + 'px';
}

function fillRow(row, d) {
  row.innerHTML = rowInner(d);
  row.dataset.children = d.children ? '1' : '';
  row.classList.toggle('open', !!d.children && expanded.has(d.path));
}

function makeRow(d) {
  const t = document.createElement('template');
  t.innerHTML = rowHtml(d);
  const row = t.content.firstChild;
  indent(row, d.path);
  nodes.set(d.path, {row, box: null, data: d});
  return row;
}

// Fetches and shows the rows below `path`; the rows open before stay open.
async function expand(path) {
  const n = nodes.get(path);
  if (!n || !n.data.children) return;
  const t0 = performance.now();
  const data = await get('children', {path});
  expanded.add(path);
  await show(path, data);
  // For the benchmark: request, rows built and laid out, to the next frame.
  requestAnimationFrame(() => { window.zelExpandMs = performance.now() - t0; });
}

async function show(path, data) {
  const n = nodes.get(path);
  if (!n) return;
  if (data.top) { n.data = Object.assign({path: '', name: 'Top'}, data.top); fillRow(n.row, n.data); }
  const old = new Map();
  if (n.box) {
    for (const r of n.box.querySelectorAll(':scope > .row')) {
      const o = nodes.get(r.dataset.path);
      if (o) old.set(r.dataset.path, rowText(o.data));
    }
    forget(n.box);
    n.box.remove();
  }
  const box = el('div', 'box');
  box.setAttribute('role', 'group');
  box.innerHTML = data.rows.map(rowHtml).join('');
  const reopen = [];
  let k = 0;
  for (const row of box.children) {
    const d = data.rows[k++];
    indent(row, d.path);
    nodes.set(d.path, {row, box: null, data: d});
    if (old.has(d.path) && old.get(d.path) !== rowText(d)) row.classList.add('changed');
    if (d.children && expanded.has(d.path)) reopen.push(d.path);
    else expanded.delete(d.path);
  }
  n.box = box;
  n.row.after(box);
  fillRow(n.row, n.data);
  for (const p of reopen) {
    try { await expand(p); } catch (e) { expanded.delete(p); }
  }
}

// Drops the rows of a closed or rebuilt box from the map.
function forget(box) {
  for (const r of box.querySelectorAll('.row')) nodes.delete(r.dataset.path);
}

function collapse(path) {
  const n = nodes.get(path);
  expanded.delete(path);
  if (n && n.box) { forget(n.box); n.box.remove(); n.box = null; }
  for (const p of [...expanded]) if (p.startsWith(path === '' ? '' : path + '/')) expanded.delete(p);
  if (n) fillRow(n.row, n.data);
  if (selected && selected !== path && selected.startsWith(path === '' ? '' : path + '/')) select(path);
}

async function toggle(path) {
  const n = nodes.get(path);
  if (!n) return;
  if (n.box) collapse(path);
  else await guard(expand(path));
}

async function loadTop() {
  const t0 = performance.now();
  const data = await get('children', {path: ''});
  const tree = $('tree');
  tree.textContent = '';
  nodes.clear();
  const top = Object.assign({path: '', name: 'Top'}, data.top);
  tree.append(makeRow(top));
  expanded.add('');
  await show('', data);
  if (selected === null) select('', true);
  window.zelReadyMs = performance.now() - t0;
  document.body.dataset.ready = '1';
}

// After an edit (here or in another tab): every open level bound anew.
// The tree keeps its place: the scroll and the selected row stay where they were.
async function refreshTree() {
  if (!nodes.has('')) return loadTop();
  const tree = $('tree');
  const top = tree.scrollTop;
  const data = await get('children', {path: ''});
  // Rows built anew: hold the height until they are all back, so the scroll has somewhere to stay.
  tree.style.minHeight = tree.scrollHeight + 'px';
  try {
    await show('', data);
  } finally {
    tree.style.minHeight = '';
  }
  tree.scrollTop = top;
  if (selected !== null && !nodes.has(selected)) select(nodes.has(parentOf(selected)) ? parentOf(selected) : '', true);
  else if (selected !== null) nodes.get(selected).row.classList.add('sel');
}

// What the page shows beside the tree, asked again after an edit, an undo or a save.
async function refreshViews() {
  if (!$('results').hidden && lastQuery) search(lastQuery, 0);
}

async function openPath(path) {
  path = path.replace(/^\/+|\/+$/g, '');
  const names = path === '' ? [] : path.split('/');
  let at = '';
  for (let i = 0; i < names.length; ++i) {
    if (!nodes.get(at)?.box) await expand(at);
    const next = at === '' ? names[i] : at + '/' + names[i];
    if (!nodes.has(next)) throw new Error('no instance ' + names[i] + ' below ' + (at || 'the top'));
    at = next;
  }
  select(at);
}

function select(path, quiet) {
  const before = selected !== null && nodes.get(selected);
  if (before) before.row.classList.remove('sel');
  selected = path;
  const n = nodes.get(path);
  if (!n) return;
  n.row.classList.add('sel');
  n.row.scrollIntoView({block: 'nearest'});
  if (!quiet) schedulePanel();
}

let panelTimer = null;
function schedulePanel() {
  clearTimeout(panelTimer);
  panelTimer = setTimeout(() => {
    if (selected === '') showSettings();
    else showInstance(selected);
  }, 80);
}

function visibleRows() { return [...$('tree').querySelectorAll('.row')]; }

function onKey(ev) {
  if (ev.target !== $('tree')) return;
  const rows = visibleRows();
  const i = rows.findIndex((r) => r.dataset.path === selected);
  const at = (k) => { const r = rows[Math.max(0, Math.min(rows.length - 1, k))]; if (r) select(r.dataset.path); };
  const n = nodes.get(selected);
  switch (ev.key) {
    case 'ArrowDown': at(i + 1); break;
    case 'ArrowUp': at(i - 1); break;
    case 'PageDown': at(i + 20); break;
    case 'PageUp': at(i - 20); break;
    case 'Home': at(0); break;
    case 'End': at(rows.length - 1); break;
    case 'ArrowRight':
      if (n && n.data.children && !n.box) guard(expand(selected));
      else if (n && n.box) { const first = n.box.querySelector('.row'); if (first) select(first.dataset.path); }
      break;
    case 'ArrowLeft':
      if (n && n.box && selected !== '') collapse(selected);
      else if (selected) select(parentOf(selected));
      break;
    case 'Enter': if (selected !== null) toggle(selected); break;
    default: return;
  }
  ev.preventDefault();
}

// ---------------------------------------------------------------------------------------
// The panels

function table(rows) {
  const t = el('table');
  for (const [k, v] of rows) {
    const tr = el('tr');
    const td = el('td', 'mono');
    if (v instanceof Node) td.append(v); else td.textContent = v === null || v === undefined ? 'none' : v;
    tr.append(el('td', null, k), td);
    t.append(tr);
  }
  return t;
}

// Names offered as the user types (a view of the cell on disk), and one that is nowhere warned at once.
let namesId = 0;
function offerNames(input, names, what) {
  if (!names) return null;
  const list = el('datalist');
  list.id = 'names' + (++namesId);
  input.setAttribute('list', list.id);
  const warn = el('span', 'namewarn');
  const check = () => {
    // In a list, the names offered finish the word being typed and keep the words before it.
    const before = input.value.slice(0, input.value.search(/\S*$/));
    list.textContent = '';
    for (const n of names) { const o = el('option'); o.value = before + n; list.append(o); }
    const words = input.value.trim().split(/\s+/).filter((w) => w && !w.startsWith('$('));
    const unknown = words.filter((w) => !names.includes(w));
    warn.textContent = unknown.length ? '\u26a0 no ' + what + ' ' + unknown.join(', ') + (what === 'library' ? ' in the definitions' : ' on disk') : '';
  };
  input.addEventListener('input', check);
  check();
  return [list, warn];
}

// A LIB/CELL/VIEW as it is typed: the libraries of the definitions, then the cells of the library
// on disk, then the views of the cell are offered; a name that is nowhere is warned of at once.
function offerCellView(input) {
  const list = el('datalist');
  list.id = 'names' + (++namesId);
  input.setAttribute('list', list.id);
  const warn = el('span', 'namewarn');
  let asked = 0;
  const check = async () => {
    const v = input.value.trim();
    const ask = ++asked;
    const [lib, cell, view] = v.split('/');
    let n;
    try { n = await get('names', {lib: lib || '', cell: cell || ''}); } catch (e) { return; }
    if (ask !== asked) return;  // a later keystroke asked again
    const offered = cell === undefined ? n.libs.map((l) => l + '/')
      : view === undefined ? (n.cells || []).map((c) => lib + '/' + c + '/')
      : (n.views || []).map((w) => lib + '/' + cell + '/' + w);
    list.textContent = '';
    for (const o of offered) { const e = el('option'); e.value = o; list.append(e); }
    let why = '';
    if (v.includes('$(')) why = '';  // a constant: known when the walk expands it
    else if (lib && !n.libs.includes(lib)) why = 'no library ' + lib + ' in the definitions';
    else if (cell && n.cells && !n.cells.includes(cell)) why = 'no cell ' + cell + ' in library ' + lib;
    else if (view && n.views && !n.views.includes(view)) why = 'no view ' + view + ' of ' + lib + '/' + cell + ' on disk';
    warn.textContent = why ? '\u26a0 ' + why : '';
  };
  input.addEventListener('input', check);
  if (input.value) check();
  return [list, warn];
}

// A text field with Set and Remove: Remove sends the empty value, which deletes the rule.
function field(value, placeholder, apply, removable = true, names = null, what = 'view') {
  const box = el('div', 'edit');
  const input = el('input');
  input.type = 'text';
  input.value = value || '';
  input.placeholder = placeholder;
  const offered = names === 'cellview' ? offerCellView(input) : offerNames(input, names, what);
  const set = el('button', null, 'Set');
  set.addEventListener('click', () => apply(input.value));
  input.addEventListener('keydown', (ev) => { if (ev.key === 'Enter') apply(input.value); });
  box.append(input, set);
  if (removable) {
    const rm = el('button', null, 'Remove');
    rm.disabled = !value;
    rm.addEventListener('click', () => apply(''));
    box.append(rm);
  }
  if (offered) box.append(...offered);
  return box;
}

function check(on, label, apply) {
  const l = el('label');
  const c = el('input');
  c.type = 'checkbox';
  c.checked = !!on;
  c.addEventListener('change', () => apply(c.checked ? 'true' : 'false'));
  l.append(c, ' ' + label);
  return l;
}

async function edit(fields) {
  try {
    const r = await post('edit', fields);
    generation = r.generation;
    $('modified').hidden = !r.modified;
    banner(null);
    poll();
    await refreshTree();
    await refreshPanel();
  } catch (e) {
    banner('Not changed: ' + e.message);
  }
}

async function showInstance(path) {
  panelMode = {kind: 'instance', path};
  let d;
  try { d = await get('instance', {path}); } catch (e) { return panelError(e); }
  if (!panelMode || panelMode.path !== path) return;
  const p = $('panel');
  p.textContent = '';
  p.append(el('h2', null, path));
  p.append(table([
    ['master', d.master],
    ['binds to', d.binding || 'open'],
    ['chosen by', d.chosenBy],
    ['libraries', d.libs + ' (' + d.libsFrom + ')'],
    ['views', d.views + ' (' + d.viewsFrom + ')' + (d.viewsWritten && d.viewsWritten !== d.views ? ', written "' + d.viewsWritten + '"' : '')],
    ['stops', d.stops.length ? d.stops.join(', ') : 'none'],
    ['below', d.end === 'walked' ? 'walked' : d.end === 'open' ? 'nothing: bound to open' : d.endText],
  ]));
  const why = el('div', 'why');
  why.append(el('pre', null, d.rules));
  p.append(el('h3', null, 'Why it binds so'), why);
  for (const l of d.lint || []) p.append(el('div', 'err', '\u26a0 ' + l));

  // The rule that decided, as the file holds it: editing it changes that very rule.
  const D = d.decided;
  const decided = el('div', 'decided');
  const mc = d.master.split('/')[1];
  if (D) {
    const setting = D.kind === 'default-views';
    const what = D.binding ? 'decided the binding' : d.binding
      ? 'gave the view list the view was taken from' : 'gave the view list, of which no view is on disk';
    decided.append(el('div', 'mono', D.text), el('div', 'hint',
      (setting ? 'no rule decided: the default view list' : D.kind + ' rule, names ' + D.scope)
      + ', line ' + (D.line || 'not saved yet') + (D.from ? ', passed down from ' + D.from : '') + '; it ' + what));
    const shown = D.open ? 'open' : D.property === 'bind' ? D.value.split(/\s+/).join('/') : D.value.replace(/^"|"$/g, '');
    decided.append(field(shown, D.property || 'views', (v) => setting ? edit({op: 'default-views', value: v}) : v.trim()
      ? edit({op: 'rule', kind: D.kind, scope: D.scope, property: D.property, value: v})
      : edit({op: 'rule-remove', kind: D.kind, scope: D.scope, property: D.property}),
    true, D.property === 'bind' ? 'cellview' : d.viewsOnDisk, 'view of ' + mc));
  } else {
    decided.append(el('div', 'hint', 'No rule decided the view and the configuration has no default view list: ' + d.chosenBy + '.'));
  }
  p.append(el('h3', null, 'The rule that applies'), decided);
  // A new rule, at the scope chosen.
  const [il, ic, iv] = d.in.split('/');
  const ml = d.master.split('/')[0];
  const scopes = [
    ['this view: inst ' + il + ' ' + ic + ' ' + iv + ' ' + d.name, 'inst', [il, ic, iv, d.name].join('/')],
    ['any view: inst ' + il + ' ' + ic + ' * ' + d.name, 'inst', [il, ic, '*', d.name].join('/')],
    ['this occurrence: occurrence ' + pathParts(path).join(' '), 'occurrence', path],
    ['the cell: cell ' + ml + ' ' + mc, 'cell', ml + '/' + mc],
    ['the cell in any library: cell * ' + mc, 'cell', '*/' + mc],
    ['the library: library ' + ml, 'library', ml],
  ];
  const scopeSel = el('select');
  scopeSel.id = 'newscope';
  scopes.forEach(([label], i) => { const o = el('option', null, label); o.value = String(i); scopeSel.append(o); });
  const propSel = el('select');
  propSel.id = 'newprop';
  for (const prop of ['view-binding', 'views', 'bind']) { const o = el('option', null, prop); o.value = prop; propSel.append(o); }
  const newRule = el('div', 'edit');
  const valueIn = el('input');
  valueIn.id = 'newvalue';
  valueIn.placeholder = 'a view, views, or LIB/CELL/VIEW';
  const add = el('button', null, 'Add rule');
  add.id = 'b-newrule';
  const addRule = () => {
    const [, kind, scope] = scopes[Number(scopeSel.value)];
    edit({op: 'rule', kind, scope, property: propSel.value, value: valueIn.value});
  };
  add.addEventListener('click', addRule);
  valueIn.addEventListener('keydown', (ev) => { if (ev.key === 'Enter') addRule(); });
  const [viewNames, viewWarn] = offerNames(valueIn, d.viewsOnDisk, 'view of ' + mc);
  const cellView = offerCellView(valueIn);
  // The names offered follow the property: views, or a LIB/CELL/VIEW for a binding.
  const follow = () => {
    const bind = propSel.value === 'bind';
    valueIn.setAttribute('list', (bind ? cellView[0] : viewNames).id);
    viewWarn.hidden = bind;
    cellView[1].hidden = !bind;
  };
  propSel.addEventListener('change', follow);
  follow();
  newRule.append(scopeSel, propSel, valueIn, add, viewNames, viewWarn, ...cellView);
  p.append(el('h3', null, 'A new rule'), newRule);

  const I = d.instRule;
  p.append(el('h3', null, 'Instance rule: ' + d.name + ' in ' + d.in));
  p.append(table([
    ['view binding', field(I.view, 'a view, e.g. symbol', (v) => edit({op: 'inst-view', path, value: v}), true, d.viewsOnDisk, 'view of ' + mc)],
    ['view list', field(I.viewList, 'views, e.g. schematic symbol', (v) => edit({op: 'inst-list', path, value: v}), true, d.viewsOnDisk, 'view of ' + mc)],
    ['bind to open', check(I.open, 'leave it unbound', (v) => edit({op: 'inst-open', path, value: v}))],
    ['stop point', check(I.stop, 'stop below this instance', (v) => edit({op: 'inst-stop', path, value: v}))],
  ]));
  const O = d.occurRule;
  p.append(el('h3', null, 'Occurrence rule: this path only'));
  p.append(table([
    ['binding', field(O.binding, 'LIB/CELL/VIEW', (v) => edit({op: 'occur-bind', path, value: v}), true, 'cellview')],
    ['stop point', check(O.stop, 'stop below this occurrence', (v) => edit({op: 'occur-stop', path, value: v}))],
  ]));
  const C = d.cellRule;
  p.append(el('h3', null, 'Cell rule: ' + (C.lib || '-') + '/' + C.cell));
  p.append(table([
    ['view binding', field(C.view, 'a view', (v) => edit({op: 'cell-view', path, value: v, scope: 'lib'}), true, d.viewsOnDisk, 'view of ' + mc)],
    ['view list', field(C.viewList, 'views', (v) => edit({op: 'cell-list', path, value: v, scope: 'lib'}), true, d.viewsOnDisk, 'view of ' + mc)],
    ['any library: view', field(C.anyView, 'a view', (v) => edit({op: 'cell-view', path, value: v, scope: 'any'}))],
    ['any library: list', field(C.anyViewList, 'views', (v) => edit({op: 'cell-list', path, value: v, scope: 'any'}))],
    ['stop point', check(C.stop, 'stop at this cell', (v) => edit({op: 'cell-stop', path, value: v, scope: 'lib'}))],
  ]));
}

function panelError(e) {
  const p = $('panel');
  p.textContent = '';
  p.append(el('p', 'err', e.message));
}

async function showSettings() {
  panelMode = {kind: 'settings'};
  let s, names;
  try { [s, names] = await Promise.all([get('settings'), get('names')]); } catch (e) { return panelError(e); }
  if (!panelMode || panelMode.kind !== 'settings') return;
  const p = $('panel');
  p.textContent = '';
  p.append(el('h2', null, 'Configuration ' + s.config));
  const top = [s.topLib, s.topCell, s.topView].map((x) => x || '-').join('/');
  p.append(table([
    ['top cell', field(top, 'LIB/CELL/VIEW', (v) => edit({op: 'top', value: v}), false, 'cellview')],
    ['default views', field(s.defaultViews, 'views', (v) => edit({op: 'default-views', value: v}))],
    ['default libraries', field(s.defaultLibs, 'libraries', (v) => edit({op: 'default-libs', value: v}), true, names.libs, 'library')],
    ['default stop list', field(s.defaultStops, 'views to stop at', (v) => edit({op: 'default-stops', value: v}))],
  ]));
  p.append(el('h3', null, 'Constants'));
  const rows = s.constants.map((c) => [c.name, field(c.value, 'value', (v) => edit({op: 'constant', name: c.name, value: v}))]);
  const add = el('div', 'edit');
  const n = el('input'); n.type = 'text'; n.placeholder = 'NAME';
  const v = el('input'); v.type = 'text'; v.placeholder = 'value';
  const b = el('button', null, 'Add');
  b.addEventListener('click', () => edit({op: 'constant', name: n.value, value: v.value}));
  add.append(n, v, b);
  rows.push(['new', add]);
  p.append(table(rows));
  p.append(el('h3', null, 'Note'));
  const note = el('textarea');
  note.value = s.note || '';
  const save = el('button', null, 'Set note');
  save.addEventListener('click', () => edit({op: 'note', value: note.value}));
  p.append(note, save);
}

// The table of cells: each master, each binding it gets and by which rule, how many instances;
// a click on a column sorts, a click on a row opens its first instance.
let tableSort = {key: 'count', down: true};
async function showTable() {
  panelMode = {kind: 'table'};
  const p = $('panel');
  p.textContent = '';
  p.append(el('h2', null, 'Cells and their bindings'));
  let t;
  try { t = await panelCall('table', false, 'Walking the design'); } catch (e) { return panelError(e); }
  if (!t || panelMode?.kind !== 'table') return;
  const cols = [['cell', 'cell'], ['binding', 'view chosen'], ['by', 'by'], ['count', 'instances']];
  const draw = () => {
    p.querySelector('table')?.remove();
    const rows = [...t.rows].sort((a, b) => {
      const x = a[tableSort.key]; const y = b[tableSort.key];
      const c = typeof x === 'number' ? x - y : String(x).localeCompare(String(y));
      return tableSort.down ? -c : c;
    });
    const table = el('table', 'cells');
    table.id = 'celltable';
    const head = el('tr');
    for (const [key, label] of cols) {
      const th = el('th', null, label + (tableSort.key === key ? (tableSort.down ? ' \u25be' : ' \u25b4') : ''));
      th.dataset.key = key;
      th.addEventListener('click', () => { tableSort = {key, down: tableSort.key === key ? !tableSort.down : key === 'count'}; draw(); });
      head.append(th);
    }
    table.append(head);
    for (const r of rows) {
      const tr = el('tr');
      for (const [key] of cols) tr.append(el('td', key === 'count' ? 'num' : 'mono', String(r[key])));
      tr.title = 'first at ' + r.first;
      tr.dataset.first = r.first;
      tr.addEventListener('click', () => guard(openPath(r.first)));
      table.append(tr);
    }
    p.append(table);
  };
  draw();
}

// Undo and redo live in the server: every tab of the configuration takes back the same edits.
async function undo(back) {
  try {
    const r = await post(back ? 'undo' : 'redo');
    generation = r.generation;
    $('modified').hidden = !r.modified;
    banner(null);
    await refreshTree();
    await refreshPanel();
  } catch (e) {
    banner('Not changed: ' + e.message);
  }
  await poll();
}

async function refreshPanel() {
  refreshViews();
  if (panelMode?.kind === 'instance') await showInstance(panelMode.path);
  else if (panelMode?.kind === 'settings') await showSettings();
  else if (panelMode?.kind === 'changes') await showChanges();
  else if (panelMode?.kind === 'table') await showTable();
  else if (panelMode?.kind === 'lint') await lint();
}

async function showChanges() {
  panelMode = {kind: 'changes'};
  const p = $('panel');
  p.textContent = '';
  p.append(el('h2', null, 'Changes against the saved file'));
  let c;
  try { c = await panelCall('changes', false, 'Walking both'); } catch (e) { return panelError(e); }
  if (!c || panelMode?.kind !== 'changes') return;
  // An edit came during the walk: what it found is of the rules before it.
  if (c.stale) return showChanges();
  const pre = el('pre');
  pre.id = 'changed-bindings';
  for (const line of c.lines) {
    // Lines that name an instance: its path alone, or "PATH: in the walk of A only".
    const m = /^([^ :][^ :]*)(:.*)?$/.exec(line);
    if (m && !line.startsWith('Comparing') && !/^(Same|Differ):/.test(line) && m[1] !== '(top)') {
      const a = el('span', 'pathlink', m[1]);
      a.addEventListener('click', () => guard(openPath(m[1])));
      pre.append(a, (m[2] || '') + '\n');
    } else {
      pre.append(line + '\n');
    }
  }
  if (c.cut) pre.append('\u2026 (cut at ' + c.lines.length + ' lines)\n');
  const rules = el('pre', 'rules');
  rules.id = 'changed-rules';
  rules.textContent = c.rules.length ? c.rules.join('\n') : 'no rule changed';
  p.append(el('h3', null, 'Rules changed'), rules, el('h3', null, 'Bindings changed'),
           el('p', 'hint', 'A: the saved file; B: the configuration as edited.'), pre);
}

// ---------------------------------------------------------------------------------------
// Save, revert, warnings

function banner(text, info, buttons) {
  const b = $('banner');
  b.textContent = '';
  b.hidden = !text;
  b.className = info ? 'info' : '';
  if (!text) return;
  b.append(el('span', null, text));
  for (const x of buttons || []) b.append(x);
}

function button(label, action) {
  const b = el('button', null, label);
  b.addEventListener('click', action);
  return b;
}

async function save() {
  try {
    const r = await post('save');
    banner(null);
    $('saveline').textContent = r.lastSave;
    $('saveline').hidden = false;
  } catch (e) {
    const where = el('input');
    where.placeholder = 'LIB/CELL/VIEW';
    where.id = 'saveas-name';
    banner(e.message, false, [
      button('Reload (drop my edits)', () => reload()),
      where,
      button('Save as', () => saveAs(where.value)),
    ]);
  }
  await poll();
}

async function saveAs(name) {
  try {
    const r = await post('saveas', {value: name});
    banner('Saved as ' + r.config + '; editing it now.', true);
  } catch (e) {
    // The field stays, with what was typed, to correct and try again.
    const where = el('input');
    where.placeholder = 'LIB/CELL/VIEW';
    where.id = 'saveas-name';
    where.value = name;
    banner(e.message, false, [button('Reload (drop my edits)', () => reload()), where,
                              button('Save as', () => saveAs(where.value))]);
  }
  await poll();
  await refreshTree();
}

async function reload() {
  try {
    await post('reload');
    banner(null);
  } catch (e) {
    banner(e.message);
  }
  await poll();
  await refreshTree();
  await refreshPanel();
}

async function revert() {
  if (!confirm('Drop every edit not saved and read the file again?')) return;
  await reload();
}

async function lint() {
  panelMode = {kind: 'lint'};
  const p = $('panel');
  p.textContent = '';
  p.append(el('h2', null, 'Lint of the configuration as edited'));
  let r;
  try {
    r = await panelCall('lint', true, 'Linting');
  } catch (e) {
    return panelError(e);
  }
  if (!r || panelMode?.kind !== 'lint') return;
  if (r.stale) return lint();
  lintRunsSeen = r.lintRuns;  // this tab marks its rows below; the poll need not again
  banner('Lint: ' + r.summary + (r.findings.length ? '; marked \u26a0 on their rows' : ''), true);
  p.append(el('p', 'hint', r.summary));
  const list = el('div');
  for (const f of r.findings) {
    const line = el('div', 'lintline');
    if (f.instance) {
      const a = el('span', 'pathlink', f.path);
      a.addEventListener('click', () => guard(openPath(f.path)));
      line.append(a, ': ');
    } else if (f.path) {
      line.append(el('span', 'mono', f.path), ': ');
    }
    line.append(f.text);
    list.append(line);
  }
  p.append(list);
  await refreshTree();
}

let foreignSeen = false;
let lintRunsSeen = -1;
async function poll() {
  let s;
  try { s = await get('state', {since: warningsSeen}); } catch (e) { return; }
  $('config').textContent = s.config;
  $('modified').hidden = !s.modified;
  // A configuration no save can write: say so and why, before any edit is made.
  $('readonly').hidden = s.editable;
  $('readonly').textContent = s.editable ? '' : 'read-only: ' + (s.readOnly || 'opened read-only');
  $('b-save').disabled = !s.editable;
  $('b-undo').disabled = !s.editable || !s.undo;
  $('b-redo').disabled = !s.editable || !s.redo;
  // Another program's save, noticed at the next poll: reload, or keep editing (Save will then be refused).
  if (s.changedOnDisk && !foreignSeen) {
    foreignSeen = true;
    banner('Another program saved ' + s.config + ' since you opened it.', false, [
      button('Reload (drop my edits)', () => reload()),
      button('Keep editing', () => banner(null)),
    ]);
    // Changes compare with the file on disk, which is another now; the lint shows with them.
    if (panelMode?.kind === 'changes' || panelMode?.kind === 'lint') guard(refreshPanel());
  }
  if (!s.changedOnDisk) foreignSeen = false;
  $('saveline').hidden = !s.lastSave;
  $('saveline').textContent = s.lastSave || '';
  document.title = 'zel edit ' + s.config + (s.modified ? ' *' : '');
  if (s.warnings.length) {
    const f = $('warnings');
    f.hidden = false;
    for (const w of s.warnings) f.append(el('div', null, 'warning: ' + w));
    f.scrollTop = f.scrollHeight;
  }
  warningsSeen = s.warningCount;
  // A lint run in another tab marks the rows anew.
  const linted = lintRunsSeen >= 0 && s.lintRuns > lintRunsSeen;
  lintRunsSeen = Math.max(lintRunsSeen, s.lintRuns);
  // Only a newer generation: a poll answered before this tab's own edit must not rebuild the panel under the user.
  if (generation >= 0 && s.generation > generation) {
    generation = s.generation;
    await refreshTree();
    await refreshPanel();
  } else if (linted) {
    await refreshTree();
  }
  generation = Math.max(generation, s.generation);
}

// ---------------------------------------------------------------------------------------
// Search

let lastQuery = null;
let searchJob = null;  // the search under way: a newer one stops it, and its answer is dropped
async function search(q, offset) {
  const box = $('results');
  if (!offset) { box.textContent = ''; lastQuery = q; }
  if (searchJob) post('cancel', {job: searchJob}).catch(() => {});
  const job = 's' + Date.now().toString(36) + '-' + ++jobCount;
  searchJob = job;
  box.hidden = false;
  // While the server walks: say so, with a way to stop it.
  const pending = el('div', 'head');
  pending.id = 'searching';
  const shownPending = setTimeout(() => { if (searchJob === job) box.prepend(pending); }, 150);
  let r;
  try {
    r = await longCall('search', {q, offset, limit: 100}, false, pending, 'Searching for "' + q + '"', job);
  } catch (e) {
    if (searchJob === job) { searchJob = null; box.append(el('div', 'err', e.message)); }
    return;
  } finally {
    clearTimeout(shownPending);
    pending.remove();
  }
  if (searchJob !== job) return;
  searchJob = null;
  // An edit overtook it: the search it made asks again.
  if (q !== lastQuery || r.stale) return;
  box.querySelector('.more')?.remove();
  let head = box.querySelector('.head');
  if (!head) { head = el('div', 'head'); box.append(head); }
  for (const d of r.rows) {
    const row = el('div', 'row');
    row.innerHTML = rowInner(Object.assign({}, d, {name: d.path}));
    row.style.paddingLeft = '8px';
    row.addEventListener('click', () => guard(openPath(d.path).then(() => $('tree').focus())));
    box.append(row);
  }
  const shown = box.querySelectorAll('.row').length;
  head.textContent = shown + (r.more ? '+' : '') + ' instances match "' + q + '"';
  head.append(' ', button('Close', () => { box.hidden = true; box.textContent = ''; }));
  if (r.more) {
    const m = el('div', 'more', 'more\u2026');
    m.addEventListener('click', () => search(q, shown));
    box.append(m);
  }
}

async function guard(promise) {
  try { await promise; } catch (e) { banner(e.message); }
}

function start() {
  const rowOf = (ev) => ev.target.closest('#tree .row');
  $('tree').addEventListener('click', (ev) => {
    const row = rowOf(ev);
    if (!row) return;
    // The twisty: the row's padding, left of its text.
    const left = row.getBoundingClientRect().left + parseFloat(row.style.paddingLeft);
    if (ev.clientX < left && ev.clientX > left - 18) toggle(row.dataset.path);
    else select(row.dataset.path);
  });
  $('tree').addEventListener('dblclick', (ev) => { const row = rowOf(ev); if (row) toggle(row.dataset.path); });
  $('tree').addEventListener('keydown', onKey);
  $('search').addEventListener('submit', (ev) => { ev.preventDefault(); const q = $('q').value.trim(); if (q) search(q, 0); });
  $('goto').addEventListener('submit', (ev) => { ev.preventDefault(); guard(openPath($('gopath').value.trim()).then(() => $('tree').focus())); });
  $('b-settings').addEventListener('click', () => { select(''); showSettings(); });
  $('b-changes').addEventListener('click', showChanges);
  $('b-table').addEventListener('click', showTable);
  $('b-save').addEventListener('click', save);
  $('b-revert').addEventListener('click', revert);
  $('b-undo').addEventListener('click', () => undo(true));
  $('b-redo').addEventListener('click', () => undo(false));
  $('b-lint').addEventListener('click', lint);
  document.addEventListener('keydown', (ev) => {
    const typing = /INPUT|TEXTAREA|SELECT/.test(document.activeElement.tagName);
    if (ev.key === '/' && !typing) { ev.preventDefault(); $('q').focus(); }
    // Ctrl+Z and Ctrl+Shift+Z (or Ctrl+Y); inside a field they keep undoing its text.
    if ((ev.ctrlKey || ev.metaKey) && !typing && (ev.key === 'z' || ev.key === 'Z' || ev.key === 'y')) {
      ev.preventDefault();
      undo(ev.key === 'z' && !ev.shiftKey);
    }
  });
  window.addEventListener('beforeunload', (ev) => { if (!$('modified').hidden) ev.preventDefault(); });
  guard(loadTop().then(() => $('tree').focus()));
  poll();
  setInterval(poll, 2000);
}

start();
