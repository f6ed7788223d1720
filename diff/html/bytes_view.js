// SPDX-License-Identifier: BSD-2-Clause-Patent
// The bytes view: both chips' bytes around a chosen differing range, 16 a
// line with their offsets, Main beside Backup and every byte that differs
// marked; for a changed file inside compressed bytes, its decompressed
// bytes. The page holds them for the ranges nearest the top of the list
// while they fit its bound; a range left out says so.
const pageBytes = comparing ? data.page_bytes || null : null;
const bytesSection = document.getElementById('bytes-section');
const bytesCaption = document.getElementById('bytes-caption');
const bytesView = document.getElementById('bytes-view');
const rangeBody = document.querySelector('#range-table tbody');
const LISTED_RANGES = 512;  // rows of the range list; the map reaches the rest
const PRINTED_RANGES = 100;  // of them in a printout (page.css holds the same number)

function decodeBase64(text) {
  const raw = atob(text);
  const bytes = new Uint8Array(raw.length);
  for (let i = 0; i < raw.length; ++i) bytes[i] = raw.charCodeAt(i);
  return bytes;
}
const sideOf = (from, text) => (from === null ? null : {from, text});
const bytesOf = (side) => (side && !side.bytes ? Object.assign(side, {bytes: decodeBase64(side.text)}) : side);

// The ranges in the report's order, as the page holds them: listed whole,
// or as the exact numbers of their spans.
function rangesInOrder(key) {
  if (Array.isArray(data[key])) return data[key].map((r) => ({start: r.flash_offset, length: r.length, bytes: r.differing_bytes, range: placed(r)}));
  const spans = data[key + '_spans'] || {};
  const flat = spans.exact_ranges || [];
  const placeOf = spans.exact_place || [];
  const ranges = [];
  for (let i = 0; i + 2 < flat.length; i += 3)
    ranges.push({start: flat[i], length: flat[i + 1], bytes: flat[i + 2], range: places[placeOf[i / 3]] || null});
  return ranges;
}
const orderedRanges = comparing ? rangesInOrder('differences').concat(rangesInOrder('below_bios_region')) : [];
const rangeBytes = new Map();
const fileBytes = new Map();
if (pageBytes) {
  for (const [start, length, mainFrom, mainText, backupFrom, backupText] of pageBytes.ranges)
    rangeBytes.set(start, {start, length, main: sideOf(mainFrom, mainText), backup: sideOf(backupFrom, backupText)});
  for (const [index, mainFrom, mainText, backupFrom, backupText] of pageBytes.files)
    fileBytes.set(index, {main: sideOf(mainFrom, mainText), backup: sideOf(backupFrom, backupText)});
}
const rangeLabel = (r) => 'range at flash ' + hex(r.start) + ', length ' + hex(r.length);
const boundText = () => 'the page holds at most ' + pageBytes.most + ' bytes of both chips (--html-bytes), for the ranges nearest ' +
  'the top of the list first: ' + pageBytes.ranges.length + ' of ' + (pageBytes.ranges.length + pageBytes.ranges_left_out) +
  ' ranges and ' + pageBytes.files.length + ' of ' + (pageBytes.files.length + pageBytes.files_left_out) + ' changed files inside compressed bytes';

// Lines of 16 bytes, Main then Backup; a byte one side does not hold is
// blank there and counts as differing.
function fillBytes(main, backup) {
  const sides = [bytesOf(main), bytesOf(backup)];
  const held = sides.filter((s) => s && s.bytes.length);
  const table = element('table', {className: 'bytes'}, [element('thead', {}, [element('tr', {},
    ['Offset', 'Main', 'Backup'].map((h) => element('th', {scope: 'col', text: h})))]), element('tbody')]);
  bytesView.replaceChildren(table);
  if (!held.length) return;
  const from = Math.floor(Math.min(...held.map((s) => s.from)) / 16) * 16;
  const to = Math.max(...held.map((s) => s.from + s.bytes.length));
  const byteAt = (side, at) => (side && at >= side.from && at < side.from + side.bytes.length ? side.bytes[at - side.from] : null);
  const body = table.tBodies[0];
  for (let line = from; line < to; line += 16) {
    const values = sides.map((side) => Array.from({length: 16}, (_, i) => byteAt(side, line + i)));
    const differs = values[0].map((value, i) => value !== values[1][i]);
    // Runs of bytes that differ go in one mark each, the others as text.
    // Labelled: on a narrow screen each line is a card, Main above Backup.
    const cells = values.map((side, chip) => {
      const cell = element('td', {className: 'mono', 'data-label': chip ? 'Backup' : 'Main'});
      for (let i = 0; i < 16;) {
        let end = i;
        while (end < 16 && differs[end] === differs[i]) ++end;
        const text = side.slice(i, end).map((v) => (v === null ? '  ' : v.toString(16).padStart(2, '0'))).join(' ');
        if (i) cell.append(' ');
        cell.append(differs[i] ? element('mark', {text}) : text);
        i = end;
      }
      return cell;
    });
    body.append(element('tr', {'data-offset': String(line)}, [element('th', {scope: 'row', className: 'mono', text: hex(line)}), ...cells]));
  }
}

function showBytes(caption, main, backup) {
  bytesSection.hidden = false;
  bytesCaption.textContent = caption;
  if (main || backup) fillBytes(main, backup);
  else bytesView.replaceChildren();
}

const unselectRanges = () => {
  for (const row of rangeBody.querySelectorAll('tr[aria-selected="true"]')) row.setAttribute('aria-selected', 'false');
};
function showRange(range, note) {
  if (!pageBytes) return;
  unselectRanges();
  const row = rangeBody.querySelector('tr[data-start="' + range.start + '"]');
  if (row) row.setAttribute('aria-selected', 'true');
  const embedded = rangeBytes.get(range.start);
  const head = (note || '') + 'Bytes of the ' + rangeLabel(range) + ', flash offsets, Main and Backup';
  if (!embedded) {
    showBytes('The bytes of the ' + rangeLabel(range) + ' were left out of the page: ' + boundText() + '.', null, null);
    return;
  }
  const shown = Math.max(...[embedded.main, embedded.backup].map((s) => (s ? s.from + bytesOf(s).bytes.length : 0)));
  const cut = shown < range.start + range.length ? '; the first ' + hex(shown - range.start) + ' bytes of it shown' : '';
  showBytes(head + cut + ' (differing bytes marked).', embedded.main, embedded.backup);
}

// A differing item of the map: a range, a span of many, or what lies under
// the pointer (the smallest range there, or else the first).
function showRangesAt(item) {
  if (!pageBytes) return;
  const target = item.sample && !item.sample.span ? item.sample : item;
  const end = target.start + target.length;
  const overlapping = (r) => r.start < end && r.start + r.length > target.start;
  let first = null;
  for (const r of orderedRanges) if (overlapping(r) && (!first || r.start < first.start)) first = r;
  for (const r of rangeBytes.values()) if (!first && overlapping(r)) first = r;
  if (!first) {
    showBytes('The ranges from ' + hex(target.start) + ' to ' + hex(end) + ' were left out of the page, and their bytes: ' + boundText() + '.', null, null);
  } else {
    const many = (item.ranges || 1) > 1 ? 'The first of ' + item.ranges + ' ranges there. ' : '';
    showRange(first, many);
  }
  if (bytesCaption.getBoundingClientRect().top > window.innerHeight) bytesCaption.scrollIntoView({block: 'nearest'});
}

// A chosen file: decompressed bytes for one inside compressed bytes (the
// head of them for one a chip alone holds), else its first differing range
// on the chip that holds it.
function showFileBytes(file) {
  if (!pageBytes) return;
  const index = files.indexOf(file);
  const embedded = fileBytes.get(index);
  const label = fileLabel(file);
  const alone = !file.main !== !file.backup ? (file.main ? 'Main' : 'Backup') : null;
  const holder = file.main || file.backup;
  unselectRanges();
  if (embedded && alone) {
    const side = bytesOf(embedded[alone === 'Main' ? 'main' : 'backup']);
    const shown = side ? side.from + side.bytes.length : 0;
    showBytes(label + ' is on ' + alone + ' only, inside compressed bytes (' + hex(holder.size) + ' bytes decompressed): ' +
      (shown < holder.size ? 'the first ' + hex(shown) + ' bytes' : 'its bytes') + ', offsets in the file (its header first), ' +
      'none on ' + (alone === 'Main' ? 'Backup' : 'Main') + ' (every byte marked).', embedded.main, embedded.backup);
    return;
  }
  if (embedded) {
    showBytes('Decompressed bytes of ' + label + ' (Main ' + hex(file.main.size) + ', Backup ' + hex(file.backup.size) +
      ' bytes) around its differences, offsets in the file (its header first), Main and Backup (differing bytes marked).',
      embedded.main, embedded.backup);
    return;
  }
  if (alone && file.compressed)
    return showBytes(label + ' is on ' + alone + ' only, inside compressed bytes; its decompressed bytes were left out of the page: ' +
      boundText() + '.', null, null);
  if (file.compressed && file.main && file.backup && file.change !== 'moved')
    return showBytes('The decompressed bytes of ' + label + ' were left out of the page: ' + boundText() + '.', null, null);
  const place = holder && holder.flash_offset !== null ? holder : null;
  const where = alone ? alone : 'Main';
  const inside = place && orderedRanges.find((r) => r.start >= place.flash_offset && r.start < place.flash_offset + place.size);
  const note = label + (alone ? ' is on ' + alone + ' only' : '') + ': ';
  if (inside) showRange(inside, note + 'its first differing range. ');
  else showBytes(note + 'no differing range of the list lies in it on ' + where + '.', null, null);
}

// ---- the range list
if (pageBytes) {
  bytesSection.hidden = false;
  const heads = ['#', 'Flash offset', 'Length', 'Differing bytes', 'Where', 'Bytes'];
  document.querySelector('#range-table thead').append(element('tr', {}, heads.map((h) => element('th', {scope: 'col', text: h}))));
  const where = (r) => (!r.range ? '-' : (r.range.kind || '') + (r.range.region ? ' ' + r.range.region : '') +
    (r.range.file ? ': ' + fileLabel(r.range.file) : ''));
  orderedRanges.slice(0, LISTED_RANGES).forEach((r, i) => {
    const row = element('tr', {tabindex: '0', 'aria-selected': 'false', 'data-start': String(r.start)},
      [String(i + 1), hex(r.start), hex(r.length), String(r.bytes), where(r), rangeBytes.has(r.start) ? 'in the page' : 'left out']
        .map((text, column) => element('td', {className: column && column < 4 ? 'mono number' : '', 'data-label': heads[column], text})));
    const choose = () => {
      showRange(r);
      bytesCaption.scrollIntoView({block: 'nearest'});
    };
    row.addEventListener('click', choose);
    row.addEventListener('keydown', (event) => {
      if (event.key === 'Enter' || event.key === ' ') {
        event.preventDefault();
        choose();
      }
    });
    rangeBody.append(row);
  });
  const listed = Math.min(orderedRanges.length, LISTED_RANGES);
  if (listed > PRINTED_RANGES)
    document.getElementById('range-print-note').textContent = 'Printed: the first ' + PRINTED_RANGES + ' of the ' + listed +
      ' ranges listed; the map and the report\'s text or --json give every range.';
  const total = pageBytes.ranges.length + pageBytes.ranges_left_out;
  document.getElementById('range-count').textContent = Math.min(orderedRanges.length, LISTED_RANGES) + ' of ' + total +
    ' ranges listed (the map reaches every range); ' + boundText() + '.';
}
