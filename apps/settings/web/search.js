// The search field above the sections of a page that lists applications. It hides the
// application rows whose names do not hold what is typed, compared as the platform compares
// names without regard to case, and also without regard to accents ("ecran" finds "Écran").
// Section headers and other rows stay. It works on the rendered rows and is applied again
// after every change of them, so a row that moves while a search is typed is filtered in its
// new place. Escape empties the field.
'use strict';

(() => {
  const pages = document.querySelector('[data-testid="pages"]');

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
  pages.before(bar);

  // The rows of the lists the page built itself (its applications); the server marks them.
  const kApplicationRow = '[data-testid="row"][data-searchable="true"]';
  // Whether the last pass hid rows or marked lists, which an empty query must undo.
  let filtered = false;

  // Runs after every change of the rows, so with an empty query it touches no row: a page of
  // thousands is not walked for each row that moves. While a query is typed, every row is
  // matched again; a list marks where its shown rows' separators go, since rules that look
  // across thousands of siblings would be matched again on every change.
  function apply() {
    // The page shown is the last; those kept below it keep their rows as they were.
    const main = pages.lastElementChild;
    bar.hidden = main.querySelector(kApplicationRow) === null;
    const query = bar.hidden ? '' : fold(field.value.trim());
    if (query === '' && !filtered) {
      if (status.textContent !== '') status.textContent = '';
      return;
    }
    const rows = main.querySelectorAll(kApplicationRow);
    const lists = new Map();  // list -> whether one of its rows shows
    let shown = 0;
    for (const row of rows) {
      if (query !== '' && row.dataset.searchName === undefined) {
        row.dataset.searchName = fold(row.querySelector('[data-testid="row-title"]')?.textContent ?? '');
      }
      const hide = query !== '' && !row.dataset.searchName.includes(query);
      if (row.hidden !== hide) row.hidden = hide;
      const list = row.closest('.group-rows');
      const above = lists.get(list) ?? false;
      // A separator stands above a shown row only when another shown row is above it.
      row.classList.toggle('separated', query !== '' && !hide && above);
      lists.set(list, above || !hide);
      if (!hide) shown += 1;
    }
    // A list whose rows all moved away keeps no mark from an earlier pass.
    for (const list of main.querySelectorAll('.group-rows.filtered')) {
      if (!lists.has(list)) list.classList.remove('filtered', 'none-shown');
    }
    for (const [list, any] of lists) {
      list.classList.toggle('filtered', query !== '');
      list.classList.toggle('none-shown', query !== '' && !any);
    }
    filtered = query !== '';
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
  pages.addEventListener('hx-rendered', apply);
})();
