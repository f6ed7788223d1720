// SPDX-License-Identifier: BSD-2-Clause-Patent
// The table of files: filterable by class, searchable by name or GUID;
// choosing a row marks the file on the maps.
// ---- the file table
const tableBody = document.querySelector('#file-table tbody');
const classOf = (f) => (comparing ? f.change : f.problems ? 'not opened' : f.compressed ? 'compressed' : 'in flash');
const heads = comparing
  ? ['Change', 'Name', 'GUID', 'Type', 'Main offset', 'Main size', 'Backup offset', 'Backup size', 'Notes']
  : ['Kind', 'Name', 'GUID', 'Type', 'Offset', 'Size', 'Notes'];
document.querySelector('#file-table thead').append(element('tr', {}, heads.map((h) => element('th', {scope: 'col', text: h}))));
// A file with no flash offset lies in decompressed bytes, or outside the
// part (below or beyond it): the reason says which.
const noOffset = (p) => (p.flash_offset_reason && !p.flash_offset_reason.startsWith('inside')
  ? p.flash_offset_reason.replace(' of the geometry used', '') : 'compressed');
const place = (p, key) => (!p ? 'absent' : p[key] === null ? noOffset(p) : hex(p[key]));
function buildRow(f, position) {
  const notes = [];
  if (f.masked) notes.push('masked bytes only');
  if (f.compressed) notes.push('inside compressed bytes');
  if (f.problems) notes.push(...f.problems);
  if (f.path.length) notes.push('in ' + f.path.join(' > '));
  const cells = comparing
    ? [place(f.main, 'flash_offset'), f.main ? hex(f.main.size) : '-', place(f.backup, 'flash_offset'), f.backup ? hex(f.backup.size) : '-']
    : [f.flash_offset === null ? noOffset(f) : hex(f.flash_offset), hex(f.size)];
  // One Tab stop for the table (its box): rows take the focus by the arrow
  // keys, never by Tab.
  const row = element('tr', {tabindex: '-1', 'aria-selected': 'false', 'data-change': classOf(f), 'data-guid': f.guid,
    'data-index': String(f.index), 'data-path': f.path.join('/'), 'data-row': String(position)}, [
    element('td', {}, [element('span', {className: 'change', 'data-class': classOf(f), text: classOf(f)})]),
    element('td', {text: f.name || '(no name)'}),
    element('td', {className: 'mono guid', text: f.guid}),
    element('td', {text: f.type_name}),
    ...cells.map((c) => element('td', {className: 'mono number', text: c})),
    element('td', {text: notes.join('; ')}),
  ]);
  Array.from(row.children).forEach((cell, i) => cell.setAttribute('data-label', heads[i]));
  row.addEventListener('click', () => choose(f, row));
  row.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' || event.key === ' ') {
      event.preventDefault();
      choose(f, row);
      return;
    }
    const page = Math.max(1, Math.floor(tableBox.clientHeight / rowHeight) - 1);
    const moves = {ArrowDown: 1, ArrowUp: -1, PageDown: page, PageUp: -page};
    const at = shownAt(row);
    const to = event.key in moves ? Math.min(Math.max(at + moves[event.key], 0), shownRows.length - 1)
      : event.key === 'Home' ? 0 : event.key === 'End' ? shownRows.length - 1 : null;
    if (to === null) return;
    event.preventDefault();
    event.stopPropagation();
    focusShown(to);
  });
  return row;
}
const rowsOfTable = files.map((f, position) => ({file: f, position, search: ((f.name || '') + ' ' + f.guid).toLowerCase()}));

// Only the rows in and near the scroll box's view are in the document (a
// chip may hold tens of thousands of files); spacer rows stand for the
// rest at the rows' measured mean height. Printing shows the first
// PRINTED_ROWS rows the filter and search show, and says how many it left
// out: every row of a large chip would be thousands of pages.
const tableBox = tableBody.closest('.scroll');
const OVERSCAN = 24;
const PRINTED_ROWS = 500;
const printNote = document.getElementById('file-print-note');
let shownRows = rowsOfTable;
let rowHeight = 28;
let printing = window.matchMedia('print').matches;
const builtRows = new Map();  // position in files -> its row, while near the view
function spacer() {
  const cell = element('td', {colspan: String(heads.length)});
  return element('tr', {className: 'spacer', 'aria-hidden': 'true'}, [cell]);
}
const topSpacer = spacer();
const bottomSpacer = spacer();
function renderRows() {
  const count = shownRows.length;
  let first = 0;
  let last = Math.min(count, PRINTED_ROWS);
  if (!printing) {
    // Never past the last rows: after a search or filter the scroll box
    // may still stand where a longer list had its rows.
    const inView = Math.ceil(Math.max(tableBox.clientHeight, 400) / rowHeight);
    first = Math.floor(tableBox.scrollTop / rowHeight) - OVERSCAN;
    first = Math.max(0, Math.min(first, count - inView - OVERSCAN));
    last = Math.min(count, first + inView + 2 * OVERSCAN);
  }
  const rows = [];
  const keep = new Set();
  for (let i = first; i < last; ++i) {
    const entry = shownRows[i];
    let row = builtRows.get(entry.position);
    if (!row) builtRows.set(entry.position, (row = buildRow(entry.file, entry.position)));
    row.setAttribute('aria-selected', entry.file === chosen ? 'true' : 'false');
    keep.add(entry.position);
    rows.push(row);
  }
  for (const position of builtRows.keys()) if (!keep.has(position)) builtRows.delete(position);
  topSpacer.firstChild.style.height = first * rowHeight + 'px';
  bottomSpacer.firstChild.style.height = (count - last) * rowHeight + 'px';
  // Rows that stay are never taken out, not even for a moment: the focused
  // one would lose the focus.
  const wanted = [...(first ? [topSpacer] : []), ...rows, ...(last < count && !printing ? [bottomSpacer] : [])];
  printNote.textContent = count > PRINTED_ROWS
    ? 'Printed: the first ' + PRINTED_ROWS + ' of the ' + count + ' files shown; the other ' + (count - PRINTED_ROWS) +
      ' are left out of the printout (choose a class or search to print others).'
    : '';
  const wantedSet = new Set(wanted);
  for (const node of Array.from(tableBody.children)) if (!wantedSet.has(node)) node.remove();
  let at = tableBody.firstChild;
  for (const node of wanted) {
    if (node === at) at = at.nextSibling;
    else tableBody.insertBefore(node, at);
  }
  if (rows.length && !printing) {
    const measured = (rows[rows.length - 1].getBoundingClientRect().bottom - rows[0].getBoundingClientRect().top) / rows.length;
    if (measured > 4) rowHeight = measured;
  }
}
tableBox.addEventListener('scroll', renderRows, {passive: true});
const printMedia = window.matchMedia('print');
const printChanged = () => {
  printing = printMedia.matches;
  renderRows();
};
printMedia.addEventListener('change', printChanged);
window.addEventListener('beforeprint', () => {
  printing = true;
  renderRows();
});
window.addEventListener('afterprint', printChanged);
const shownAt = (row) => shownRows.findIndex((entry) => entry.position === Number(row.dataset.row));
// Brings the i-th shown row into the document and the view, and focuses it.
function focusShown(i) {
  if (i < 0 || i >= shownRows.length) return;
  let row = builtRows.get(shownRows[i].position);
  if (!row) {
    tableBox.scrollTop = Math.max(0, i * rowHeight - tableBox.clientHeight / 2);
    renderRows();
    row = builtRows.get(shownRows[i].position);
  }
  if (!row) return;
  row.scrollIntoView({block: 'nearest'});
  row.focus();
}

// The usual classes first, then any other the report uses (unreadable,
// hidden, masked only), so that every row has its filter.
const classes = comparing ? ['changed', 'moved', 'only in Main', 'only in Backup'] : ['in flash', 'compressed', 'not opened'];
for (const f of files) if (!classes.includes(classOf(f))) classes.push(classOf(f));
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
  shownRows = rowsOfTable.filter((entry) => (shownClass === 'all' || classOf(entry.file) === shownClass) &&
    (!text || entry.search.includes(text)));
  document.getElementById('file-count').textContent = shownRows.length + ' of ' + files.length + ' files shown';
  // The rows found, from their first.
  tableBox.scrollTop = 0;
  renderRows();
}
search.addEventListener('input', applyFilter);
// Arrow keys, Home and End on the table's box go to its rows: the chosen
// file's when it is shown, else the first (or last) in view.
tableBox.addEventListener('keydown', (event) => {
  if (event.target !== tableBox || !shownRows.length) return;
  const box = tableBox.getBoundingClientRect();
  const visible = Array.from(tableBody.querySelectorAll('tr[data-row]')).filter((row) => {
    const r = row.getBoundingClientRect();
    return r.bottom > box.top + 1 && r.top < box.bottom - 1;
  });
  const chosenAt = shownRows.findIndex((entry) => entry.file === chosen);
  const ends = {ArrowDown: visible[0], ArrowUp: visible[visible.length - 1]};
  let to = null;
  if (event.key === 'Home') to = 0;
  else if (event.key === 'End') to = shownRows.length - 1;
  else if (event.key in ends) to = chosenAt >= 0 ? chosenAt : ends[event.key] ? shownAt(ends[event.key]) : 0;
  if (to === null) return;
  event.preventDefault();
  focusShown(to);
});
