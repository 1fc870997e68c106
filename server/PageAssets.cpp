// The tower page's files: plain HTML, CSS and a little JavaScript, served as
// they are. Every name on the page comes from the network, so the script
// only ever sets text (textContent), never markup.

#include "server/TowerPage.h"

namespace page {

const char* const kHtml = R"(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Tower page</title>
<link rel="stylesheet" href="/page.css">
</head>
<body>
<header>
<nav><a href="/" id="home">All towers</a></nav>
<h1 id="title">Towers</h1>
<p id="status" role="status" aria-live="polite"></p>
</header>
<main id="main"></main>
<script src="/page.js"></script>
</body>
</html>
)";

const char* const kCss = R"(
body { font-family: system-ui, sans-serif; margin: 0 auto; max-width: 60rem; padding: 0.5rem 1rem; line-height: 1.4; }
h1 { font-size: 1.5rem; margin: 0.3rem 0; }
h2 { font-size: 1.2rem; border-bottom: 1px solid #ccc; margin-top: 1.2rem; }
section.tower { border: 1px solid #ccc; border-radius: 6px; padding: 0.5rem 1rem; margin: 0.6rem 0; }
#status { min-height: 1.4em; color: #245; }
.row { font-family: ui-monospace, monospace; font-size: 1.6rem; letter-spacing: 0.2em; }
#rows { font-family: ui-monospace, monospace; list-style: none; padding: 0; }
#rows li span { display: inline-block; min-width: 1.3em; text-align: center; }
#rows li span.late { background: #fdd; color: #900; font-weight: bold; }
.calls button, form button { font-size: 1rem; padding: 0.5rem 0.9rem; margin: 0.2rem; }
.bells { display: grid; grid-template-columns: repeat(auto-fill, minmax(11rem, 1fr)); gap: 0.4rem 1rem; }
.bells label, form label { display: block; }
select, input { font-size: 1rem; padding: 0.2rem; max-width: 100%; }
img.chart { max-width: 100%; border: 1px solid #ddd; background: white; }
.figures-wrap { overflow-x: auto; }
table.figures { border-collapse: collapse; font-variant-numeric: tabular-nums; margin: 0.5em 0; }
table.figures th, table.figures td { padding: 0.15em 0.5em; text-align: right; border-bottom: 1px solid #eee; }
table.figures th[scope=row], table.figures caption { text-align: left; }
table.figures caption { font-size: 0.9em; color: #555; }
button:focus, select:focus, input:focus, a:focus { outline: 3px solid #f90; }
.note { color: #555; font-style: italic; }
)";

const char* const kScript = R"JS('use strict';
const params = new URLSearchParams(location.search);
if (params.get('key')) sessionStorage.setItem('captainKey', params.get('key'));
const key = sessionStorage.getItem('captainKey') || '';
const main = document.getElementById('main');
const title = document.getElementById('title');
const statusLine = document.getElementById('status');
const CALLS = [['Look to', "Here's treble"], ['Go', 'Go'], ['Bob', 'Bob'], ['Single', 'Single'],
               ["That's all", "That's All"], ['Stand', 'Stand']];

// Builds an element; every string becomes text, never markup.
function el(tag, attributes, ...children) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes || {})) {
    if (name === 'text') element.textContent = value;
    else element.setAttribute(name, value);
  }
  for (const child of children) element.append(child);
  return element;
}

async function getJson(url) {
  const response = await fetch(url, {cache: 'no-store'});
  const body = await response.json().catch(() => ({error: response.statusText}));
  if (!response.ok) throw new Error(body.error || response.statusText);
  return body;
}

async function post(path, tower, body) {
  const response = await fetch(path + '?tower=' + encodeURIComponent(tower), {
    method: 'POST', headers: {'Content-Type': 'application/json', 'X-Captain-Key': key},
    body: JSON.stringify(body)});
  const answer = await response.json().catch(() => ({error: response.statusText}));
  statusLine.textContent = response.ok ? (answer.message || 'Done') : answer.error;
  return response.ok;
}

function towerLink(name) {
  return '/tower/' + encodeURIComponent(name);
}

// ---- The towers page

async function showTowers() {
  title.textContent = 'Towers';
  try {
    const towers = await getJson('/api/towers');
    main.replaceChildren(...towers.map(tower => el('section', {class: 'tower'},
      el('h2', {}, el('a', {href: towerLink(tower.name), text: tower.name})),
      el('p', {text: tower.description + ' (' + tower.bells + ' bells)'}),
      el('p', {text: (tower.ringing ? 'Ringing ' : 'Standing; the band rings ') + (tower.method || 'rounds')}),
      el('p', {text: tower.ringers.length ? 'Ringers: ' + tower.ringers.join(', ') : 'No ringers yet'}))));
  } catch (error) {
    statusLine.textContent = error.message;
  }
  setTimeout(showTowers, 2000);
}

// ---- A tower's page

const towerName = location.pathname.startsWith('/tower/')
  ? decodeURIComponent(location.pathname.slice('/tower/'.length)) : null;
let shownBells = '';
let shownTouches = -1;
let bandShown = false;

function section(id, heading) {
  return el('section', {id: id, 'aria-labelledby': id + '-h'}, el('h2', {id: id + '-h', text: heading}));
}

function buildTowerPage() {
  title.textContent = towerName;
  document.title = towerName;
  const now = section('now', 'Now');
  now.append(el('p', {class: 'row', id: 'row', 'aria-live': 'off'}), el('ol', {id: 'rows'}),
             el('ul', {id: 'notices'}));
  const calls = section('calls', 'Calls');
  const buttons = el('div', {class: 'calls'});
  for (const [label, text] of CALLS) {
    const button = el('button', {type: 'button', text: label});
    button.addEventListener('click', () => post('/api/call', towerName, {call: text}));
    buttons.append(button);
  }
  calls.append(buttons);
  const bells = section('bells', 'Bells');
  bells.append(el('div', {class: 'bells', id: 'bell-controls'}));
  const band = section('band', 'The band');
  band.append(bandForm());
  const touches = section('touches', 'Touches');
  touches.append(el('div', {id: 'touch-list'}));
  main.replaceChildren(now, calls, bells, band, touches);
  if (!key) {
    main.prepend(el('p', {class: 'note', text: 'Anyone may look; open this page with the captain\'s key (?key=...) to change anything.'}));
    for (const control of main.querySelectorAll('button, select, input')) control.disabled = true;
  }
}

function field(label, input) {
  return el('label', {}, label + ' ', input);
}

function bandForm() {
  const form = el('form', {id: 'band-form'});
  const method = el('input', {id: 'band-method', list: 'method-names', autocomplete: 'off'});
  const names = el('datalist', {id: 'method-names'});
  method.addEventListener('input', async () => {
    const found = await getJson('/api/methods?q=' + encodeURIComponent(method.value) +
                                '&tower=' + encodeURIComponent(towerName)).catch(() => []);
    names.replaceChildren(...found.map(name => el('option', {value: name})));
  });
  const minutes = el('input', {id: 'band-minutes', type: 'number', min: '1', max: '100000', step: 'any'});
  const sd = el('input', {id: 'band-sd', type: 'number', min: '0', max: '1000', step: 'any'});
  const conductor = el('input', {id: 'band-conductor', type: 'checkbox'});
  form.append(field('Method', method), names, field('Speed (peal minutes)', minutes),
              field('Striking (SD ms)', sd), field('The server conducts', conductor),
              el('button', {type: 'submit', text: 'Set the band'}));
  form.addEventListener('submit', event => {
    event.preventDefault();
    post('/api/band', towerName, {method: method.value, pealMinutes: Number(minutes.value),
                                  sdMs: Number(sd.value), conductor: conductor.checked});
  });
  return form;
}

function showBand(band) {
  if (bandShown) return;
  bandShown = true;
  document.getElementById('band-method').value = band.method;
  document.getElementById('band-minutes').value = band.pealMinutes;
  document.getElementById('band-sd').value = band.sdMs;
  document.getElementById('band-conductor').checked = band.conductor;
}

function showBells(tower) {
  const container = document.getElementById('bell-controls');
  const shape = JSON.stringify([tower.ringers, tower.bellRingers]);
  // Rebuilt only when something changed, and never under the keyboard.
  if (shape === shownBells || container.contains(document.activeElement)) return;
  shownBells = shape;
  container.replaceChildren(...tower.bellRingers.map((ringer, index) => {
    const bell = index + 1;
    const select = el('select', {id: 'bell-' + bell});
    for (const name of ['Band', ...tower.ringers]) select.append(el('option', {value: name, text: name}));
    select.value = ringer;
    select.disabled = !key;
    select.addEventListener('change', () => post('/api/bell', towerName, {bell: bell, ringer: select.value}));
    return el('label', {for: 'bell-' + bell}, 'Bell ' + bell + ' ', select);
  }));
}

// A blow more than half as late again as the row's usual gap stands out.
function rowLine(row) {
  const gaps = row.offsetsMs.slice(1).map((offset, i) => offset - row.offsetsMs[i]).sort((a, b) => a - b);
  const usual = gaps.length ? gaps[Math.floor(gaps.length / 2)] : 0;
  const item = el('li', {}, row.number + ' ' + row.stroke + ' ');
  [...row.row].forEach((bell, place) => {
    const gap = place > 0 ? row.offsetsMs[place] - row.offsetsMs[place - 1] : 0;
    const late = usual > 0 && gap > usual * 1.5;
    item.append(el('span', {class: late ? 'late' : '', title: '+' + row.offsetsMs[place] + ' ms', text: bell}));
  });
  return item;
}

function oneDecimal(value) { return Number(value).toFixed(1); }
function signedDecimal(value) { const text = oneDecimal(value); return text.startsWith('-') ? text : '+' + text; }

// Each ringer's figures and the band's, whole and at hand and back, as the
// API gives them in numbers.
function strikingTable(touch) {
  const columns = ['Ringer', 'Bells', 'RMS', 'Mean', 'SD', 'Hand RMS', 'Hand mean', 'Hand SD',
                   'Back RMS', 'Back mean', 'Back SD', 'Faults', 'Blows'];
  const line = (name, bells, f) => el('tr', {}, el('th', {scope: 'row', text: name}), el('td', {text: bells}),
    ...[[f.rmsMs, f.meanMs, f.sdMs], [f.handstroke.rmsMs, f.handstroke.meanMs, f.handstroke.sdMs],
        [f.backstroke.rmsMs, f.backstroke.meanMs, f.backstroke.sdMs]].flatMap(([rms, mean, sd]) =>
        [el('td', {text: oneDecimal(rms)}), el('td', {text: signedDecimal(mean)}), el('td', {text: oneDecimal(sd)})]),
    el('td', {text: String(f.faults)}), el('td', {text: String(f.count)}));
  const body = touch.ringers.map(r => line(r.ringer, r.bells.join(','), r));
  body.push(line('Everyone', '', touch.band));
  return el('div', {class: 'figures-wrap'}, el('table', {class: 'figures'},
    el('caption', {text: 'Striking in ms, late positive, from the method on'}),
    el('thead', {}, el('tr', {}, ...columns.map(text => el('th', {scope: 'col', text: text})))),
    el('tbody', {}, ...body)));
}

// How the rows ran: lengths by stroke, the quickest and slowest pull, the gap.
function rowsTable(rows) {
  const pull = p => p ? oneDecimal(p.lengthMs) + ' ms at row ' + p.row : 'none';
  const entries = [
    ['Handstroke rows', oneDecimal(rows.handstrokeRows.meanMs) + ' ms, SD ' + oneDecimal(rows.handstrokeRows.sdMs)],
    ['Backstroke rows', oneDecimal(rows.backstrokeRows.meanMs) + ' ms, SD ' + oneDecimal(rows.backstrokeRows.sdMs)],
    ['Quickest pull', pull(rows.quickestPull)], ['Slowest pull', pull(rows.slowestPull)],
    ['Handstroke gap', Number(rows.handstrokeGap.mean).toFixed(2) + ' blows, SD ' +
                       Number(rows.handstrokeGap.sd).toFixed(2) + ' (1.0 is a whole blow)'],
    ['Rows skipped', String(rows.rowsSkipped)]];
  return el('div', {class: 'figures-wrap'}, el('table', {class: 'figures'},
    el('caption', {text: 'How the rows ran'}),
    el('tbody', {}, ...entries.map(([name, value]) =>
      el('tr', {}, el('th', {scope: 'row', text: name}), el('td', {text: value}))))));
}

async function showTouches(count) {
  if (count === shownTouches) return;
  shownTouches = count;
  const touches = await getJson('/api/touches?tower=' + encodeURIComponent(towerName));
  document.getElementById('touch-list').replaceChildren(...touches.slice().reverse().map(touch => {
    const chart = el('img', {class: 'chart', alt: 'Striking chart of touch ' + touch.number,
      src: '/api/chart?tower=' + encodeURIComponent(towerName) + '&touch=' + touch.number});
    return el('article', {class: 'touch'}, el('h3', {text: 'Touch ' + touch.number}),
      strikingTable(touch), rowsTable(touch.rows),
      el('ul', {}, ...touch.lines.map(line => el('li', {class: 'striking-line', text: line}))), chart);
  }));
}

async function refreshTower() {
  try {
    const tower = await getJson('/api/tower?tower=' + encodeURIComponent(towerName));
    document.getElementById('row').textContent = tower.ringing ? tower.row : 'Standing';
    document.getElementById('rows').replaceChildren(...tower.rows.slice().reverse().map(rowLine));
    document.getElementById('notices').replaceChildren(...tower.notices.map(text => el('li', {text: text})));
    showBells(tower);
    showBand(tower.band);
    await showTouches(tower.touches);
  } catch (error) {
    statusLine.textContent = error.message;
  }
  setTimeout(refreshTower, 250);
}

if (towerName !== null) {
  buildTowerPage();
  refreshTower();
} else {
  showTowers();
}
)JS";

}  // namespace page
