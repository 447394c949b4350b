// The Settings page in the browser. The server owns the pages: this script shows the page it
// is sent and sends back what the person does. Every text from the device is shown with
// textContent, never parsed as markup.
'use strict';

(() => {
  const navBack = document.querySelector('[data-testid="nav-back"]');
  const navBackTitle = document.querySelector('[data-testid="nav-back-title"]');
  const navTitle = document.querySelector('[data-testid="nav-title"]');
  // The pages: the one shown, last, and those kept below it, hidden.
  const pages = document.querySelector('[data-testid="pages"]');
  let main = pages.lastElementChild;
  const toast = document.querySelector('[data-testid="toast"]');
  const connection = document.querySelector('[data-testid="connection"]');
  const banner = document.querySelector('[data-testid="error-banner"]');
  const bannerText = document.querySelector('[data-testid="error-banner-text"]');
  const {
    rowCount, insertRows, removeRows, replaceRow, dropDetachedIconLoads, dropIconLoadsWithin,
    showDrawnIcons,
  } = window.hxRowBlocks;
  const {
    element, textElement, renderRow, renderSection, renderSectionTexts, labelRows,
  } = window.hxRender;
  // A page arrives with its first rows and every section's count (`count`); the rest is asked
  // for in ranges of this many rows, one range at a time, and added as it comes.
  const kRowsPerRequest = 2000;
  // The row height the list reserves for rows not here yet.
  const kRowHeight = 44;

  let version = 0;
  let page = null;
  let pageIdentity = '';
  let socket = null;
  let nextId = 1;
  let reconnectDelay = 250;
  let toastTimer = 0;
  // The range of rows asked for and not answered yet: {id, version, section, at}.
  let rowsAsked = null;
  // Pages below the one shown, kept whole (model, version, elements, scroll) while a page
  // above them is open, so that going back needs only what changed meanwhile: {page, version,
  // identity, view, scrollY}, deepest last. A kept page stays in the document, laid out but
  // out of sight (the class `kept`): put back in, or hidden from layout, thousands of rows
  // would be built or laid out anew on the way back.
  let kept = [];

  // What the built sections need of the page shown (see render.js). The width is read only
  // when a footer picture needs it: reading it lays the page out.
  const shownAs = () => ({ title: page ? page.title : '', get width() { return main.clientWidth; } });

  function showToast(text) {
    toast.textContent = text;
    toast.hidden = false;
    clearTimeout(toastTimer);
    toastTimer = setTimeout(() => { toast.hidden = true; }, 4000);
  }

  // Why the last action was refused or not saved, or what its stored change lacks; it stays
  // until dismissed or the next action.
  function showBanner(text) {
    bannerText.textContent = text;
    banner.hidden = false;
  }

  function hideBanner() {
    banner.hidden = true;
  }

  // Keyboard focus and the search filter follow every change of the rows on the page.
  function rendered() {
    pages.dispatchEvent(new CustomEvent('hx-rendered'));
  }

  // The page's sections. (A selector from `:scope >` would have the browser test every row
  // of a page of thousands on each change.)
  function sectionGroups() {
    return Array.prototype.filter.call(main.children, (node) => node.localName === 'section');
  }

  // The section and row indices of a row element on the page shown.
  function placeOf(item) {
    const group = item.closest('[data-testid="section"]');
    const block = item.parentNode;
    if (!group || group.parentNode !== main || !block) return null;
    const section = sectionGroups().indexOf(group);
    let rowIndex = Array.prototype.indexOf.call(block.children, item);
    for (let before = block.previousElementSibling; before; before = before.previousElementSibling) {
      rowIndex += before.children.length;
    }
    return section < 0 || rowIndex < 0 ? null : { section, row: rowIndex };
  }

  function rowAction(event) {
    const item = event.target.closest && event.target.closest('li.row');
    if (!item) return null;
    const place = placeOf(item);
    if (!place) return null;
    return { item, place, row: page.sections[place.section].rows[place.row] };
  }

  const isComplete = (shown) => shown.sections.every((section) => section.rows.length === section.count);

  // A page just rendered is drawn before the rest of its rows is asked for and built: a range
  // answered first (a few hundred kilobytes to parse, a slice of rows to build) would hold back
  // the first screen's frame. A tab in the background draws no frames, hence the time-out.
  let firstFrameDue = false;
  function afterFirstFrame() {
    firstFrameDue = true;
    let done = false;
    const resume = () => {
      if (done) return;
      done = true;
      firstFrameDue = false;
      fillRows();
    };
    requestAnimationFrame(() => setTimeout(resume, 0));
    setTimeout(resume, 100);
  }

  // Asks for the next range of rows the page lacks, unless a range is on its way.
  function requestRows() {
    if (!page || rowsAsked || firstFrameDue) return;
    const index = page.sections.findIndex((section) => section.rows.length < section.count);
    if (index < 0) return;
    rowsAsked = { id: nextId++, version, section: index, at: page.sections[index].rows.length };
    const action = { action: 'rows', ...rowsAsked, count: kRowsPerRequest };
    if (socket && socket.readyState === WebSocket.OPEN) {
      socket.send(JSON.stringify(action));
    } else {
      post(action).finally(() => { if (rowsAsked && rowsAsked.id === action.id) rowsAsked = null; });
    }
  }

  function addRows(message) {
    const section = page && message.version === version ? page.sections[message.section] : null;
    if (section && Array.isArray(message.rows) && message.at === section.rows.length) {
      section.rows.push(...message.rows);
      section.count = message.count;
      fillRows();
    }
  }

  // A list of thousands of rows is built a slice per task, so that the page answers while it
  // fills. The rows on the page are always the first ones of their section's model; the
  // changes below keep it so.
  const kSliceMilliseconds = 15;
  let filling = 0;
  function fillRows() {
    clearTimeout(filling);
    filling = 0;
    if (!page) return;
    const deadline = performance.now() + kSliceMilliseconds;
    const lists = sectionGroups().map((group) => group.querySelector(':scope > ul'));
    let done = true;
    page.sections.forEach((section, index) => {
      const list = lists[index];
      if (!list) return;
      let next = rowCount(list);
      while (next < section.rows.length && performance.now() < deadline) {
        const items = [];
        for (const end = Math.min(next + 25, section.rows.length); next < end; next += 1) {
          items.push(renderRow(section.rows[next]));
        }
        insertRows(list, next - items.length, items);
      }
      if (next < section.rows.length) done = false;
      const pending = list.nextElementSibling;
      if (pending) pending.style.height = `${(section.count - next) * kRowHeight}px`;
    });
    if (!done && !firstFrameDue) filling = setTimeout(fillRows, 0);
    requestRows();
    rendered();
  }

  function showVersion(newVersion) {
    version = newVersion;
    main.dataset.version = String(version);
    // A range asked of an older version is answered with the way to this one instead.
    rowsAsked = null;
  }

  function showTitles() {
    navTitle.textContent = page.title;
    document.title = page.title || 'Settings';
    navBack.hidden = !page.canGoBack;
    navBackTitle.textContent = page.backTitle || 'Back';
  }

  const identityOf = (shown) => `${shown.canGoBack}\u0000${shown.backTitle}\u0000${shown.title}`;

  // Keeps the page shown, whole, when `next` opens above it; drops what `next` leaves behind.
  function keepPageBelow(next) {
    if (!page || identityOf(next) === pageIdentity) return;
    const depth = Math.min(next.depth, page.depth);
    for (const entry of kept) if (entry.page.depth >= depth) entry.view.remove();
    kept = kept.filter((entry) => entry.page.depth < depth);
    if (next.depth > page.depth && isComplete(page)) {
      kept.push({ page, version, identity: pageIdentity, view: main, scrollY: window.scrollY });
      dropIconLoadsWithin(main);
      main.classList.add('kept');
      main.dataset.testid = 'kept-page';
      main = pages.appendChild(element('div', 'page', 'page'));
    }
  }

  // Shows the kept page of version `from` again, turned into version `newVersion` by
  // `changes` while still hidden, so that it is laid out and drawn once; null when no such
  // page was kept, false when a change does not fit it.
  function showKeptPage(from, changes, newVersion) {
    const entry = kept[kept.length - 1];
    if (!entry || entry.version !== from) return null;
    kept.pop();
    page = entry.page;
    showTitles();
    main.remove();
    dropDetachedIconLoads();
    main = entry.view;
    pageIdentity = entry.identity;
    showVersion(from);
    const fits = changePage(changes, newVersion);
    main.dataset.testid = 'page';
    main.classList.remove('kept');
    window.scrollTo(0, entry.scrollY);
    showDrawnIcons(main);
    if (fits) changesShown();
    return fits;
  }

  function render(newPage, newVersion) {
    newPage.sections.forEach((section) => {
      if (typeof section.count !== 'number') section.count = section.rows.length;
    });
    keepPageBelow(newPage);
    page = newPage;
    showTitles();

    const fragment = document.createDocumentFragment();
    // An error page that lists its reason in rows needs no second copy of it.
    if (page.error && page.sections.every((section) => section.rows.length === 0)) {
      fragment.append(textElement('div', 'error-page', 'error-page', page.error));
    }
    page.sections.forEach((section, index) => fragment.append(renderSection(section, index, shownAs())));
    main.replaceChildren(fragment);
    dropDetachedIconLoads();
    showVersion(newVersion);

    // A different page starts at the top; the same page changing keeps its place.
    const identity = identityOf(page);
    if (identity !== pageIdentity) window.scrollTo(0, 0);
    pageIdentity = identity;
    afterFirstFrame();
    fillRows();
  }

  // Applies the changes that turn the page shown into version `newVersion`; false when one
  // does not fit the page (the whole page is asked for then).
  function applyChanges(changes, newVersion) {
    if (!changePage(changes, newVersion)) return false;
    changesShown();
    return true;
  }

  // A fill under way tells of the rows it adds; changes applied are told of at once.
  function changesShown() {
    if (filling) rendered();
    else fillRows();
  }

  // The changes themselves, with nothing told of them; false when one does not fit.
  function changePage(changes, newVersion) {
    const groups = sectionGroups();
    const moves = rowMoves(changes);
    for (const change of changes) {
      const section = page.sections[change.section];
      const group = groups[change.section];
      if (!section || !group) return false;
      if (Array.isArray(change.rows)) {
        if (change.at < 0 || change.remove < 0 || change.at + change.remove > section.count) return false;
        // The model holds the section's first rows: a change past them only moves the count,
        // and rows it removes past them were never here.
        section.count += change.rows.length - change.remove;
        const loaded = section.rows.length;
        if (change.at > loaded) continue;
        const gone = section.rows.splice(change.at, Math.min(change.remove, loaded - change.at), ...change.rows);
        // Rows not on the page yet are filled in later from the model.
        const list = group.querySelector(':scope > ul');
        const count = rowCount(list);
        if (change.at > count) continue;
        const removed = removeRows(list, change.at, Math.min(change.remove, count - change.at));
        if (moves) removed.forEach((item, i) => moves.leaving(gone[i], item));
        insertRows(list, change.at, change.rows.map((row) => (moves ? moves.arriving(row) : renderRow(row))));
        labelRows(group, section, shownAs());
      } else {
        section.header = change.header;
        section.footer = change.footer;
        section.footerImage = change.footerImage;
        renderSectionTexts(group, section, change.section, shownAs());
      }
    }
    if (moves) moves.settle();
    showVersion(newVersion);
    return true;
  }

  // A row that one change removes and another puts back as it was (a row moving to another
  // section) is moved rather than built anew, so that it keeps its loaded icon and its focus.
  // The arrival may come first: rows arrive as stand-ins, settled once every change is done.
  // Only for a few arriving rows, where it pays.
  const kMostMovedRows = 50;
  function rowMoves(changes) {
    let arrivals = 0;
    let removals = 0;
    for (const change of changes) {
      arrivals += Array.isArray(change.rows) ? change.rows.length : 0;
      removals += change.remove > 0 ? change.remove : 0;
    }
    if (arrivals === 0 || removals === 0 || arrivals > kMostMovedRows) return null;
    const key = (row) => JSON.stringify(row);
    const titles = new Set(changes.flatMap((change) => (change.rows ?? []).map((row) => row.title)));
    const left = new Map();  // row as sent -> its elements
    const standIns = [];
    return {
      leaving(row, item) {
        if (!row || !titles.has(row.title)) return;
        const items = left.get(key(row)) ?? [];
        items.push(item);
        left.set(key(row), items);
      },
      arriving(row) {
        const standIn = element('li', 'row');
        standIns.push({ standIn, row });
        return standIn;
      },
      settle() {
        for (const { standIn, row } of standIns) {
          replaceRow(standIn, left.get(key(row))?.shift() ?? renderRow(row));
        }
      },
    };
  }

  let resyncing = false;
  function resync() {
    if (resyncing) return;
    resyncing = true;
    fetch('/api/page')
      .then((response) => response.json())
      .then((message) => { resyncing = false; handleMessage(message); })
      .catch(() => { resyncing = false; setConnection('closed'); });
  }

  // A refused action leaves the controls as the server holds them.
  function restoreSwitches() {
    main.querySelectorAll('input[data-testid="row-switch"]').forEach((input) => {
      const place = placeOf(input.closest('li.row'));
      if (!place) return;
      input.checked = page.sections[place.section].rows[place.row].on;
      input.setAttribute('aria-checked', String(input.checked));
    });
  }

  function handleMessage(message) {
    if (!message || typeof message !== 'object') return;
    if (message.type === 'rows') {
      if (rowsAsked && message.replyTo === rowsAsked.id) rowsAsked = null;
      addRows(message);
      requestRows();
      return;
    }
    // A range the page's own bookkeeping got wrong: the page is fetched again, quietly.
    if (message.type === 'error' && rowsAsked && message.replyTo === rowsAsked.id) {
      rowsAsked = null;
      resync();
      return;
    }
    if (Array.isArray(message.changes) && typeof message.from === 'number') {
      if (page && message.from === version) {
        if (!applyChanges(message.changes, message.version)) resync();
      } else if (message.version > version) {
        // A version went missing when no kept page is of `from`.
        if (!showKeptPage(message.from, message.changes, message.version)) resync();
      }
    } else if (message.page && typeof message.version === 'number' && message.version > version) {
      render(message.page, message.version);
    } else if (message.page && message.type === 'error' && message.version === version) {
      render(message.page, message.version);
    }
    if (message.type === 'error' && page) restoreSwitches();
    // Whatever was refused says why: a row gone before the tap arrived, too.
    if (message.type === 'error' && message.reason) showBanner(message.reason);
    // A change that was stored, but may not last or was not told to other programs.
    if (typeof message.notice === 'string' && message.notice) showBanner(message.notice);
  }

  async function post(action) {
    try {
      const response = await fetch('/api/action', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify(action),
      });
      handleMessage(await response.json());
    } catch (error) {
      if (action.action !== 'rows') showToast('The Settings server cannot be reached.');
    }
  }

  function send(action) {
    hideBanner();
    if (socket && socket.readyState === WebSocket.OPEN) {
      socket.send(JSON.stringify({ ...action, id: nextId++ }));
    } else {
      post(action);
    }
  }

  function setConnection(state) {
    connection.dataset.state = state;
    connection.hidden = state === 'open';
    connection.textContent = state === 'open' ? '' : 'Reconnecting…';
  }

  function connect() {
    socket = new WebSocket(`ws://${location.host}/ws`);
    socket.addEventListener('open', () => {
      reconnectDelay = 250;
      setConnection('open');
      // A range asked on the socket before has gone with it.
      rowsAsked = null;
      requestRows();
    });
    socket.addEventListener('message', (event) => {
      let message;
      try {
        message = JSON.parse(event.data);
      } catch (error) {
        return;
      }
      handleMessage(message);
    });
    socket.addEventListener('close', () => {
      socket = null;
      setConnection('closed');
      setTimeout(connect, reconnectDelay);
      reconnectDelay = Math.min(reconnectDelay * 2, 5000);
    });
  }

  // A tap names its row as the page sent it, besides its place: should rows have moved
  // before it arrives, the server finds the row by that.
  function rowActionMessage(action, target) {
    const { id, title, icon } = target.row;
    return { action, section: target.place.section, row: target.place.row, version, target: { id, title, icon } };
  }

  // Going back names the version of the page below that is kept here, if it is.
  navBack.addEventListener('click', () => {
    const below = kept[kept.length - 1];
    send(below && page && below.page.depth === page.depth - 1 ? { action: 'back', below: below.version } : { action: 'back' });
  });
  document.querySelector('[data-testid="error-banner-dismiss"]').addEventListener('click', hideBanner);
  pages.addEventListener('click', (event) => {
    const target = rowAction(event);
    if (!target || !target.item.classList.contains('selectable')) return;
    send(rowActionMessage('select', target));
  });
  pages.addEventListener('keydown', (event) => {
    if (event.key !== 'Enter' && event.key !== ' ') return;
    const target = rowAction(event);
    // Keys on the row's focusable part (the row or its title); a switch handles its own.
    if (!target || event.target.tabIndex < 0 || event.target.matches('input') ||
        !target.item.classList.contains('selectable')) return;
    event.preventDefault();
    send(rowActionMessage('select', target));
  });
  pages.addEventListener('change', (event) => {
    if (!event.target.matches('input[data-testid="row-switch"]')) return;
    const target = rowAction(event);
    if (!target) return;
    event.target.setAttribute('aria-checked', String(event.target.checked));
    send({ ...rowActionMessage('setSwitch', target), on: event.target.checked });
  });

  // The first page comes over HTTP so that it shows even before the socket is open.
  fetch('/api/page')
    .then((response) => response.json())
    .then(handleMessage)
    .catch(() => setConnection('closed'));
  connect();
})();
