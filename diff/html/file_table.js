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
const rowsOfTable = files.map((f) => {
  const notes = [];
  if (f.masked) notes.push('masked bytes only');
  if (f.compressed) notes.push('inside compressed bytes');
  if (f.problems) notes.push(...f.problems);
  if (f.path.length) notes.push('in ' + f.path.join(' > '));
  const cells = comparing
    ? [place(f.main, 'flash_offset'), f.main ? hex(f.main.size) : '-', place(f.backup, 'flash_offset'), f.backup ? hex(f.backup.size) : '-']
    : [f.flash_offset === null ? noOffset(f) : hex(f.flash_offset), hex(f.size)];
  const row = element('tr', {tabindex: '0', 'aria-selected': 'false', 'data-change': classOf(f), 'data-guid': f.guid,
    'data-index': String(f.index), 'data-path': f.path.join('/')}, [
    element('td', {}, [element('span', {className: 'change', 'data-class': classOf(f), text: classOf(f)})]),
    element('td', {text: f.name || '(no name)'}),
    element('td', {className: 'mono guid', text: f.guid}),
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
  let shown = 0;
  for (const entry of rowsOfTable) {
    const visible = (shownClass === 'all' || classOf(entry.file) === shownClass) && (!text || entry.search.includes(text));
    entry.row.hidden = !visible;
    shown += visible ? 1 : 0;
  }
  document.getElementById('file-count').textContent = shown + ' of ' + files.length + ' files shown';
}
search.addEventListener('input', applyFilter);
