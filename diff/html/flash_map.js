// SPDX-License-Identifier: BSD-2-Clause-Patent
// The flash maps: both chips to scale on one shared view, zoomed and moved
// by wheel, drag, click and keys, a hover card, and the chosen file marked.
// ---- the shared view
const view = {start: 0, end: flashSize};
function setView(start, end) {
  let length = Math.min(Math.max(end - start, BLOCK), flashSize);
  start = Math.min(Math.max(start, 0), flashSize - length);
  view.start = Math.round(start);
  view.end = Math.round(start + length);
  drawAll();
}
function zoom(factor, around) {
  const length = view.end - view.start;
  const at = around === undefined ? view.start + length / 2 : around;
  const next = length * factor;
  setView(at - (at - view.start) * (next / length), at - (at - view.start) * (next / length) + next);
}
const pan = (share) => setView(view.start + (view.end - view.start) * share, view.end + (view.end - view.start) * share);
function showItem(start, length) {
  const margin = Math.max(length * 0.15, BLOCK / 2);
  setView(start - margin, start + length + margin);
}

// ---- patterns, so that nothing is told by colour alone
function pattern(draw, background) {
  const tile = document.createElement('canvas');
  tile.width = tile.height = 8;
  const g = tile.getContext('2d');
  g.fillStyle = background;
  g.fillRect(0, 0, 8, 8);
  g.strokeStyle = '#000';
  g.lineWidth = 1.2;
  g.beginPath();
  draw(g);
  g.stroke();
  return tile;
}
const tiles = {
  masked: pattern((g) => { g.moveTo(0, 8); g.lineTo(8, 0); g.moveTo(-4, 4); g.lineTo(4, -4); g.moveTo(4, 12); g.lineTo(12, 4); }, '#d9d9d9'),
  changed: pattern((g) => { g.moveTo(0, 4); g.lineTo(8, 4); g.moveTo(4, 0); g.lineTo(4, 8); }, '#ffd7a8'),
  moved: pattern((g) => { g.moveTo(0, 2); g.lineTo(8, 2); g.moveTo(0, 6); g.lineTo(8, 6); }, '#cfe3ff'),
  only: pattern((g) => { g.moveTo(2, 0); g.lineTo(2, 8); g.moveTo(6, 0); g.lineTo(6, 8); }, '#d6f0d0'),
};
const fills = {region: ['#f3e9d2', '#e2ecf6'], volume: ['#c9d9ec', '#b7cbe3'], file: ['#f7f7f7', '#e4e4e4']};
// One pattern per tile and canvas, made once: a map of thousands of files
// would otherwise make one per file and draw.
function tilePattern(context, tile) {
  const made = context.patterns || (context.patterns = new Map());
  if (!made.has(tile)) made.set(tile, context.createPattern(tile, 'repeat'));
  return made.get(tile);
}
function fileTile(item) {
  if (!item.change) return null;
  const kind = item.change.change;
  return kind === 'moved' ? tiles.moved : kind.startsWith('only in') ? tiles.only : kind === 'differs only in masked areas' ? tiles.masked : tiles.changed;
}
const fileFill = (context, item) => (item.change ? tilePattern(context, fileTile(item)) : null);
// Files narrower than this many pixels are drawn per pixel column, the
// most telling kind winning: any number of them costs one pass.
const NARROW = 2;
const narrowKinds = [null, 'plain', tiles.masked, tiles.moved, tiles.only, tiles.changed];

// ---- the maps
const mapsElement = document.getElementById('maps');
for (const chip of chips) {
  const title = comparing ? chip.role + ': ' + chip.dump.file : chip.dump.file;
  chip.canvas = element('canvas', {tabindex: '0', role: 'img',
    'aria-label': 'Flash map of ' + title + ', ' + bytesText(flashSize) + '; + and - zoom, arrow keys move, 0 whole chip'});
  chip.frame = element('div', {className: 'map-frame', 'data-chip': chip.side, 'data-plot-left': String(GUTTER)}, [chip.canvas]);
  chip.note = element('p', {className: 'mark-note'});
  chip.element = element('div', {className: 'map', 'data-chip': chip.side},
    [element('h3', {text: title}), chip.frame, chip.note]);
  mapsElement.append(chip.element);
}
if (chips.length === 1) mapsElement.classList.add('single');

const xOf = (chip, offset) => GUTTER + ((offset - view.start) / (view.end - view.start)) * (chip.width - GUTTER);
const offsetOf = (chip, x) => view.start + ((x - GUTTER) / (chip.width - GUTTER)) * (view.end - view.start);

// The first item that may reach into the view: items are sorted and,
// within one row, do not overlap much.
function firstVisible(items) {
  let low = 0;
  let high = items.length;
  while (low < high) {
    const middle = (low + high) >> 1;
    if (items[middle].start + items[middle].length <= view.start) low = middle + 1;
    else high = middle;
  }
  return Math.max(0, low - 64);
}

function drawRuler(chip, g) {
  const width = chip.width - GUTTER;
  const length = view.end - view.start;
  g.fillStyle = '#000';
  g.font = '11px ui-monospace, monospace';
  g.textBaseline = 'middle';
  let step = BLOCK;
  while (length / step > width / 90) step *= 2;
  if (length / BLOCK <= width / 6) {
    // Single blocks are wide enough to see: their borders.
    g.strokeStyle = '#bbb';
    g.beginPath();
    for (let at = Math.ceil(view.start / BLOCK) * BLOCK; at <= view.end; at += BLOCK) {
      const x = Math.round(xOf(chip, at)) + 0.5;
      g.moveTo(x, RULER - 6);
      g.lineTo(x, chip.height);
    }
    g.stroke();
  }
  g.strokeStyle = '#000';
  g.beginPath();
  for (let at = Math.ceil(view.start / step) * step; at <= view.end; at += step) {
    const x = Math.round(xOf(chip, at)) + 0.5;
    g.moveTo(x, RULER - 8);
    g.lineTo(x, RULER);
    if (x + 4 < chip.width - 40) g.fillText(hex(at), x + 3, 8);
  }
  g.stroke();
}

// A span of many ranges is drawn as its ranges once it is at least as many
// pixels wide as it has ranges (and they are in the page); until then it is
// one block shaded by the share of its bytes that differ, never solid.
const SHADE_FLOOR = 0.2;  // so that a single differing byte still shows
const shadeOf = (item) => SHADE_FLOOR + (1 - SHADE_FLOOR) * Math.min(1, item.bytes / Math.max(item.length, 1));
const drawnExact = (chip, item) => item.exact !== null && xOf(chip, item.start + item.length) - xOf(chip, item.start) >= item.ranges;

// The differing items in view as drawn: ranges, each span's ranges where it
// is drawn exact, and shaded spans (shaded: true).
function visibleDiffers(chip, items) {
  const shown = [];
  const add = (item, shaded) => {
    if (item.start < view.end && item.start + item.length > view.start) shown.push({item, shaded});
  };
  for (let i = firstVisible(items); i < items.length && items[i].start < view.end; ++i) {
    const item = items[i];
    if (!item.span) add(item, false);
    else if (drawnExact(chip, item)) for (const range of item.exact) add(range, false);
    else add(item, true);
  }
  return shown;
}

// Ranges aggregated per pixel: any count of them costs one pass. A white
// line runs through the solid bars and a solid foot under the shaded ones,
// so they do not rest on colour alone.
function drawCoverage(chip, g, items, top, height) {
  const right = chip.width;
  const solid = new Uint8Array(Math.ceil(right));
  const shade = new Float32Array(Math.ceil(right));
  for (const {item, shaded} of visibleDiffers(chip, items)) {
    const x0 = Math.max(GUTTER, Math.floor(xOf(chip, item.start)));
    const x1 = Math.min(right, Math.max(x0 + 1, Math.ceil(xOf(chip, item.start + item.length))));
    if (!shaded) {
      solid.fill(1, x0, x1);
      continue;
    }
    const alpha = shadeOf(item);
    for (let x = x0; x < x1; ++x) shade[x] = Math.max(shade[x], alpha);
  }
  for (let x = GUTTER; x < right; ++x) {
    if (solid[x] || !shade[x]) continue;
    g.fillStyle = 'rgba(176, 0, 32, ' + shade[x].toFixed(3) + ')';
    g.fillRect(x, top, 1, height - 2);
    g.fillStyle = '#b00020';
    g.fillRect(x, top + height - 2, 1, 2);
  }
  for (let x = GUTTER; x < right; ++x) {
    if (!solid[x]) continue;
    let end = x;
    while (end < right && solid[end]) ++end;
    g.fillStyle = '#b00020';
    g.fillRect(x, top, end - x, height);
    g.fillStyle = '#fff';
    g.fillRect(x, top + height / 2 - 1, end - x, 2);
    x = end;
  }
}

function drawRow(chip, g, entry, top) {
  const {row, items} = entry;
  g.fillStyle = '#000';
  g.font = '12px system-ui, sans-serif';
  g.textBaseline = 'middle';
  g.fillText(row.label, 4, top + ROW / 2);
  const right = chip.width;
  if (row.kind === 'differs') {
    drawCoverage(chip, g, items, top + 3, ROW - 6);
    return;
  }
  let shade = 0;
  const narrow = row.kind === 'file' ? new Uint8Array(Math.ceil(right)) : null;
  for (let i = firstVisible(items); i < items.length && items[i].start < view.end; ++i) {
    const item = items[i];
    if (item.start + item.length <= view.start) continue;
    const x0 = Math.max(GUTTER, xOf(chip, item.start));
    const x1 = Math.min(right, Math.max(x0 + 1, xOf(chip, item.start + item.length)));
    shade ^= 1;
    if (narrow && x1 - x0 < NARROW) {
      const kind = narrowKinds.indexOf(fileTile(item) || 'plain');
      for (let x = Math.floor(x0); x < Math.ceil(x1); ++x) narrow[x] = Math.max(narrow[x], kind);
      continue;
    }
    let fill = null;
    if (row.kind === 'masked') fill = tilePattern(g, tiles.masked);
    else if (row.kind === 'file') fill = fileFill(g, item) || fills.file[shade];
    else fill = fills[row.kind][shade];
    g.fillStyle = fill;
    g.fillRect(x0, top + 2, x1 - x0, ROW - 4);
    if (x1 - x0 >= 3) {
      g.strokeStyle = '#333';
      g.strokeRect(Math.round(x0) + 0.5, top + 2.5, Math.max(Math.round(x1 - x0) - 1, 1), ROW - 5);
    }
    const label = item.label || '';
    if (x1 - x0 > 40 && label) {
      g.save();
      g.beginPath();
      g.rect(x0 + 2, top, x1 - x0 - 4, ROW);
      g.clip();
      // Every label on its own white ground: hatching, change colours and
      // the grid of small files under it stay out of the letters.
      const width = g.measureText(label).width;
      g.fillStyle = 'rgba(255, 255, 255, .92)';
      g.fillRect(x0 + 3, top + 6, Math.min(width + 4, x1 - x0 - 6), ROW - 12);
      g.fillStyle = '#000';
      g.fillText(label, x0 + 5, top + ROW / 2);
      g.restore();
    }
  }
  if (row.kind === 'masked' && chip.rawMasked.length) drawCoverage(chip, g, chip.rawMasked, top + ROW - 8, 6);
  for (let x = GUTTER; narrow && x < right; ++x) {
    if (!narrow[x]) continue;
    let end = x;
    while (end < right && narrow[end] === narrow[x]) ++end;
    const kind = narrowKinds[narrow[x]];
    g.fillStyle = kind === 'plain' ? fills.file[1] : tilePattern(g, kind);
    g.fillRect(x, top + 2, end - x, ROW - 4);
    x = end - 1;
  }
}

function drawChip(chip) {
  const ratio = window.devicePixelRatio || 1;
  chip.width = Math.max(chip.frame.clientWidth - 2, 200);
  chip.height = RULER + rows.length * ROW;
  chip.canvas.width = Math.round(chip.width * ratio);
  chip.canvas.height = Math.round(chip.height * ratio);
  chip.canvas.style.height = chip.height + 'px';
  const g = chip.canvas.getContext('2d');
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.fillStyle = '#fff';
  g.fillRect(0, 0, chip.width, chip.height);
  // What the file does not hold (a BIOS region saved alone) is shaded.
  const size = chip.dump.size;
  if (size && size < flashSize) {
    g.fillStyle = '#f1f1f1';
    g.fillRect(GUTTER, RULER, Math.max(0, xOf(chip, flashSize - size) - GUTTER), chip.height - RULER);
  }
  drawRuler(chip, g);
  chip.rows.forEach((entry, i) => {
    const top = RULER + i * ROW;
    g.strokeStyle = '#ddd';
    g.beginPath();
    g.moveTo(0, top + 0.5);
    g.lineTo(chip.width, top + 0.5);
    g.stroke();
    drawRow(chip, g, entry, top);
  });
  chip.frame.dataset.viewStart = String(view.start);
  chip.frame.dataset.viewEnd = String(view.end);
  placeMark(chip);
}

function drawAll() {
  for (const chip of chips) drawChip(chip);
  document.getElementById('view-range').textContent =
    'Showing ' + hex(view.start) + ' to ' + hex(view.end) + ' (' + bytesText(view.end - view.start) + ')';
}

// ---- what lies under the pointer
function itemAt(chip, x, y) {
  const index = Math.floor((y - RULER) / ROW);
  if (index < 0 || index >= chip.rows.length || x < GUTTER) return null;
  const {row, items} = chip.rows[index];
  const at = offsetOf(chip, x);
  const slack = (view.end - view.start) / (chip.width - GUTTER);  // one pixel in bytes
  let best = null;
  for (let i = firstVisible(items); i < items.length && items[i].start <= at + slack; ++i) {
    const item = items[i];
    if (item.start + item.length + slack < at) continue;
    if (!best || item.length < best.length) best = item;
  }
  if (best && row.kind === 'differs') {
    // Every range under this pixel, gathered: a span's own ranges where it
    // is drawn exact.
    let count = 0;
    let bytes = 0;
    let first = Infinity;
    let last = 0;
    let sample = null;
    let shadedSpans = 0;
    let leftOut = 0;
    for (const {item, shaded} of visibleDiffers(chip, items)) {
      if (item.start > at + slack || item.start + item.length + slack < at) continue;
      count += item.ranges;
      bytes += item.bytes;
      first = Math.min(first, item.start);
      last = Math.max(last, item.start + item.length);
      if (!sample || item.length < sample.length) sample = item;
      if (shaded) ++shadedSpans;
      if (shaded && item.exact === null) ++leftOut;
    }
    if (!sample) return null;
    return {what: 'differs', start: first, length: last - first, ranges: count, bytes, sample, shadedSpans, leftOut};
  }
  return best;
}

function otherChipFile(file, side) {
  const change = changes.get(fileKey(file));
  if (change) return change[side];
  const chip = chips.find((c) => c.side === side);
  if (!chip) return null;
  const found = chip.layout.files.find((f) => fileKey(f) === fileKey(file));
  return found ? {flash_offset: found.flash_offset, size: found.size} : null;
}

function cardLines(item) {
  if (item.what === 'file') {
    const f = item.item;
    const lines = [['title', fileLabel(f)], ['GUID', f.guid], ['type', f.type_name]];
    if (item.change) lines.push(['change', item.change.change + (item.change.masked ? ' (masked bytes only)' : '')]);
    if (f.path.length) lines.push(['path', f.path.join(' > ')]);
    for (const chip of chips) {
      const place = comparing ? otherChipFile(f, chip.side) : f;
      lines.push([chip.role, !place ? 'not on this chip'
        : place.flash_offset === null ? (place.flash_offset_reason && !place.flash_offset_reason.startsWith('inside')
          ? place.flash_offset_reason : 'inside compressed bytes') + ', size ' + hex(place.size)
        : 'offset ' + hex(place.flash_offset) + ', size ' + hex(place.size)]);
    }
    return lines;
  }
  if (item.what === 'volume') {
    const v = item.item;
    return [['title', 'Volume ' + (v.name || '')], ['file system', v.file_system],
      ['FFS', v.ffs_version === null ? '-' : 'v' + v.ffs_version],
      ['offset', hex(v.flash_offset) + ', length ' + hex(v.length)]];
  }
  if (item.what === 'region')
    return [['title', 'Region ' + item.item.name], ['offset', hex(item.start) + ', length ' + hex(item.length)]];
  if (item.what === 'masked')
    return [['title', 'Masked: ' + item.kind], ['offset', hex(item.start) + ', length ' + hex(item.length)],
      ['raw bytes', item.differs === undefined ? '-' : item.differs ? 'differ' : 'equal']];
  const lines = [['title', item.ranges + (item.ranges === 1 ? ' differing range' : ' differing ranges')],
    ['offset', hex(item.start) + ' to ' + hex(item.start + item.length)], ['differing bytes', String(item.bytes)]];
  if (item.shadedSpans)
    lines.push(['shading', item.ranges + ' ranges, ' + item.bytes + ' differing bytes of ' + item.length + ': shaded by share']);
  if (item.leftOut) lines.push(['exact ranges', 'left out of the page (too many to embed)']);
  const range = item.sample && item.sample.range;
  if (item.ranges === 1 && range) {
    lines.push(['kind', range.kind || range.region || '-']);
    if (range.file) lines.push(['Main file', fileLabel(range.file)]);
    if (range.backup_file) lines.push(['Backup file', fileLabel(range.backup_file)]);
  }
  return lines;
}

function fillCard(target, lines) {
  target.replaceChildren();
  for (const [key, value] of lines) {
    if (key === 'title') target.append(element('div', {className: 'card-title', text: value}));
    else target.append(element('div', {className: 'card-line', text: key + ': ' + value}));
  }
}

const card = document.getElementById('hover-card');
function hover(chip, event) {
  const box = chip.canvas.getBoundingClientRect();
  const item = itemAt(chip, event.clientX - box.left, event.clientY - box.top);
  if (!item) {
    card.hidden = true;
    return;
  }
  fillCard(card, cardLines(item));
  card.hidden = false;
  const left = Math.min(event.clientX + 14, window.innerWidth - card.offsetWidth - 8);
  const top = event.clientY + 14 + card.offsetHeight > window.innerHeight ? event.clientY - card.offsetHeight - 10 : event.clientY + 14;
  card.style.left = Math.max(4, left) + 'px';
  card.style.top = Math.max(4, top) + 'px';
}

for (const chip of chips) {
  const canvas = chip.canvas;
  let drag = null;
  canvas.addEventListener('wheel', (event) => {
    event.preventDefault();
    const box = canvas.getBoundingClientRect();
    zoom(event.deltaY < 0 ? 0.8 : 1.25, offsetOf(chip, event.clientX - box.left));
  }, {passive: false});
  // A drag zooms to the span dragged over; with Shift it moves the view.
  const band = element('div', {className: 'band', hidden: ''});
  chip.frame.append(band);
  canvas.addEventListener('pointerdown', (event) => {
    const box = canvas.getBoundingClientRect();
    drag = {x: event.clientX, left: box.left, start: view.start, end: view.end, moved: false, pan: event.shiftKey};
    canvas.setPointerCapture(event.pointerId);
  });
  canvas.addEventListener('pointermove', (event) => {
    if (drag && (drag.moved || Math.abs(event.clientX - drag.x) > 3)) {
      drag.moved = true;
      card.hidden = true;
      if (drag.pan) {
        const shift = ((event.clientX - drag.x) / (chip.width - GUTTER)) * (drag.end - drag.start);
        setView(drag.start - shift, drag.end - shift);
        return;
      }
      const x0 = Math.max(GUTTER, Math.min(drag.x, event.clientX) - drag.left);
      const x1 = Math.min(chip.width, Math.max(drag.x, event.clientX) - drag.left);
      band.hidden = false;
      band.style.left = x0 + 1 + 'px';
      band.style.width = Math.max(x1 - x0, 1) + 'px';
      return;
    }
    hover(chip, event);
  });
  canvas.addEventListener('pointerup', (event) => {
    const done = drag;
    drag = null;
    band.hidden = true;
    if (!done) return;
    const box = canvas.getBoundingClientRect();
    if (done.moved && !done.pan) {
      const a = offsetOf(chip, Math.max(GUTTER, done.x - box.left));
      const b = offsetOf(chip, Math.max(GUTTER, event.clientX - box.left));
      setView(Math.min(a, b), Math.max(a, b));
    }
    if (done.moved) return;
    const item = itemAt(chip, event.clientX - box.left, event.clientY - box.top);
    if (item) showItem(item.start, item.length);
    if (item && item.what === 'differs') showRangesAt(item);
  });
  canvas.addEventListener('pointerleave', () => { card.hidden = true; });
  // What the hover card shows, for the keyboard: n and p step through the
  // items in view (the differences first, then regions, volumes, files and
  // masked areas, row by row: a chip of thousands of files would otherwise
  // hide its differences behind them) and write the chosen one's details
  // below the maps; Enter zooms to it.
  let stepped = -1;
  const stepOrder = chip.rows.filter(({row}) => row.kind === 'differs').concat(chip.rows.filter(({row}) => row.kind !== 'differs'));
  const inView = () => stepOrder.flatMap(({items}) => items.filter((i) => i.start < view.end && i.start + i.length > view.start));
  const step = (by) => {
    const items = inView();
    if (!items.length) return;
    stepped = ((stepped + by) % items.length + items.length) % items.length;
    const item = items[stepped];
    const shaded = item.what === 'differs' && item.span && !drawnExact(chip, item);
    const lines = cardLines(item.what === 'differs'
      ? Object.assign({}, item, {sample: item, shadedSpans: shaded ? 1 : 0, leftOut: shaded && item.exact === null ? 1 : 0})
      : item);
    lines.push(['item', (stepped + 1) + ' of ' + items.length + ' in view on ' + chip.role]);
    fillCard(document.getElementById('selection'), lines);
  };
  canvas.addEventListener('keydown', (event) => {
    const actions = {'+': () => zoom(0.5), '=': () => zoom(0.5), '-': () => zoom(2), '0': () => setView(0, flashSize),
      Home: () => setView(0, flashSize), ArrowLeft: () => pan(-0.2), ArrowRight: () => pan(0.2),
      n: () => step(1), p: () => step(-1),
      Enter: () => {
        const item = inView()[stepped];
        if (item) showItem(item.start, item.length);
        if (item && item.what === 'differs') showRangesAt(item);
      }};
    if (actions[event.key]) {
      event.preventDefault();
      actions[event.key]();
    }
  });
}
document.getElementById('map-controls').addEventListener('click', (event) => {
  const action = event.target.dataset && event.target.dataset.action;
  if (action === 'in') zoom(0.5);
  if (action === 'out') zoom(2);
  if (action === 'left') pan(-0.2);
  if (action === 'right') pan(0.2);
  if (action === 'all') setView(0, flashSize);
});

// ---- the chosen file, marked on every map
let chosen = null;

// Where a file can be shown on a chip: its own place, or the innermost
// file holding it that has a flash offset (inside compressed bytes).
function placeOnChip(file, chip) {
  const place = comparing ? otherChipFile(file, chip.side) : file;
  if (!place) return null;
  if (place.flash_offset !== null) {
    const own = chip.layout.files.find((f) => fileKey(f) === fileKey(file));
    return {start: place.flash_offset, length: place.size, file: own || file, holder: null};
  }
  for (let depth = file.path.length - 1; depth >= 0; --depth) {
    const holder = chip.layout.files.find((f) => f.guid === file.path[depth] && f.path.length === depth &&
      f.path.every((g, i) => g === file.path[i]));
    if (holder) return {start: holder.flash_offset, length: holder.size, file: holder, holder};
  }
  return null;
}

function placeMark(chip) {
  let mark = chip.frame.querySelector('.mark');
  // Found once per choice, not on every draw: the search is through every file.
  if (chip.placeOf !== chosen) {
    chip.placeOf = chosen;
    chip.place = chosen && placeOnChip(chosen, chip);
  }
  const place = chip.place;
  if (!place) {
    if (mark) mark.remove();
    chip.note.textContent = chosen ? fileLabel(chosen) + ': not on ' + chip.role : '';
    return;
  }
  if (!mark) {
    mark = element('div', {className: 'mark'});
    chip.frame.append(mark);
  }
  const rowIndex = rows.findIndex((r) => r.kind === 'file' && r.depth === Math.min(depthOfFile(place.file), 3));
  const x0 = Math.max(GUTTER, xOf(chip, place.start));
  const x1 = Math.min(chip.width, Math.max(x0 + 2, xOf(chip, place.start + place.length)));
  mark.style.left = x0 - 3 + 1 + 'px';
  mark.style.width = x1 - x0 + 6 + 'px';
  mark.style.top = RULER + rowIndex * ROW - 2 + 1 + 'px';
  mark.style.height = ROW + 4 + 'px';
  mark.dataset.flashOffset = String(place.start);
  mark.dataset.size = String(place.length);
  mark.dataset.holder = place.holder ? place.holder.guid : '';
  chip.note.textContent = fileLabel(chosen) + (place.holder
    ? ' lies in compressed bytes of ' + fileLabel(place.holder) + ' at ' + hex(place.start)
    : ' at ' + hex(place.start) + ', size ' + hex(place.length));
}

function choose(file, row) {
  chosen = file;
  for (const other of tableBody.querySelectorAll('tr[aria-selected="true"]')) other.setAttribute('aria-selected', 'false');
  if (row) row.setAttribute('aria-selected', 'true');  // rows built later read `chosen`
  const places = chips.map((chip) => placeOnChip(file, chip)).filter((p) => p);
  if (places.length) {
    const start = Math.min(...places.map((p) => p.start));
    const end = Math.max(...places.map((p) => p.start + p.length));
    showItem(start, end - start);
  } else {
    drawAll();
  }
  const item = {what: 'file', item: file, change: changes.get(fileKey(file))};
  fillCard(document.getElementById('selection'), cardLines(item));
  showFileBytes(file);
  // The maps come into view if the table had scrolled them away; the
  // focus stays on the row.
  const maps = mapsElement.getBoundingClientRect();
  if (maps.bottom < 0 || maps.top > window.innerHeight) mapsElement.scrollIntoView({block: 'nearest'});
}
