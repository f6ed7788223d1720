// SPDX-License-Identifier: BSD-2-Clause-Patent
// The verdict and summary lines, the variables, the dumps and the legend;
// then the first drawing.
// ---- verdict, summary, variables, dumps
function summaryLines() {
  const lines = [];
  const s = data.summary || {};
  const used = new Set();
  const take = (key) => { used.add(key); return s[key]; };
  // In the text report's order and words: every byte of both files first.
  if ('whole_files' in s) {
    const whole = take('whole_files');
    if (whole.identical) lines.push('Whole files: byte-identical');
    for (const disagreement of whole.descriptor_disagreements || []) lines.push('Descriptors disagree on ' + disagreement);
    for (const area of whole.areas || []) lines.push(area.area + ': ' + area.differing_bytes + ' bytes differ');
    const length = whole.length_difference;
    if (length) {
      const beyond = length.beyond_part || 0;
      lines.push(length.longer + ' is longer by ' + length.bytes + ' bytes (' + hex(length.bytes) + '), ' +
        length.not_erased + ' of them not erased' + (beyond === 0 ? '' : beyond === length.bytes
        ? ', all beyond the flash part' : ', ' + beyond + ' beyond the flash part'));
    }
  }
  if ('not_checked' in s) lines.push('not checked in a dump: ' + take('not_checked'));
  if ('differing_ranges' in s)
    lines.push('Differences after masking: ' + take('differing_ranges') + ' ranges, ' + take('differing_bytes') + ' bytes');
  if ('files_changed' in s) {
    let files = 'Files: ' + take('files_changed') + ' changed, ' + take('files_moved') + ' moved, ' + take('files_only_in_main') +
      ' only in Main, ' + take('files_only_in_backup') + ' only in Backup (' + take('files_compressed') + ' inside compressed volumes)';
    const unreadable = take('files_unreadable') || 0;
    const hidden = take('files_hidden') || 0;
    const maskedOnly = take('files_masked_only') || 0;
    if (unreadable > 0) files += '; ' + unreadable + ' unreadable on one side';
    if (hidden > 0) files += ', ' + hidden + ' hidden by them';
    if (maskedOnly > 0) files += '; ' + maskedOnly + ' differ only in masked areas';
    lines.push(files);
  }
  if ('variables_changed' in s) {
    const stores = Array.isArray(data.variable_stores) ? data.variable_stores : [];
    let variables = 'Variables: ' + take('variables_changed') + ' changed, ' + take('variables_only_in_main') +
      ' only in Main, ' + take('variables_only_in_backup') + ' only in Backup, ' + take('variables_deleted_in_main') +
      ' deleted in Main, ' + take('variables_deleted_in_backup') + ' deleted in Backup';
    const unread = stores.filter((store) => store.problem !== null).length;
    if (unread > 0) variables += ' (' + unread + (unread === 1 ? ' store' : ' stores') + ' not read)';
    const moved = take('variables_moved_unchanged') || 0;
    if (moved > 0) variables += '; ' + moved + ' unchanged at other places in the store (reclaimed, its records compacted)';
    if (stores.length > 0) lines.push(variables);
  }
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
      return element('td', {className: 'mono', 'data-label': k.replace(/_/g, ' '),
        text: value === undefined || value === null ? '-' : typeof value === 'object' ? JSON.stringify(value) : String(value)});
    })));
}
// A variable's side as the text report gives it: size, attributes, offset,
// then its value in words, or its bytes.
function valueText(value) {
  if (!value) return '';
  const parts = [];
  if (value.decoded !== null) parts.push(value.decoded);
  if (value.problem) parts.push(value.problem);
  if (value.hex !== null) parts.push(value.hex);
  else if (value.decoded === null) parts.push(value.size + ' bytes, SHA-256 ' + value.sha256);
  return parts.join('; ');
}
function sideText(side) {
  if (!side) return '-';
  return side.data_size + ' bytes, attributes ' + hex(side.attributes) + ', at ' + hex(side.flash_offset) +
    (side.state !== 'added' ? ', ' + side.state : '') + (side.value ? '\n' + valueText(side.value) : '');
}
function entryText(entry) {
  return entry.type === 'X509' ? 'X509 subject ' + entry.subject + ', issuer ' + entry.issuer + ', SHA-256 ' + entry.sha256
    : entry.type + ' ' + entry.sha256;
}
function entriesText(variable) {
  // A change of the authenticated header (a database re-signed) first.
  const lines = (variable.header_changes || []).map((h) => h.field + ' ' + h.main + ' -> ' + h.backup);
  for (const entry of variable.added || []) lines.push('added in Backup: ' + entryText(entry));
  for (const entry of variable.removed || []) lines.push('removed in Backup: ' + entryText(entry));
  const only = variable.main && variable.backup ? null : (variable.main || variable.backup);
  if (only && only.value && only.value.signatures) for (const entry of only.value.signatures) lines.push(entryText(entry));
  return lines.join('\n') || '-';
}
if (Array.isArray(data.variables) && data.variables.length > 0) {
  document.getElementById('variables-section').hidden = false;
  const table = document.getElementById('variable-table');
  const heads = ['Change', 'Name', 'Vendor GUID', 'Main', 'Backup', 'Header and signature entries'];
  table.querySelector('thead').append(element('tr', {}, heads.map((h) => element('th', {scope: 'col', text: h}))));
  const body = table.querySelector('tbody');
  for (const v of data.variables)
    body.append(element('tr', {}, [v.change, v.name, v.vendor_guid, sideText(v.main), sideText(v.backup), entriesText(v)]
      .map((text, i) => element('td', {className: i >= 2 ? 'mono value' : '', 'data-label': heads[i],
        text: text === undefined ? '-' : String(text)}))));
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
// The document as read back, for a look from the browser's console.
window.pellrixReport = data;
document.body.dataset.ready = 'true';
