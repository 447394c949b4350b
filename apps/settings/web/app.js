// The Settings page in the browser. The server owns the pages: this script shows the page it
// is sent and sends back what the person does. Every text from the device is shown with
// textContent, never parsed as markup.
'use strict';

(() => {
  const navBack = document.querySelector('[data-testid="nav-back"]');
  const navBackTitle = document.querySelector('[data-testid="nav-back-title"]');
  const navTitle = document.querySelector('[data-testid="nav-title"]');
  const main = document.querySelector('[data-testid="page"]');
  const toast = document.querySelector('[data-testid="toast"]');
  const connection = document.querySelector('[data-testid="connection"]');
  const banner = document.querySelector('[data-testid="error-banner"]');
  const bannerText = document.querySelector('[data-testid="error-banner-text"]');

  let version = 0;
  let page = null;
  let pageIdentity = '';
  let socket = null;
  let nextId = 1;
  let reconnectDelay = 250;
  let toastTimer = 0;

  function element(tag, className, testId) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (testId) node.dataset.testid = testId;
    return node;
  }

  function textElement(tag, className, testId, text) {
    const node = element(tag, className, testId);
    node.textContent = text;
    return node;
  }

  function showToast(text) {
    toast.textContent = text;
    toast.hidden = false;
    clearTimeout(toastTimer);
    toastTimer = setTimeout(() => { toast.hidden = true; }, 4000);
  }

  // Why the last action was refused or not saved; it stays until dismissed or the next action.
  function showBanner(text) {
    bannerText.textContent = text;
    banner.hidden = false;
  }

  function hideBanner() {
    banner.hidden = true;
  }

  function renderRow(row, sectionIndex, rowIndex) {
    const item = element('li', `row kind-${row.kind}`, 'row');
    item.dataset.section = String(sectionIndex);
    item.dataset.row = String(rowIndex);
    item.dataset.kind = row.kind;
    item.dataset.enabled = String(row.enabled);
    if (row.searchable) item.dataset.searchable = 'true';
    if (!row.enabled) item.classList.add('disabled');
    if (row.icon) {
      item.classList.add('has-icon');
      const icon = element('img', 'row-icon', 'row-icon');
      icon.alt = '';
      icon.src = row.icon;
      item.append(icon);
    }
    item.append(textElement('span', 'row-title', 'row-title', row.title));
    if (row.value) item.append(textElement('span', 'row-value', 'row-value', row.value));

    if (row.kind === 'switch') {
      const label = element('label', 'switch');
      const input = element('input', '', 'row-switch');
      input.type = 'checkbox';
      input.setAttribute('role', 'switch');
      input.checked = row.on;
      input.disabled = !row.enabled;
      input.setAttribute('aria-label', row.title);
      input.setAttribute('aria-checked', String(row.on));
      input.addEventListener('change', () => {
        input.setAttribute('aria-checked', String(input.checked));
        send({ action: 'setSwitch', section: sectionIndex, row: rowIndex, on: input.checked, version });
      });
      label.append(input, element('span', 'switch-track'));
      item.append(label);
    }
    if (row.accessory === 'disclosure') {
      item.append(element('span', 'disclosure', 'row-disclosure'));
    } else if (row.accessory === 'checkmark') {
      const check = element('span', 'checkmark', 'row-checkmark');
      check.setAttribute('aria-hidden', 'true');
      item.append(check);
    }

    const selectable = ['link', 'linkList', 'item', 'button'].includes(row.kind);
    // Accessibility: a choice is a radio button of its list; any other selectable row
    // is a link or a button whose focus and name sit on its title, with the value as
    // its description (a list item cannot itself be a link or a button).
    let control = null;
    if (row.kind === 'item') {
      control = item;
      item.setAttribute('role', 'radio');
      item.setAttribute('aria-checked', String(row.accessory === 'checkmark'));
    } else if (selectable) {
      control = item.querySelector('.row-title');
      control.setAttribute('role', row.kind === 'button' ? 'button' : 'link');
      const value = item.querySelector('.row-value');
      if (value) {
        value.id = `row-value-${sectionIndex}-${rowIndex}`;
        control.setAttribute('aria-describedby', value.id);
      }
    }
    if (control && !row.enabled) control.setAttribute('aria-disabled', 'true');
    if (selectable && row.enabled) {
      item.classList.add('selectable');
      control.tabIndex = 0;
      const select = () => send({ action: 'select', section: sectionIndex, row: rowIndex, version });
      item.addEventListener('click', select);
      item.addEventListener('keydown', (event) => {
        if (event.key === 'Enter' || event.key === ' ') {
          event.preventDefault();
          select();
        }
      });
    }
    return item;
  }

  function renderSection(section, index) {
    const group = element('section', 'group', 'section');
    group.dataset.section = String(index);
    group.setAttribute('role', 'group');
    if (section.header) {
      const header = textElement('h2', 'group-header', 'section-header', section.header);
      header.id = `section-header-${index}`;
      group.setAttribute('aria-labelledby', header.id);
      group.append(header);
    }
    const rows = element('ul', 'group-rows', 'section-rows');
    section.rows.forEach((row, rowIndex) => rows.append(renderRow(row, index, rowIndex)));
    // The choices of a list page form one radio group, named like the page or the section.
    if (section.rows.length > 0 && section.rows.every((row) => row.kind === 'item')) {
      rows.setAttribute('role', 'radiogroup');
      if (section.header) rows.setAttribute('aria-labelledby', `section-header-${index}`);
      else rows.setAttribute('aria-label', page.title || 'Choices');
    }
    group.append(rows);
    if (section.footerImage) {
      const image = element('img', 'group-footer-image', 'section-footer-image');
      const width = Math.max(160, Math.round(main.clientWidth || 375));
      image.alt = section.footerImage.alt || '';
      image.width = width;
      if (section.footerImage.height > 0) image.height = Math.round(section.footerImage.height);
      // The browser picks the drawing for the appearance it shows, and swaps it when the
      // appearance changes.
      const url = `${section.footerImage.url}&w=${width}`;
      const picture = element('picture', 'group-footer-picture');
      const dark = document.createElement('source');
      dark.media = '(prefers-color-scheme: dark)';
      dark.srcset = `${url}&appearance=dark`;
      picture.append(dark, image);
      image.src = url;
      group.append(picture);
    } else if (section.footer) {
      group.append(textElement('p', 'group-footer', 'section-footer', section.footer));
    }
    return group;
  }

  function render(newPage, newVersion) {
    page = newPage;
    version = newVersion;
    navTitle.textContent = page.title;
    document.title = page.title || 'Settings';
    navBack.hidden = !page.canGoBack;
    navBackTitle.textContent = page.backTitle || 'Back';

    const fragment = document.createDocumentFragment();
    // An error page that lists its reason in rows needs no second copy of it.
    if (page.error && page.sections.every((section) => section.rows.length === 0)) {
      fragment.append(textElement('div', 'error-page', 'error-page', page.error));
    }
    page.sections.forEach((section, index) => fragment.append(renderSection(section, index)));
    main.replaceChildren(fragment);
    main.dataset.version = String(version);

    // A different page starts at the top; the same page changing keeps its place.
    const identity = `${page.canGoBack}\u0000${page.backTitle}\u0000${page.title}`;
    if (identity !== pageIdentity) window.scrollTo(0, 0);
    pageIdentity = identity;
    // Keyboard focus and the search filter follow every change of the rows.
    main.dispatchEvent(new CustomEvent('hx-rendered'));
  }

  function handleMessage(message) {
    if (!message || typeof message !== 'object') return;
    if (message.page && typeof message.version === 'number' && message.version > version) {
      render(message.page, message.version);
    } else if (message.page && message.type === 'error' && message.version === version) {
      // A refused action: put controls the person moved back to what the server holds.
      render(message.page, message.version);
    }
    // A tap on a page that changed meanwhile needs no words: the new page is on screen.
    if (message.type === 'error' && message.reason && message.status !== 409) showBanner(message.reason);
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
      showToast('The Settings server cannot be reached.');
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

  navBack.addEventListener('click', () => send({ action: 'back' }));
  document.querySelector('[data-testid="error-banner-dismiss"]').addEventListener('click', hideBanner);

  // The first page comes over HTTP so that it shows even before the socket is open.
  fetch('/api/page')
    .then((response) => response.json())
    .then(handleMessage)
    .catch(() => setConnection('closed'));
  connect();
})();
