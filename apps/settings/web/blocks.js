// The rows of a section's list, kept in blocks of about kBlockRows rows, in order: the browser
// draws, lays out and watches only the blocks near the view (content-visibility), so a list of
// thousands costs a change no more than a short one. A block never stays empty. Row icons load
// when their block is drawn, and a load not finished when its block leaves the view is let go,
// so that scrolling through thousands of rows leaves no queue of icons behind it.
'use strict';

window.hxRowBlocks = (() => {
  const pages = document.querySelector('[data-testid="pages"]');
  const kBlockRows = 50;

  function newBlock() {
    const block = document.createElement('div');
    block.className = 'row-block';
    block.setAttribute('role', 'none');
    return block;
  }

  // An estimate of a block's height for the browser until it has drawn it once.
  function sizeBlock(block) {
    block.style.containIntrinsicSize = `auto ${block.children.length * 44}px`;
  }

  // Icons asked for and not loaded yet.
  const loading = new Set();
  const loaded = (event) => { loading.delete(event.target); };
  pages.addEventListener('load', loaded, true);
  pages.addEventListener('error', loaded, true);

  // The icons of a block load once the block is drawn, and the icons of rows added to it
  // since.
  function showIcons(block) {
    if (block.dataset.drawn !== 'true') return;
    block.querySelectorAll('img.row-icon:not([src])').forEach((icon) => {
      icon.src = icon.dataset.src;
      if (!icon.complete) loading.add(icon);
    });
  }

  // Lets go of the icon loads that `leaving` picks; they start again when their rows are drawn.
  function dropIconLoads(leaving) {
    for (const icon of loading) {
      if (!leaving(icon)) continue;
      icon.removeAttribute('src');
      loading.delete(icon);
    }
  }
  // Those of rows no longer on the page, and those of a page put away.
  function dropDetachedIconLoads() {
    dropIconLoads((icon) => !icon.isConnected);
  }
  function dropIconLoadsWithin(view) {
    dropIconLoads((icon) => view.contains(icon));
  }

  // Blocks come into view in bulk (a page scrolled or put back on screen, a row focused far
  // down): their icons are asked for once the frame that shows them is done, so that the
  // rows show first.
  const toShow = new Set();
  let showing = false;
  function showIconsSoon(block) {
    toShow.add(block);
    if (showing) return;
    showing = true;
    requestAnimationFrame(() => setTimeout(() => {
      showing = false;
      for (const waiting of toShow) showIcons(waiting);
      toShow.clear();
    }, 0));
  }

  pages.addEventListener('contentvisibilityautostatechange', (event) => {
    const block = event.target;
    if (!block.classList.contains('row-block')) return;
    block.dataset.drawn = String(!event.skipped);
    if (event.skipped) {
      toShow.delete(block);
      dropIconLoads((icon) => block.contains(icon));
    } else {
      showIconsSoon(block);
    }
  });

  function rowCount(list) {
    return Array.prototype.reduce.call(list.children, (count, block) => count + block.children.length, 0);
  }

  // The block holding row `index` of `list` and the row's index in it; for the index just
  // past the last row, the last block and its length. Null when the list has no rows.
  function locate(list, index) {
    let block = list.firstElementChild;
    while (block) {
      if (index < block.children.length || !block.nextElementSibling) return { block, offset: index };
      index -= block.children.length;
      block = block.nextElementSibling;
    }
    return null;
  }

  // Inserts `items` (row elements) before row `at` of `list`; a block grown past twice its
  // size is split.
  function insertRows(list, at, items) {
    if (items.length === 0) return;
    const place = locate(list, at);
    let block = place ? place.block : list.appendChild(newBlock());
    const fragment = document.createDocumentFragment();
    fragment.append(...items);
    block.insertBefore(fragment, place ? block.children[place.offset] || null : null);
    while (block.children.length > 2 * kBlockRows) {
      const rest = newBlock();
      const range = document.createRange();
      range.setStartBefore(block.children[kBlockRows]);
      range.setEndAfter(block.lastElementChild);
      rest.append(range.extractContents());
      block.after(rest);
      sizeBlock(block);
      block = rest;
    }
    sizeBlock(block);
    showIcons(block);
  }

  // Removes `count` rows of `list` from row `at` on (fewer when the list ends first);
  // returns them.
  function removeRows(list, at, count) {
    const removed = [];
    let { block, offset } = locate(list, at) ?? {};
    while (count > 0 && block) {
      const next = block.nextElementSibling;
      const taken = Math.min(count, block.children.length - offset);
      for (let i = 0; i < taken; i += 1) {
        removed.push(block.children[offset]);
        block.children[offset].remove();
      }
      count -= taken;
      if (block.children.length === 0) block.remove();
      else sizeBlock(block);
      block = next;
      offset = 0;
    }
    dropDetachedIconLoads();
    return removed;
  }

  // Puts `item` in the place of the row `old`.
  function replaceRow(old, item) {
    const block = old.parentNode;
    old.replaceWith(item);
    showIcons(block);
  }

  // Loads the icons of the drawn blocks of `view` again, for a page put back on screen whose
  // loads were let go while it was away.
  function showDrawnIcons(view) {
    // Section by section and block by block: a selector, or a collection of the page's
    // lists, would walk every row of the page.
    for (const group of view.children) {
      const list = group.localName === 'section' ? group.querySelector(':scope > ul') : null;
      for (const block of list ? list.children : []) {
        if (block.dataset.drawn === 'true') showIconsSoon(block);
      }
    }
  }

  return {
    rowCount, insertRows, removeRows, replaceRow, dropDetachedIconLoads, dropIconLoadsWithin, showDrawnIcons,
  };
})();
