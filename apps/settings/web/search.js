// The search field above the sections of a page that lists applications. It hides the
// application rows whose names do not hold what is typed, compared as the platform compares
// names without regard to case, and also without regard to accents ("ecran" finds "Écran").
// Section headers and other rows stay. It works on the rendered rows and is applied again
// after every change of them, so a row that moves while a search is typed is filtered in its
// new place. Escape empties the field.
'use strict';

(() => {
  const main = document.querySelector('[data-testid="page"]');

  // Case folding as the platform's case-insensitive comparison does it (not locale-aware;
  // "ß" matches "ss"), after dropping the marks a letter carries.
  function fold(text) {
    return text.normalize('NFD').replace(/\p{M}/gu, '').toUpperCase().toLowerCase();
  }

  const bar = document.createElement('div');
  bar.className = 'search';
  bar.setAttribute('role', 'search');
  bar.dataset.testid = 'search';
  bar.hidden = true;
  const field = document.createElement('input');
  field.type = 'search';
  field.className = 'search-field';
  field.dataset.testid = 'search-field';
  field.placeholder = 'Search';
  field.autocomplete = 'off';
  field.spellcheck = false;
  field.setAttribute('aria-label', 'Search applications');
  const status = document.createElement('p');
  status.className = 'search-status';
  status.dataset.testid = 'search-status';
  status.setAttribute('role', 'status');
  bar.append(field, status);
  main.before(bar);

  // The rows of the lists the page built itself (its applications); the server marks them.
  function applicationRows() {
    return [...main.querySelectorAll('[data-testid="row"][data-searchable="true"]')];
  }

  function apply() {
    const rows = applicationRows();
    bar.hidden = rows.length === 0;
    const query = bar.hidden ? '' : fold(field.value.trim());
    let shown = 0;
    for (const row of rows) {
      if (row.dataset.searchName === undefined) {
        row.dataset.searchName = fold(row.querySelector('[data-testid="row-title"]')?.textContent ?? '');
      }
      row.hidden = query !== '' && !row.dataset.searchName.includes(query);
      if (!row.hidden) shown += 1;
    }
    const text = query === '' ? '' : shown === 0 ? 'No Results' : `${shown} of ${rows.length} applications`;
    if (status.textContent !== text) status.textContent = text;
  }

  field.addEventListener('input', apply);
  field.addEventListener('keydown', (event) => {
    if (event.key !== 'Escape') return;
    // Escape belongs to the field: it never also leaves the page.
    event.preventDefault();
    event.stopPropagation();
    if (field.value !== '') {
      field.value = '';
      apply();
    }
  });
  main.addEventListener('hx-rendered', apply);
})();
