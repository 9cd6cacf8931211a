// The preview page: a panel built from the controls the module declares, a
// viewer that shows the server's render of the current frame, and a timeline.
// One frame request is in flight at a time; changes made meanwhile are
// folded into the next request, so the newest value always wins and frames
// are drawn in the order they were asked for.

const $ = (id) => document.getElementById(id);

const page = {
  state: null,          // the server's description of the scene
  frame: 0,
  resolution: 'full',
  playing: false,
  drawnVersion: 0,      // the scene version of the frame on screen
  drawnFrame: -1,
  folded: new Map(),    // group name -> folded, kept across rebuilds
  stats: { frames: 0, last: null }, // frames drawn since play started; the last one's timings
};

// ---- frames -----------------------------------------------------------

let inFlight = false;
let wanted = false;
const waiters = [];

// Edits not yet sent, by control; a newer value for the same control
// replaces one still waiting. Each resolves with the scene version it made.
const pendingEdits = new Map();

function settle() {
  for (let i = waiters.length - 1; i >= 0; i--) {
    if (waiters[i].test()) waiters.splice(i, 1)[0].resolve();
  }
}

// Sends the next edit with the current frame's request, or asks for the
// frame alone: either way one request, answered with the frame.
function requestFrame() {
  if (inFlight) {
    wanted = true;
    return;
  }
  inFlight = true;
  wanted = false;
  const frame = page.frame;
  const asked = performance.now();
  const query = `frame=${frame}&res=${page.resolution}&view=page`;
  let e = null;
  let request;
  if (pendingEdits.size) {
    const [key, next] = pendingEdits.entries().next().value;
    pendingEdits.delete(key);
    e = { key, ...next };
    const body = e.kind === 'control' ? { name: e.name, value: e.value } : { [e.name]: e.value };
    request = fetch(`/api/${e.kind}?${query}`, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(body),
    });
  } else {
    request = fetch(`/api/frame?${query}`);
  }
  request
    .then(async (res) => {
      const row = e && document.querySelector(`[data-edit="${CSS.escape(e.key)}"]`);
      if (res.status === 409) return; // a newer request took its place
      if (!res.ok) {
        const reason = (await res.text()).trim();
        row?.classList.add('bad');
        throw new Error(reason);
      }
      const version = Number(res.headers.get('X-Scene-Version'));
      if (e) {
        row?.classList.remove('bad');
        page.state.version = Math.max(page.state.version, version);
        if (e.kind === 'control') markConstant(e.name);
      }
      const width = Number(res.headers.get('X-Frame-Width'));
      const height = Number(res.headers.get('X-Frame-Height'));
      const headers = performance.now();
      const bytes = new Uint8ClampedArray(await res.arrayBuffer());
      const body = performance.now();
      draw(bytes, width, height);
      const server = Object.fromEntries((res.headers.get('Server-Timing') || '').split(',')
        .map((t) => t.trim().match(/^(\w+);dur=([\d.]+)/)).filter(Boolean)
        .map((m) => [m[1], Number(m[2])]));
      page.stats.last = {
        edit: server.edit, render: server.render, server: server.total, headers: headers - asked,
        body: body - headers, draw: performance.now() - body,
      };
      const findings = Number(res.headers.get('X-Host-Findings'));
      if (findings !== page.state.findings) refreshFindings();
      page.drawnVersion = Math.max(page.drawnVersion, version);
      page.drawnFrame = frame;
      page.stats.frames += 1;
      if (page.overlay) drawPieces(frame);
      setStatus(`frame ${frame} drawn in ${(performance.now() - asked).toFixed(0)} ms`);
    })
    .catch((err) => setStatus(err.message, true))
    .finally(() => {
      inFlight = false;
      e?.resolve.forEach((r) => r(page.state.version));
      if (pendingEdits.size || wanted) requestFrame();
      else if (page.playing) schedulePlayback();
      settle();
    });
}

// Resolves when every edit is sent and the frame on screen is the newest.
function idle() {
  return new Promise((resolve) => {
    const test = () => !inFlight && !wanted && pendingEdits.size === 0;
    if (test()) resolve();
    else waiters.push({ test, resolve });
  });
}

function draw(bytes, width, height) {
  const canvas = $('frame');
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
    $('boxes').width = width;
    $('boxes').height = height;
    clearPieces();
  }
  canvas.getContext('2d').putImageData(new ImageData(bytes, width, height), 0, 0);
}

function fitStage() {
  if (!page.state) return;
  const { width, height } = page.state.composition;
  const viewer = $('viewer');
  const room = { w: viewer.clientWidth - 24, h: viewer.clientHeight - 24 };
  const scale = Math.max(0.05, Math.min(room.w / width, room.h / height));
  for (const c of [$('frame'), $('boxes')]) {
    c.style.width = `${Math.floor(width * scale)}px`;
    c.style.height = `${Math.floor(height * scale)}px`;
  }
}

// ---- pieces overlay ---------------------------------------------------

const pieceColours = ['#ff5c5c', '#ffd24d', '#5cff8a', '#5cc8ff', '#d07cff'];

function clearPieces() {
  const c = $('boxes');
  c.getContext('2d').clearRect(0, 0, c.width, c.height);
}

async function drawPieces(frame) {
  const res = await fetch(`/api/pieces?frame=${frame}&res=${page.resolution}`);
  if (!res.ok || frame !== page.frame) return;
  const { pieces } = await res.json();
  clearPieces();
  if (!page.overlay) return;
  const ctx = $('boxes').getContext('2d');
  ctx.lineWidth = 1;
  ctx.font = `${Math.max(9, $('boxes').height / 50)}px ui-monospace, monospace`;
  for (const p of pieces) {
    ctx.strokeStyle = ctx.fillStyle = pieceColours[p.order % pieceColours.length];
    ctx.beginPath();
    p.quad.forEach(([x, y], i) => (i ? ctx.lineTo(x, y) : ctx.moveTo(x, y)));
    ctx.closePath();
    ctx.stroke();
    ctx.fillText(String(p.order), p.quad[0][0], p.quad[0][1] - 3);
  }
}

// ---- timeline ---------------------------------------------------------

let playStart = null; // {time, frame}
let playTimer = 0;

function duration() {
  return page.state ? page.state.composition.duration : 1;
}

// A keyframed control's value at `frame`, as the host interpolates it: held
// before the first key and after the last, eased segments on a smoothstep.
function valueAt(keys, frame) {
  if (frame <= keys[0][0]) return keys[0][1];
  for (let i = 0; i + 1 < keys.length; i++) {
    const [f0, v0, how] = keys[i];
    const [f1, v1] = keys[i + 1];
    if (frame >= f1) continue;
    if (how === 'hold') return v0;
    const s = (frame - f0) / (f1 - f0);
    return v0 + (v1 - v0) * (how === 'ease' ? s * s * (3 - 2 * s) : s);
  }
  return keys[keys.length - 1][1];
}

// Keyframed controls show their value at the current frame.
function showKeyedValues() {
  for (const c of page.state?.controls ?? []) {
    if (!c.keyframed) continue;
    const v = valueAt(c.keys, page.frame);
    const range = document.querySelector(`input[type=range][data-control="${CSS.escape(c.name)}"]`);
    const number = document.querySelector(`[data-number="${CSS.escape(c.name)}"]`);
    if (range) range.value = v;
    if (number) number.value = v.toFixed(c.precision);
  }
}

function setFrame(f) {
  page.frame = Math.max(0, Math.min(duration() - 1, f));
  showKeyedValues();
  $('scrubber').value = page.frame;
  const fps = page.state ? page.state.composition.fps : 30;
  $('clock').textContent = `${page.frame} / ${duration() - 1}  ${(page.frame / fps).toFixed(2)} s`;
  requestFrame();
}

// Playback follows the clock: each new request asks for the frame due now,
// so a slow render drops frames instead of falling behind.
function schedulePlayback() {
  clearTimeout(playTimer);
  const fps = page.state.composition.fps;
  const elapsed = (performance.now() - playStart.time) / 1000;
  const due = (playStart.frame + Math.floor(elapsed * fps)) % duration();
  if (due !== page.drawnFrame) {
    setFrame(due);
    return;
  }
  const next = (Math.floor(elapsed * fps) + 1) / fps - elapsed;
  playTimer = setTimeout(() => page.playing && schedulePlayback(), next * 1000);
}

function play(on) {
  page.playing = on;
  $('play').innerHTML = on ? '&#x2759;&#x2759;' : '&#x25B6;';
  clearTimeout(playTimer);
  if (on) {
    playStart = { time: performance.now(), frame: page.frame };
    page.stats.frames = 0;
    schedulePlayback();
  }
}

// ---- edits ------------------------------------------------------------

function edit(kind, name, value) {
  const key = `${kind}\u0000${name}`;
  return new Promise((resolve) => {
    const before = pendingEdits.get(key);
    pendingEdits.set(key, { kind, name, value, resolve: [...(before?.resolve ?? []), resolve] });
    requestFrame();
  });
}

function markConstant(name) {
  const c = page.state.controls.find((x) => x.name === name);
  if (c && c.keyframed) {
    c.keyframed = false;
    document.querySelector(`[data-keyed="${CSS.escape(name)}"]`)?.remove();
  }
}

// ---- panel ------------------------------------------------------------

function el(tag, props = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(props)) {
    if (k === 'class') e.className = v;
    else if (k.startsWith('data-')) e.setAttribute(k, v);
    else e[k] = v;
  }
  e.append(...children);
  return e;
}

// A number that can be typed or dragged sideways (Shift: ten times faster).
function numberField(value, { min, max, precision, onChange }) {
  const input = el('input', { type: 'text', class: 'number', value: value.toFixed(precision) });
  const step = Math.max(10 ** -precision, (max - min) / 1000);
  let drag = null;
  input.addEventListener('pointerdown', (ev) => {
    if (document.activeElement === input) return;
    ev.preventDefault();
    drag = { x: ev.clientX, start: Number(input.value), moved: false };
    input.setPointerCapture(ev.pointerId);
  });
  input.addEventListener('pointermove', (ev) => {
    if (!drag) return;
    const dx = ev.clientX - drag.x;
    if (Math.abs(dx) < 2 && !drag.moved) return;
    drag.moved = true;
    const v = Math.min(max, Math.max(min, drag.start + dx * step * (ev.shiftKey ? 10 : 1)));
    input.value = v.toFixed(precision);
    onChange(Number(input.value), input);
  });
  input.addEventListener('pointerup', () => {
    if (drag && !drag.moved) {
      input.focus();
      input.select();
    }
    drag = null;
  });
  const commit = () => {
    const v = Number(input.value);
    if (input.value.trim() !== '' && Number.isFinite(v)) onChange(v, input);
  };
  input.addEventListener('change', commit);
  input.addEventListener('keydown', (ev) => {
    if (ev.key === 'Enter') input.blur();
  });
  return input;
}

function controlRow(c) {
  const key = `control\u0000${c.name}`;
  const label = el('label', { title: c.name, textContent: c.name });
  const value = el('div', { class: 'value' });
  if (c.kind === 'slider') {
    const p = c.precision;
    const range = el('input', {
      type: 'range', min: c.min, max: c.max, step: 10 ** -p, value: c.value, 'data-control': c.name,
    });
    const number = numberField(c.value, {
      min: c.min, max: c.max, precision: p,
      onChange: (v) => {
        range.value = v;
        edit('control', c.name, v);
      },
    });
    number.setAttribute('data-number', c.name);
    range.addEventListener('input', () => {
      number.value = Number(range.value).toFixed(p);
      edit('control', c.name, Number(range.value));
    });
    value.append(range, number);
    if (c.percent) value.append(el('span', { textContent: '%' }));
  } else if (c.kind === 'popup') {
    const select = el('select', { 'data-control': c.name });
    c.choices.forEach((name, i) => select.append(el('option', { value: i + 1, textContent: name })));
    select.value = String(Math.round(c.value));
    select.addEventListener('change', () => edit('control', c.name, c.choices[select.value - 1]));
    value.append(select);
  } else {
    const box = el('input', { type: 'checkbox', checked: c.value !== 0, 'data-control': c.name });
    box.addEventListener('change', () => edit('control', c.name, box.checked));
    value.append(box);
  }
  if (c.keyframed) {
    value.append(el('span', {
      class: 'keyed', textContent: '\u25C6', 'data-keyed': c.name,
      title: 'Keyframed in the scene; a change here sets a constant value',
    }));
  }
  return el('div', { class: 'row', 'data-edit': key }, label, value);
}

function group(name, startsFolded) {
  const folded = page.folded.has(name) ? page.folded.get(name) : startsFolded;
  const body = el('div', { class: 'body' });
  const box = el('div', { class: folded ? 'group' : 'group open', 'data-group': name });
  const twirl = el('button', { class: 'twirl', textContent: name });
  twirl.addEventListener('click', () => {
    box.classList.toggle('open');
    page.folded.set(name, !box.classList.contains('open'));
  });
  box.append(twirl, body);
  return { box, body };
}

function buildControls() {
  const root = $('controls');
  root.replaceChildren();
  const groups = new Map();
  for (const c of page.state.controls) {
    let parent = root;
    if (c.group) {
      if (!groups.has(c.group)) {
        const g = group(c.group, page.state.groups[c.group]?.folded ?? false);
        groups.set(c.group, g);
        root.append(g.box);
      }
      parent = groups.get(c.group).body;
    }
    parent.append(controlRow(c));
  }
}

function buildLayer() {
  const l = page.state.layer;
  const row = (name, label, input) =>
    el('div', { class: 'row', 'data-edit': `layer\u0000${name}` },
      el('label', { textContent: label }), el('div', { class: 'value' }, input));
  const text = el('textarea', { rows: 2, value: l.text, 'data-layer': 'text' });
  text.addEventListener('change', () => edit('layer', 'text', text.value));
  const font = el('input', { type: 'text', value: l.font, 'data-layer': 'font' });
  font.addEventListener('change', () => edit('layer', 'font', font.value));
  const style = el('input', { type: 'text', value: l.style, placeholder: 'Regular', 'data-layer': 'style' });
  style.addEventListener('change', () => edit('layer', 'style', style.value));
  const size = numberField(l.size, {
    min: 1, max: 2000, precision: 1, onChange: (v) => edit('layer', 'size', v),
  });
  const fill = el('input', { type: 'color', value: l.fill, 'data-layer': 'fill' });
  fill.addEventListener('input', () => edit('layer', 'fill', fill.value));
  const align = el('select', { 'data-layer': 'align' });
  for (const a of ['left', 'center', 'right']) align.append(el('option', { value: a, textContent: a }));
  align.value = l.align;
  align.addEventListener('change', () => edit('layer', 'align', align.value));
  $('layer').replaceChildren(
    row('text', 'Text', text), row('font', 'Font', font), row('style', 'Style', style),
    row('size', 'Size', size),
    row('fill', 'Fill', fill), row('align', 'Alignment', align));
}

function showFindings() {
  const s = page.state;
  $('error').hidden = !s.error;
  $('error').textContent = s.error;
  $('violations').hidden = s.violations.length === 0;
  $('violation-list').replaceChildren(...s.violations.map((v) => el('li', { textContent: v })));
}

let refreshing = false;

async function refreshFindings() {
  if (refreshing) return;
  refreshing = true;
  try {
    const res = await fetch('/api/state');
    if (res.ok) {
      const s = await res.json();
      page.state.violations = s.violations;
      page.state.findings = s.findings;
      showFindings();
    }
  } finally {
    refreshing = false;
  }
}

async function loadState() {
  const res = await fetch('/api/state');
  if (!res.ok) throw new Error((await res.text()).trim());
  const s = await res.json();
  const first = !page.state;
  page.state = s;
  document.title = `${s.file} \u2014 Vantrel preview`;
  $('file').textContent = `${s.file}  ${s.composition.width}\u00D7${s.composition.height}  ${s.composition.fps} fps  ${s.module}`;
  $('scrubber').max = s.composition.duration - 1;
  $('export').title = `Render every frame${s.video ? ', a video' : ''} and the contact sheet into ${s.export_folder}`;
  if (first) {
    page.resolution = s.resolution;
    $('resolution').value = s.resolution;
  }
  buildControls();
  showKeyedValues();
  buildLayer();
  showFindings();
  fitStage();
}

// ---- status, save, export --------------------------------------------

function setStatus(text, bad = false) {
  $('status').textContent = text;
  $('status').title = text;
  $('status').classList.toggle('bad', bad);
}

async function save() {
  await idle();
  const res = await fetch('/api/save', { method: 'POST' });
  if (res.ok) setStatus(`saved ${(await res.json()).saved}`);
  else setStatus((await res.text()).trim(), true);
}

async function startExport() {
  await idle();
  const res = await fetch('/api/export', {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ resolution: 'full', video: page.state.video }),
  });
  if (!res.ok) setStatus((await res.text()).trim(), true);
}

function showExport(e) {
  $('export-box').hidden = false;
  $('export-progress').max = Math.max(1, e.total);
  $('export-progress').value = e.done ?? 0;
  $('export-cancel').hidden = !e.running;
  $('export').disabled = e.running;
  let text;
  if (e.running) text = `frame ${e.done} of ${e.total}`;
  else if (e.error) text = `failed: ${e.error}`;
  else if (e.interrupted) text = `cancelled after ${e.done} of ${e.total} frames`;
  else {
    text = `${e.done} frames in ${e.seconds.toFixed(1)} s into ${e.folder}`;
    if (e.contact_sheet) text += `\ncontact sheet ${e.contact_sheet}`;
    if (e.video) text += `\nvideo ${e.video}`;
  }
  $('export-text').textContent = text;
  $('export-text').style.whiteSpace = 'pre-wrap';
}

function listen() {
  const events = new EventSource('/api/events');
  events.addEventListener('scene', async (ev) => {
    const { version, error } = JSON.parse(ev.data);
    if (version !== page.state.version || error !== page.state.error) {
      await loadState();
      setFrame(page.frame); // the composition may have become shorter
    }
  });
  events.addEventListener('export', (ev) => showExport(JSON.parse(ev.data)));
}

// ---- wiring -----------------------------------------------------------

// Keys that a focused field or pop-up uses itself are left to it.
function typing(target) {
  return target.matches('textarea, select, input[type=text]:focus, input[type=number]');
}

function wire() {
  $('scrubber').addEventListener('input', () => setFrame(Number($('scrubber').value)));
  $('play').addEventListener('click', () => play(!page.playing));
  $('first').addEventListener('click', () => setFrame(0));
  $('last').addEventListener('click', () => setFrame(duration() - 1));
  $('back').addEventListener('click', () => setFrame(page.frame - 1));
  $('forward').addEventListener('click', () => setFrame(page.frame + 1));
  $('resolution').addEventListener('change', () => {
    page.resolution = $('resolution').value;
    requestFrame();
  });
  $('overlay').addEventListener('change', () => {
    page.overlay = $('overlay').checked;
    if (page.overlay) drawPieces(page.frame);
    else clearPieces();
  });
  $('save').addEventListener('click', save);
  $('export').addEventListener('click', startExport);
  $('export-cancel').addEventListener('click', () => fetch('/api/export/cancel', { method: 'POST' }));
  window.addEventListener('resize', fitStage);
  document.addEventListener('keydown', (ev) => {
    if ((ev.ctrlKey || ev.metaKey) && ev.key === 's') {
      ev.preventDefault();
      save();
      return;
    }
    if (typing(ev.target) || ev.ctrlKey || ev.metaKey || ev.altKey) return;
    const keys = {
      ' ': () => play(!page.playing),
      ArrowLeft: () => setFrame(page.frame - 1),
      ArrowRight: () => setFrame(page.frame + 1),
      Home: () => setFrame(0),
      End: () => setFrame(duration() - 1),
    };
    if (keys[ev.key]) {
      ev.preventDefault();
      keys[ev.key]();
    }
  });
}

// For tests and measurements: set a control and resolve when its frame is on
// screen, with the milliseconds that took.
window.vantrel = {
  page,
  async setControl(name, value) {
    const start = performance.now();
    await edit('control', name, value);
    await idle();
    return performance.now() - start;
  },
  frameDrawn: idle,
  setFrame,
  play,
};

async function main() {
  wire();
  try {
    await loadState();
  } catch (e) {
    setStatus(e.message, true);
    return;
  }
  listen();
  setFrame(0);
}

main();
