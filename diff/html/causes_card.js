// SPDX-License-Identifier: BSD-2-Clause-Patent
// ---- the causes under the verdict, one line each with its chip; a cause
// placed in the flash (erased blocks, bit errors, rebuilt files, bytes no
// rule explains) brings its first places into view on the maps when chosen.
const causesList = document.getElementById('causes');
const causes = comparing ? data.causes || [] : [];
causesList.hidden = causes.length === 0;
for (const cause of causes) {
  const item = element('li', {className: 'cause ' + cause.kind});
  const offsets = cause.offsets || [];
  if (offsets.length > 0) {
    const extent = cause.kind === 'erased' ? BLOCK : 1;
    const first = Math.min(...offsets), last = Math.max(...offsets);
    const button = element('button', {type: 'button', text: cause.text,
      title: 'Show ' + hex(first) + (offsets.length > 1 ? '-' + hex(last + extent - 1) : '') + ' on the maps'});
    button.addEventListener('click', () => showItem(first, last - first + extent));
    item.append(button);
  } else {
    item.textContent = cause.text;
  }
  causesList.append(item);
}
