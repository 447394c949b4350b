// Keyboard use of the Settings page. Tab reaches every row that acts; Space or Enter acts
// (app.js handles rows, the browser handles buttons and switches); the arrow keys step
// between rows; Escape or Alt+Left goes back. Focus goes to a new page's title, back to the
// row that opened a page when the person returns to it, and stays on its row when the page
// is drawn again. Works on the rendered rows only, however they were brought up to date.
'use strict';

(() => {
  // The page shown is the last of them; the others are kept, hidden, to go back to.
  const pages = document.querySelector('[data-testid="pages"]');
  const shownPage = () => pages.lastElementChild;
  const navBack = document.querySelector('[data-testid="nav-back"]');
  const navTitle = document.querySelector('[data-testid="nav-title"]');

  // The pages the person went through, each with the row that opened the next one.
  let trail = [];
  let identity = null;
  let lastActed = null;  // the row of the last click or key press on the page
  let lastFocused = null;  // what had focus on the page, to find again after a redraw

  const rowOf = (node) => (node instanceof Element ? node.closest('[data-testid="row"]') : null);
  const rowTitle = (row) => row.querySelector('[data-testid="row-title"]')?.textContent ?? '';
  const sectionHeader = (row) =>
    row.closest('[data-testid="section"]')?.querySelector('[data-testid="section-header"]')
      ?.textContent ?? '';

  // The page's sections. (A selector from `:scope >` would have the browser test every row
  // of a page of thousands.)
  const sections = () => Array.prototype.filter.call(shownPage().children, (node) => node.localName === 'section');

  // A row's place on the page: its section's and its own position, read when asked, since
  // rows come and go above it. Counted by blocks of rows, not row by row: a page may hold
  // thousands, and this runs on every click and focus.
  function placeOf(row) {
    const group = row.closest('[data-testid="section"]');
    if (!group) return { section: -1, row: -1 };
    let index = Array.prototype.indexOf.call(row.parentNode.children, row);
    if (row.parentNode.localName !== 'ul') {
      for (let block = row.parentNode.previousElementSibling; block; block = block.previousElementSibling) {
        index += block.children.length;
      }
    }
    return { section: sections().indexOf(group), row: index };
  }

  // What finds a row again on a new drawing of the page: its title first (rows move
  // between sections), then its place.
  function describe(row) {
    return { element: row, title: rowTitle(row), header: sectionHeader(row), ...placeOf(row) };
  }

  function find(description) {
    if (!description) return null;
    // A page kept while another was open comes back with the very row, which may have moved
    // to another section meanwhile.
    const { element } = description;
    if (shownPage().contains(element) && rowTitle(element) === description.title) return element;
    // One pass over the titles: a page may hold thousands of rows.
    const titled = [...shownPage().querySelectorAll('[data-testid="row-title"]')]
      .filter((title) => title.textContent === description.title)
      .map(rowOf);
    return titled.find((row) => sectionHeader(row) === description.header) ??
      titled[0] ??
      sections()[description.section]?.querySelectorAll('[data-testid="row"]')[description.row] ??
      null;
  }

  // The element of a row that takes focus: the row itself (a choice), its switch, or its
  // title (a link or a button). None for text and locked rows.
  function focusTarget(row) {
    if (row.tabIndex >= 0) return row;
    return row.querySelector('input:not(:disabled), [tabindex="0"]');
  }

  // Rows out of view are not laid out (content-visibility), so what shows is read from the
  // attribute the search hides rows with, not from layout.
  function focusable() {
    return [...shownPage().querySelectorAll('[data-testid="row"]')]
      .filter((row) => !row.hidden)
      .map(focusTarget)
      .filter(Boolean);
  }

  function focusRow(description) {
    const row = find(description);
    const target = row && !row.hidden ? focusTarget(row) : null;
    if (!target) return false;
    // The very row of a page kept while another was open, still in its section, sits where
    // the page's kept scroll shows it; scrolling to it would only lay out the whole page once
    // more first.
    const inPlace = row === description.element && sectionHeader(row) === description.header;
    target.focus({ preventScroll: inPlace });
    return true;
  }

  function pageChanged() {
    const canGoBack = !navBack.hidden;
    const title = navTitle.textContent;
    if (trail.length >= 2 && trail[trail.length - 2].title === title) {
      // Back on the page below: focus the row that opened the page just left.
      trail.pop();
      if (!focusRow(trail[trail.length - 1].opener)) navTitle.focus();
    } else if (trail.length > 0 && canGoBack) {
      trail[trail.length - 1].opener = lastActed;
      trail.push({ title, opener: null });
      navTitle.focus();
    } else {
      // The first page, or a page reached some other way: start the trail again.
      if (trail.length > 0) navTitle.focus();
      trail = [{ title, opener: null }];
    }
    lastActed = null;
  }

  pages.addEventListener('hx-rendered', () => {
    const now = `${!navBack.hidden}\u0000${navBack.textContent}\u0000${navTitle.textContent}`;
    if (now !== identity) {
      identity = now;
      pageChanged();
      return;
    }
    // The same page drawn again: the focused row may have been replaced.
    if (lastFocused && !pages.contains(document.activeElement) &&
        (document.activeElement === document.body || document.activeElement === null)) {
      focusRow(lastFocused);
    }
  });

  pages.addEventListener('focusin', (event) => {
    const row = rowOf(event.target);
    if (row) lastFocused = describe(row);
  });
  document.addEventListener('focusin', (event) => {
    if (!pages.contains(event.target)) lastFocused = null;
  });

  // Seen before the row's own handlers, which may end the event.
  const acted = (event) => {
    const row = rowOf(event.target);
    if (row) lastActed = describe(row);
  };
  pages.addEventListener('click', acted, true);
  pages.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' || event.key === ' ') acted(event);
  }, true);

  function goBack() {
    if (navBack.hidden) return false;
    navBack.click();
    return true;
  }

  function step(from, delta) {
    const targets = focusable();
    const index = targets.indexOf(from);
    const next = targets[index < 0 ? 0 : index + delta];
    if (next) next.focus();
  }

  document.addEventListener('keydown', (event) => {
    if (event.defaultPrevented || event.isComposing) return;
    const inField = event.target instanceof HTMLInputElement && event.target.type !== 'checkbox';
    if ((event.key === 'Escape' && !inField && !event.altKey) ||
        (event.key === 'ArrowLeft' && event.altKey && !event.ctrlKey && !event.metaKey)) {
      if (goBack()) event.preventDefault();
      return;
    }
    if (!rowOf(event.target)) return;
    // A switch turns with Enter as well as Space.
    if (event.key === 'Enter' && event.target.matches('input[type="checkbox"]')) {
      event.preventDefault();
      event.target.click();
    } else if ((event.key === 'ArrowDown' || event.key === 'ArrowUp') && !event.altKey) {
      event.preventDefault();
      step(event.target, event.key === 'ArrowDown' ? 1 : -1);
    }
  });
})();
