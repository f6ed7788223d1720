// pellrix-diff's report page: everything shown is drawn from the JSON
// document embedded in the page, the one --json writes.
'use strict';
(function () {
  const data = JSON.parse(document.getElementById('report-data').textContent);
  const comparing = 'verdict' in data;
  const KiB = 1024;
  const BLOCK = 4 * KiB;  // the smallest view: one block

  // ---- text helpers
  const hex = (n) => (n === null || n === undefined ? '-' : '0x' + n.toString(16));
  function bytesText(n) {
    if (n >= 1048576 && n % 1048576 === 0) return n / 1048576 + ' MiB';
    if (n >= KiB && n % KiB === 0) return n / KiB + ' KiB';
    return n + ' bytes';
  }
  function element(tag, attributes, children) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(attributes || {})) {
      if (key === 'text') node.textContent = value;
      else if (key === 'className') node.className = value;
      else node.setAttribute(key, value);
    }
    for (const child of children || []) node.append(child);
    return node;
  }
  const fileLabel = (f) => (f.name ? f.name : '(no name) ' + f.guid);
  const fileKey = (f) => f.guid + '|' + f.index + '|' + f.path.join('/');

  // ---- the chips as the page draws them
  const geometry = data.geometry || {flash_size: data.size};
  const flashSize = Math.max(geometry.flash_size || 0, BLOCK);

  // Without an Intel flash descriptor the geometry still says where the
  // BIOS region lies.
  function geometryRegions() {
    const bios = Math.min(geometry.bios_size || flashSize, flashSize);
    const regions = [{name: 'BIOS region (geometry)', flash_offset: flashSize - bios, length: bios}];
    if (bios < flashSize) regions.unshift({name: 'below BIOS region', flash_offset: 0, length: flashSize - bios});
    return regions;
  }
  function layoutOf(source) {
    const layout = source || {};
    const described = ((layout.flash_descriptor || {}).regions || []).filter((r) => r.length > 0);
    return {
      regions: described.length ? described : geometryRegions(),
      volumes: (layout.volumes || []).filter((v) => v.flash_offset !== null),
      files: (layout.files || []).filter((f) => f.flash_offset !== null),
    };
  }

  function rangesOf(key) {
    if (Array.isArray(data[key]))
      return data[key].map((r) => ({start: r.flash_offset, length: r.length, bytes: r.differing_bytes, ranges: 1, range: r}));
    const spans = data[key + '_spans'];
    if (!spans) return [];
    return spans.spans.map((s) => ({start: s.flash_offset, length: s.length, bytes: s.differing_bytes, ranges: s.ranges}));
  }
  const differing = rangesOf('differences').concat(rangesOf('below_bios_region')).sort((a, b) => a.start - b.start);
  // With --no-mask: what the masks hide, drawn under the masked areas.
  const rawMasked = rangesOf('masked_differences').sort((a, b) => a.start - b.start);

  const chips = comparing
    ? data.dumps.map((dump, i) => ({
        role: i === 0 ? 'Main' : 'Backup',
        side: i === 0 ? 'main' : 'backup',
        dump,
        layout: layoutOf(dump.layout),
        masked: (dump.masked || [])
          .map((m) => ({start: m.flash_offset, length: m.length, what: m.what, differs: m.differs}))
          .concat((dump.variable_stores || []).filter((s) => s.masked)
            .map((s) => ({start: s.flash_offset, length: s.length, what: s.format + ' variable store'}))),
      }))
    : [{role: 'Dump', side: 'main', dump: data, layout: layoutOf(data), masked: []}];

  // A file's change, by its key, for the map and the hover card.
  const changes = new Map();
  const files = data.files;
  if (comparing) for (const f of data.files) changes.set(fileKey(f), f);

  // Rows of each map: regions, then volumes and files level by level
  // (a nested volume sits under the file holding it), masked areas and
  // the differing ranges.
  // Paths alternate volumes and files, outermost first; a volume's path
  // ends with its own name.
  const depthOf = (thing) => Math.floor(Math.max(thing.path.length - 1, 0) / 2);
  const depthOfVolume = depthOf;
  const depthOfFile = depthOf;
  let deepest = 0;
  for (const chip of chips) {
    for (const v of chip.layout.volumes) deepest = Math.max(deepest, depthOfVolume(v));
    for (const f of chip.layout.files) deepest = Math.max(deepest, depthOfFile(f));
  }
  deepest = Math.min(deepest, 3);
  const rows = [{kind: 'region', label: 'regions'}];
  for (let d = 0; d <= deepest; ++d) {
    rows.push({kind: 'volume', depth: d, label: d ? 'volumes ' + (d + 1) : 'volumes'});
    rows.push({kind: 'file', depth: d, label: d ? 'files ' + (d + 1) : 'files'});
  }
  if (comparing) rows.push({kind: 'masked', label: 'masked'}, {kind: 'differs', label: 'differs'});

  const RULER = 22;
  const ROW = 26;
  const GUTTER = 64;
  const sortByStart = (list) => list.slice().sort((a, b) => a.start - b.start);
  for (const chip of chips) {
    chip.rows = rows.map((row) => {
      let items = [];
      if (row.kind === 'region')
        items = chip.layout.regions.map((r) => ({start: r.flash_offset, length: r.length, label: r.name, what: 'region', item: r}));
      if (row.kind === 'volume')
        items = chip.layout.volumes.filter((v) => Math.min(depthOfVolume(v), 3) === row.depth)
          .map((v) => ({start: v.flash_offset, length: v.length, label: v.name || v.file_system, what: 'volume', item: v}));
      if (row.kind === 'file')
        items = chip.layout.files.filter((f) => Math.min(depthOfFile(f), 3) === row.depth)
          .map((f) => ({start: f.flash_offset, length: f.size, label: f.name || f.guid, what: 'file', item: f,
            change: changes.get(fileKey(f))}));
      if (row.kind === 'masked') {
        items = chip.masked.map((m) => Object.assign({label: m.what, what: 'masked'}, m));
        chip.rawMasked = rawMasked;
      }
      if (row.kind === 'differs') items = differing.map((r) => Object.assign({what: 'differs'}, r));
      return {row, items: sortByStart(items)};
    });
  }

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
  function fileFill(context, item) {
    if (!item.change) return null;
    const kind = item.change.change;
    const tile = kind === 'changed' ? tiles.changed : kind === 'moved' ? tiles.moved : tiles.only;
    return context.createPattern(tile, 'repeat');
  }

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

  // Ranges aggregated per pixel: any count of them costs one pass. A white
  // line runs through the dark bars, so they do not rest on colour alone.
  function drawCoverage(chip, g, items, top, height) {
    const right = chip.width;
    const covered = new Uint8Array(Math.ceil(right));
    for (let i = firstVisible(items); i < items.length && items[i].start < view.end; ++i) {
      const item = items[i];
      if (item.start + item.length <= view.start) continue;
      const x0 = Math.max(GUTTER, Math.floor(xOf(chip, item.start)));
      const x1 = Math.min(right, Math.max(x0 + 1, Math.ceil(xOf(chip, item.start + item.length))));
      covered.fill(1, x0, x1);
    }
    for (let x = GUTTER; x < right; ++x) {
      if (!covered[x]) continue;
      let end = x;
      while (end < right && covered[end]) ++end;
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
    for (let i = firstVisible(items); i < items.length && items[i].start < view.end; ++i) {
      const item = items[i];
      if (item.start + item.length <= view.start) continue;
      const x0 = Math.max(GUTTER, xOf(chip, item.start));
      const x1 = Math.min(right, Math.max(x0 + 1, xOf(chip, item.start + item.length)));
      shade ^= 1;
      let fill = null;
      if (row.kind === 'masked') fill = g.createPattern(tiles.masked, 'repeat');
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
        g.fillStyle = row.kind === 'masked' ? '#000' : '#111';
        if (row.kind === 'masked') {
          const width = g.measureText(label).width;
          g.fillStyle = '#fff';
          g.fillRect(x0 + 3, top + 6, Math.min(width + 4, x1 - x0 - 6), ROW - 12);
          g.fillStyle = '#000';
        }
        g.fillText(label, x0 + 5, top + ROW / 2);
        g.restore();
      }
    }
    if (row.kind === 'masked' && chip.rawMasked.length) drawCoverage(chip, g, chip.rawMasked, top + ROW - 8, 6);
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
      // Every range under this pixel, gathered.
      let count = 0;
      let bytes = 0;
      let first = Infinity;
      let last = 0;
      for (let i = firstVisible(items); i < items.length && items[i].start <= at + slack; ++i) {
        const item = items[i];
        if (item.start + item.length + slack < at) continue;
        count += item.ranges;
        bytes += item.bytes;
        first = Math.min(first, item.start);
        last = Math.max(last, item.start + item.length);
      }
      return {what: 'differs', start: first, length: last - first, ranges: count, bytes, sample: best};
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
          : place.flash_offset === null ? 'inside compressed bytes, size ' + hex(place.size)
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
      return [['title', 'Masked: ' + item.what], ['offset', hex(item.start) + ', length ' + hex(item.length)],
        ['raw bytes', item.differs === undefined ? '-' : item.differs ? 'differ' : 'equal']];
    const lines = [['title', item.ranges + (item.ranges === 1 ? ' differing range' : ' differing ranges')],
      ['offset', hex(item.start) + ' to ' + hex(item.start + item.length)], ['differing bytes', String(item.bytes)]];
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
    });
    canvas.addEventListener('pointerleave', () => { card.hidden = true; });
    canvas.addEventListener('keydown', (event) => {
      const actions = {'+': () => zoom(0.5), '=': () => zoom(0.5), '-': () => zoom(2), '0': () => setView(0, flashSize),
        Home: () => setView(0, flashSize), ArrowLeft: () => pan(-0.2), ArrowRight: () => pan(0.2)};
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
    const place = chosen && placeOnChip(chosen, chip);
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
    if (row) row.setAttribute('aria-selected', 'true');
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
    // The maps come into view if the table had scrolled them away; the
    // focus stays on the row.
    const maps = mapsElement.getBoundingClientRect();
    if (maps.bottom < 0 || maps.top > window.innerHeight) mapsElement.scrollIntoView({block: 'nearest'});
  }

  // ---- the file table
  const tableBody = document.querySelector('#file-table tbody');
  const classOf = (f) => (comparing ? f.change : f.problems ? 'not opened' : f.compressed ? 'compressed' : 'in flash');
  const heads = comparing
    ? ['Change', 'Name', 'GUID', 'Type', 'Main offset', 'Main size', 'Backup offset', 'Backup size', 'Notes']
    : ['Kind', 'Name', 'GUID', 'Type', 'Offset', 'Size', 'Notes'];
  document.querySelector('#file-table thead').append(element('tr', {}, heads.map((h) => element('th', {scope: 'col', text: h}))));
  const place = (p, key) => (!p ? 'absent' : p[key] === null ? 'compressed' : hex(p[key]));
  const rowsOfTable = files.map((f) => {
    const notes = [];
    if (f.masked) notes.push('masked bytes only');
    if (f.compressed) notes.push('inside compressed bytes');
    if (f.problems) notes.push(...f.problems);
    if (f.path.length) notes.push('in ' + f.path.join(' > '));
    const cells = comparing
      ? [place(f.main, 'flash_offset'), f.main ? hex(f.main.size) : '-', place(f.backup, 'flash_offset'), f.backup ? hex(f.backup.size) : '-']
      : [f.flash_offset === null ? 'compressed' : hex(f.flash_offset), hex(f.size)];
    const row = element('tr', {tabindex: '0', 'aria-selected': 'false', 'data-change': classOf(f), 'data-guid': f.guid,
      'data-index': String(f.index), 'data-path': f.path.join('/')}, [
      element('td', {}, [element('span', {className: 'change', 'data-class': classOf(f), text: classOf(f)})]),
      element('td', {text: f.name || '(no name)'}),
      element('td', {className: 'mono', text: f.guid}),
      element('td', {text: f.type_name}),
      ...cells.map((c) => element('td', {className: 'mono number', text: c})),
      element('td', {text: notes.join('; ')}),
    ]);
    row.addEventListener('click', () => choose(f, row));
    row.addEventListener('keydown', (event) => {
      if (event.key === 'Enter' || event.key === ' ') {
        event.preventDefault();
        choose(f, row);
      }
    });
    return {row, file: f, search: ((f.name || '') + ' ' + f.guid).toLowerCase()};
  });
  tableBody.append(...rowsOfTable.map((r) => r.row));

  const classes = comparing ? ['changed', 'moved', 'only in Main', 'only in Backup'] : ['in flash', 'compressed', 'not opened'];
  const filter = document.getElementById('file-filter');
  const search = document.getElementById('file-search');
  let shownClass = 'all';
  for (const name of ['all'].concat(classes)) {
    const count = name === 'all' ? files.length : files.filter((f) => classOf(f) === name).length;
    const input = element('input', {type: 'radio', name: 'file-class', value: name});
    input.checked = name === 'all';
    input.addEventListener('change', () => {
      shownClass = name;
      applyFilter();
    });
    filter.append(element('label', {}, [input, ' ' + name + ' (' + count + ')']));
  }
  function applyFilter() {
    const text = search.value.trim().toLowerCase();
    let shown = 0;
    for (const entry of rowsOfTable) {
      const visible = (shownClass === 'all' || classOf(entry.file) === shownClass) && (!text || entry.search.includes(text));
      entry.row.hidden = !visible;
      shown += visible ? 1 : 0;
    }
    document.getElementById('file-count').textContent = shown + ' of ' + files.length + ' files shown';
  }
  search.addEventListener('input', applyFilter);

  // ---- verdict, summary, variables, dumps
  function summaryLines() {
    const lines = [];
    const s = data.summary || {};
    const used = new Set();
    const take = (key) => { used.add(key); return s[key]; };
    if ('differing_ranges' in s)
      lines.push('Differences after masking: ' + take('differing_ranges') + ' ranges, ' + take('differing_bytes') + ' bytes');
    if ('files_changed' in s)
      lines.push('Files: ' + take('files_changed') + ' changed, ' + take('files_moved') + ' moved, ' + take('files_only_in_main') +
        ' only in Main, ' + take('files_only_in_backup') + ' only in Backup (' + take('files_compressed') + ' inside compressed volumes)');
    if ('not_checked' in s) lines.push('Not checked in a dump: ' + take('not_checked'));
    for (const warning of take('warnings') || []) lines.push('Warning: ' + warning);
    // Whatever else the summary holds, as it is.
    for (const [key, value] of Object.entries(s)) {
      if (used.has(key)) continue;
      const label = key.replace(/_/g, ' ');
      if (Array.isArray(value)) for (const v of value) lines.push(typeof v === 'object' ? label + ': ' + JSON.stringify(v) : String(v));
      else if (value !== null && typeof value === 'object') lines.push(label + ': ' + Object.entries(value).map(([k, v]) => k.replace(/_/g, ' ') + ' ' + v).join(', '));
      else lines.push(label + ': ' + value);
    }
    return lines;
  }
  const verdict = document.getElementById('verdict');
  if (comparing) {
    const v = data.verdict;
    verdict.textContent = 'On-board verdict: ' + v.result + ', exit status ' + v.status + ' (' + v.status_name + ')' +
      (v.address !== null ? ', FAIL at address ' + hex(v.address) : '');
    verdict.className = v.result === 'PASS' ? 'pass' : 'fail';
  } else {
    verdict.textContent = data.file + ': ' + data.files.length + ' files in ' + data.volumes.length + ' volumes';
    document.getElementById('title').textContent = 'pellrix-diff: one dump';
  }
  const summary = document.getElementById('summary');
  for (const line of summaryLines()) summary.append(element('li', {text: line}));
  if (!comparing) for (const problem of data.problems || []) summary.append(element('li', {text: 'Problem: ' + problem}));

  function fillTable(table, records) {
    const keys = [];
    for (const record of records) for (const key of Object.keys(record)) if (!keys.includes(key)) keys.push(key);
    table.querySelector('thead').append(element('tr', {}, keys.map((k) => element('th', {scope: 'col', text: k.replace(/_/g, ' ')}))));
    const body = table.querySelector('tbody');
    for (const record of records)
      body.append(element('tr', {}, keys.map((k) => {
        const value = record[k];
        return element('td', {className: 'mono', text: value === undefined || value === null ? '-' : typeof value === 'object' ? JSON.stringify(value) : String(value)});
      })));
  }
  if (Array.isArray(data.variables)) {
    document.getElementById('variables-section').hidden = false;
    fillTable(document.getElementById('variable-table'), data.variables);
  }
  const tool = document.getElementById('tool').textContent;
  fillTable(document.getElementById('dump-table'), chips.map((chip) => ({
    role: chip.role, file: chip.dump.file, size: chip.dump.size + ' (' + hex(chip.dump.size) + ')', sha256: chip.dump.sha256,
    model_name: chip.dump.identity ? chip.dump.identity.model_name : null, version: chip.dump.identity ? chip.dump.identity.version : null,
    whole_part: chip.dump.whole_part, tool,
  })));
  if (comparing) {
    const checks = element('table', {id: 'check-table'}, [element('thead'), element('tbody')]);
    document.getElementById('checks').append(element('h3', {text: 'Identity checks'}), checks);
    fillTable(checks, data.checks);
  }

  // ---- legend
  const legend = document.getElementById('legend');
  function swatch(text, paint) {
    const c = element('canvas', {width: '28', height: '14', 'aria-hidden': 'true'});
    paint(c.getContext('2d'));
    legend.append(element('li', {}, [c, text]));
  }
  const withTile = (tile) => (g) => { g.fillStyle = g.createPattern(tile, 'repeat'); g.fillRect(0, 0, 28, 14); };
  if (comparing) {
    swatch('changed file (+ grid)', withTile(tiles.changed));
    swatch('moved file (= lines)', withTile(tiles.moved));
    swatch('file on one chip only (|| lines)', withTile(tiles.only));
    swatch('masked area (/ hatch)', withTile(tiles.masked));
    if (rawMasked.length)
      swatch('bytes differing under a mask (--no-mask: thin bar in the masked row)', (g) => { g.fillStyle = '#b00020'; g.fillRect(0, 8, 28, 6); });
    swatch('differing bytes (dark, white line)', (g) => { g.fillStyle = '#b00020'; g.fillRect(0, 0, 28, 14); g.fillStyle = '#fff'; g.fillRect(0, 6, 28, 2); });
  }
  swatch('unchanged file', (g) => { g.fillStyle = fills.file[0]; g.fillRect(0, 0, 28, 14); g.strokeRect(0.5, 0.5, 27, 13); });

  applyFilter();
  drawAll();
  window.addEventListener('resize', drawAll);
  performance.mark('pellrix-drawn');
  document.body.dataset.ready = 'true';
})();
