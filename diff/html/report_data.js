// SPDX-License-Identifier: BSD-2-Clause-Patent
// The report page's data: the JSON document embedded in the page (the one
// --json writes, held column by column), read into the chips, rows and
// ranges the page draws.
// The page's scripts share one function's scope, in this order: report_data,
// flash_map, file_table, bytes_view, report_text (cmake/embed_page.cmake
// joins them).
// The page holds the document column by column (diff/report/page_data.h
// describes the form); read back, it is the document --json writes.
function expandPageData(held) {
  if (!held || held.page_data !== 1) return held;
  const strings = held.strings;
  const integers = (value) => {
    if (Array.isArray(value)) return value;
    const out = [];
    let current = 0;
    if (value['~d']) {
      for (const delta of value['~d']) out.push((current += delta));
    } else {
      const runs = value['~r'];
      for (let i = 0; i < runs.length; i += 2) for (let n = 0; n < runs[i + 1]; ++n) out.push((current += runs[i]));
    }
    return out;
  };
  const expand = (value) => {
    if (Array.isArray(value)) return value.map(expand);
    if (value === null || typeof value !== 'object') return value;
    const keys = Object.keys(value);
    const inner = value[keys[0]];
    if (keys.length === 1 && (keys[0] === '~d' || keys[0] === '~r')) return integers(value);
    if (keys.length === 1 && keys[0] === '~o') return members(inner);
    if (keys.length === 1 && keys[0] === '~s') return integers(inner).map((i) => strings[i]);
    if (keys.length === 1 && keys[0] === '~b') return Array.from(inner, (bit) => bit === '1');
    if (keys.length === 1 && keys[0] === '~l') {
      const items = expand(inner[1]);
      let at = 0;
      return integers(inner[0]).map((length) => items.slice(at, (at += length)));
    }
    if (keys.length === 1 && keys[0] === '~t') {
      const [shapes, rows, encoded] = inner;
      // Columns by number, not by name: this loop runs once per file and key.
      const names = Object.keys(encoded);
      const columns = names.map((key) => expand(encoded[key]));
      const taken = new Int32Array(names.length);
      const shapeColumns = shapes.map((keys) => keys.map((key) => names.indexOf(key)));
      return integers(rows).map((shape) => {
        if (shape < 0) return null;
        const element = {};
        const keys = shapes[shape];
        const at = shapeColumns[shape];
        for (let k = 0; k < keys.length; ++k) element[keys[k]] = columns[at[k]][taken[at[k]]++];
        return element;
      });
    }
    return members(value);
  };
  const members = (value) => {
    const copy = {};
    for (const key of Object.keys(value)) copy[key] = expand(value[key]);
    return copy;
  };
  return expand(held.document);
}
const data = expandPageData(JSON.parse(document.getElementById('report-data').textContent));
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

// A range of the document with where it lies: its place (kind, region,
// volume, files) is described once in the document's table of places.
const places = data.places || [];
const placed = (r) => Object.assign({}, places[r.place] || {}, r);
function rangesOf(key) {
  if (Array.isArray(data[key]))
    return data[key].map((r) => ({start: r.flash_offset, length: r.length, bytes: r.differing_bytes, ranges: 1, range: placed(r)}));
  const spans = data[key + '_spans'];
  if (!spans) return [];
  // A span stands for many ranges; the leading ones carry their ranges
  // too (exact), with where each lies, the rest were left out of the page
  // (exact null).
  const flat = spans.exact_ranges || [];
  const placeOf = spans.exact_place || [];
  let next = 0;
  return spans.spans.map((s, i) => {
    let exact = null;
    if (i < (spans.exact_spans || 0)) {
      exact = [];
      for (let n = 0; n < s.ranges && next + 2 < flat.length; ++n, next += 3)
        exact.push({start: flat[next], length: flat[next + 1], bytes: flat[next + 2], ranges: 1,
          range: places[placeOf[next / 3]] || null});
    }
    return {start: s.flash_offset, length: s.length, bytes: s.differing_bytes, ranges: s.ranges, span: true, exact};
  });
}
const differing = rangesOf('differences').concat(rangesOf('below_bios_region')).sort((a, b) => a.start - b.start);
// With --no-mask: what the masks hide, drawn under the masked areas.
const rawMasked = rangesOf('masked_differences').sort((a, b) => a.start - b.start);

// A chip's masked areas, each once: a masked variable store is also in the
// dump's list of stores, which names its format.
function maskedAreas(dump) {
  const stores = (dump.variable_stores || []).filter((s) => s.masked);
  const areas = (dump.masked || []).map((m) => {
    const store = stores.find((s) => s.flash_offset === m.flash_offset && s.length === m.length);
    return {start: m.flash_offset, length: m.length, what: m.what + (store ? ' (' + store.format + ')' : ''), differs: m.differs};
  });
  for (const s of stores)
    if (!areas.some((a) => a.start === s.flash_offset && a.length === s.length))
      areas.push({start: s.flash_offset, length: s.length, what: s.format + ' variable store'});
  return areas;
}
const chips = comparing
  ? data.dumps.map((dump, i) => ({
      role: i === 0 ? 'Main' : 'Backup',
      side: i === 0 ? 'main' : 'backup',
      dump,
      layout: layoutOf(dump.layout),
      masked: maskedAreas(dump),
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
      // The area's own "what" is its kind; the item's "what" says which row.
      items = chip.masked.map((m) => Object.assign({}, m, {label: m.what, kind: m.what, what: 'masked'}));
      chip.rawMasked = rawMasked;
    }
    if (row.kind === 'differs') items = differing.map((r) => Object.assign({what: 'differs'}, r));
    return {row, items: sortByStart(items)};
  });
}
