// The DOM of a page's rows and sections, built from the page model the server sends; app.js
// puts it in place and keeps it current. `shown` is {title, width}: the page's title (which
// names a list of choices without a header) and the width its footer pictures are drawn for.
(() => {
  // Numbered apart from the places of rows and sections, which change as they come and go.
  let nextValueId = 1;
  let nextHeaderId = 1;

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

  // Rows carry no indices: a row's place is read from the list when it is acted on, so that
  // rows inserted or removed above it need no renumbering. One listener on the page serves
  // every row.
  function renderRow(row) {
    const item = element('li', `row kind-${row.kind}`, 'row');
    item.dataset.kind = row.kind;
    item.dataset.enabled = String(row.enabled);
    if (row.searchable) item.dataset.searchable = 'true';
    if (!row.enabled) item.classList.add('disabled');
    if (row.icon) {
      item.classList.add('has-icon');
      // Sized before it loads, so the row keeps its height; it loads once its block of rows
      // is drawn (see blocks.js).
      const icon = element('img', 'row-icon', 'row-icon');
      icon.alt = '';
      icon.width = 29;
      icon.height = 29;
      icon.decoding = 'async';
      icon.dataset.src = row.icon;
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

    const selectable = ['link', 'linkList', 'listItem', 'button', 'plain'].includes(row.kind);
    // Accessibility: a choice is a radio button of its list; any other selectable row
    // is a link or a button whose focus and name sit on its title, with the value as
    // its description (a list item cannot itself be a link or a button).
    let control = null;
    if (row.kind === 'listItem') {
      control = item;
      item.setAttribute('role', 'radio');
      item.setAttribute('aria-checked', String(row.accessory === 'checkmark'));
    } else if (selectable) {
      control = item.querySelector('.row-title');
      control.setAttribute('role', row.kind === 'button' ? 'button' : 'link');
      const value = item.querySelector('.row-value');
      if (value) {
        // Numbered apart from the row's place, which changes as rows come and go.
        value.id = `row-value-${nextValueId++}`;
        control.setAttribute('aria-describedby', value.id);
      }
    }
    if (control && !row.enabled) control.setAttribute('aria-disabled', 'true');
    if (selectable && row.enabled) {
      item.classList.add('selectable');
      control.tabIndex = 0;
    }
    return item;
  }

  function renderSectionTexts(group, section, index, shown) {
    group.querySelectorAll(':scope > .group-header, :scope > .group-footer, :scope > .group-footer-picture')
      .forEach((node) => node.remove());
    group.removeAttribute('aria-labelledby');
    if (section.header) {
      const header = textElement('h2', 'group-header', 'section-header', section.header);
      // Numbered apart from the section's place: a kept page has headers of its own.
      header.id = `section-header-${nextHeaderId++}`;
      group.setAttribute('aria-labelledby', header.id);
      group.prepend(header);
    }
    if (section.footerImage) {
      const image = element('img', 'group-footer-image', 'section-footer-image');
      const width = Math.max(160, Math.round(shown.width || 375));
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
    group.dataset.section = String(index);
    labelRows(group, section, shown);
  }

  // The choices of a list page form one radio group, named like the page or the section.
  function labelRows(group, section, shown) {
    const list = group.querySelector(':scope > ul');
    // A list by its role, not only its tag: blocks stand between it and its rows.
    list.setAttribute('role', 'list');
    list.removeAttribute('aria-labelledby');
    list.removeAttribute('aria-label');
    if (section.rows.length > 0 && section.rows.every((row) => row.kind === 'listItem')) {
      list.setAttribute('role', 'radiogroup');
      const header = group.querySelector(':scope > .group-header');
      if (header) list.setAttribute('aria-labelledby', header.id);
      else list.setAttribute('aria-label', shown.title || 'Choices');
    }
  }

  function renderSection(section, index, shown) {
    const group = element('section', 'group', 'section');
    group.setAttribute('role', 'group');
    // Holds the place of the rows not drawn yet, so the page has its full height at once.
    const pending = element('div', 'rows-pending');
    pending.setAttribute('aria-hidden', 'true');
    group.append(element('ul', 'group-rows', 'section-rows'), pending);
    renderSectionTexts(group, section, index, shown);
    return group;
  }

  window.hxRender = {
    element, textElement, renderRow, renderSection, renderSectionTexts, labelRows,
  };
})();
