// Installed in the Settings page before its own scripts (as an init script): records long
// tasks and when each WebSocket message arrives, and offers the page-side measurements of
// settings.mjs. Times are epoch milliseconds (timeOrigin + now), which settings.mjs maps onto
// its own clock.
(() => {
  const now = () => performance.timeOrigin + performance.now();
  const probe = { longTasks: [], lastMessageAt: 0, now };
  window.hxProbe = probe;

  new PerformanceObserver((list) => {
    for (const entry of list.getEntries()) {
      probe.longTasks.push({ at: performance.timeOrigin + entry.startTime, duration: entry.duration });
    }
  }).observe({ type: 'longtask', buffered: true });

  // The page's socket, with a listener that runs before the page's own.
  const NativeWebSocket = window.WebSocket;
  window.WebSocket = class extends NativeWebSocket {
    constructor(...args) {
      super(...args);
      this.addEventListener('message', () => { probe.lastMessageAt = now(); });
    }
  };

  // Resolves after the frame that first draws the DOM for which `test()` holds has been
  // produced: a requestAnimationFrame callback runs before that frame's paint, and a message
  // posted from it runs once the frame is done.
  function afterNextFrame() {
    return new Promise((resolve) => {
      requestAnimationFrame(() => {
        const channel = new MessageChannel();
        channel.port1.onmessage = () => resolve(now());
        channel.port2.postMessage(0);
      });
    });
  }
  probe.afterNextFrame = afterNextFrame;

  // The page shown is the last child of the pages; those before it are kept, hidden.
  const pages = () => document.querySelector('[data-testid="pages"]');
  probe.pages = pages;
  probe.shownPage = () => pages()?.lastElementChild ?? null;

  // Watches the page for `test()` to hold; `probe.shown` then resolves with when the DOM
  // showed it, when the frame was done and when the last message before it arrived.
  probe.watch = (test) => {
    const main = pages();
    probe.shown = new Promise((resolve) => {
      const check = () => {
        if (!test()) return false;
        observer.disconnect();
        const domAt = now();
        const messageAt = probe.lastMessageAt;
        afterNextFrame().then((frameAt) => resolve({ domAt, frameAt, messageAt }));
        return true;
      };
      const observer = new MutationObserver(check);
      observer.observe(main, { childList: true, subtree: true, attributes: true });
      check();
    });
  };

  // The list of rows of the section headed `header` on the page shown, and the title of one
  // of its rows. (The page's children are walked: a selector with a child combinator would
  // test every row of the page, on every mutation the watch sees.)
  probe.rows = (header) => {
    const main = probe.shownPage();
    for (const section of main ? main.children : []) {
      const title = section.querySelector(':scope > [data-testid="section-header"]');
      if (title && title.textContent === header) return section.querySelector(':scope > ul');
    }
    return null;
  };
  // Runs `act` and resolves once the frame showing `test()` is done; times as for `shown`,
  // with `startAt` just before `act`.
  probe.measure = async (act, test) => {
    probe.watch(test);
    const startAt = now();
    act();
    return { startAt, ...(await probe.shown) };
  };
  // The row elements of a list, and its row at `index`, whether the rows sit in the list
  // itself or in blocks inside it.
  probe.rowsOf = (list) => (list ? [...list.querySelectorAll('[data-testid="row"]')] : []);
  probe.rowAt = (list, index) => {
    for (const child of list.children) {
      if (child.dataset.testid === 'row') {
        if (index === 0) return child;
        index -= 1;
      } else if (index < child.children.length) {
        return child.children[index];
      } else {
        index -= child.children.length;
      }
    }
    return null;
  };
  probe.titleOf = (row) => row?.querySelector('[data-testid="row-title"]')?.textContent;
  probe.pageTitle = () => document.querySelector('[data-testid="nav-title"]').textContent;
})();
