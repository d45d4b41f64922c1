// The games the phone itself knows (tessivarctl games suggest --json: the apps of the game
// category, for the user the phone is on, that game.txt does not list), offered at the top of
// the app list. Asked once per visit; shown on the first visit and again whenever one appears
// that was not offered before (the names offered are kept in the page's storage). Nothing is
// added without a tap.
const SEEN_KEY = 'tessivar.suggestionsSeen';

function seenBefore() {
  try {
    const seen = JSON.parse(globalThis.localStorage?.getItem(SEEN_KEY) || '[]');
    return new Set(Array.isArray(seen) ? seen.map(String) : []);
  } catch {
    return new Set();  // no storage: every visit counts as the first
  }
}

function remember(names) {
  try {
    globalThis.localStorage?.setItem(SEEN_KEY, JSON.stringify([...names]));
  } catch {
    // Not kept: the offer comes back next visit, which is the safe side.
  }
}

// `page` gives what the page already has: ctl(args), change(action, name, control), the
// current status, labelOf(name), and the element helpers.
export function suggestions(page) {
  const { $, el, deviceText, visible, validPackage } = page;
  let offered = [];      // the names shown this visit, in the order the phone gave them
  const boxes = new Map();  // name -> its switch

  function render() {
    const status = page.status();
    const listed = new Set(status ? status.games : []);
    for (const [name, box] of boxes) {
      if (!page.queued(name)) box.checked = listed.has(name);
      box.disabled = !status;
    }
    $('suggest-all').disabled = !status || offered.every((n) => listed.has(n));
  }

  function show(names) {
    offered = names;
    $('suggest-list').replaceChildren(...names.map((name) => {
      const li = el('li');
      const label = page.labelOf(name);
      const names = el('span', undefined, 'names');
      names.append(deviceText(label, 'label'));
      if (label !== name) names.append(deviceText(name, 'pkg'));
      const box = el('input');
      box.type = 'checkbox';
      box.setAttribute('role', 'switch');
      box.setAttribute('aria-label', `Boost ${visible(label)} (${name}) as a game`);
      box.addEventListener('change', () => page.change(box.checked ? 'add' : 'remove', name, box));
      boxes.set(name, box);
      const row = el('label');
      row.append(box, names);
      li.append(row);
      return li;
    }));
    $('suggest-count').textContent = names.length === 1 ? '1 app on this phone is a game by its own account.'
      : `${names.length} apps on this phone are games by their own account.`;
    $('suggest').hidden = false;
    render();
  }

  function note(text) {
    $('suggest-note').textContent = visible(text);
    $('suggest-note').hidden = false;
  }

  async function load() {
    const r = await page.ctl('games suggest --json');
    let answer = null;
    try {
      answer = JSON.parse(r.stdout);
    } catch {
      // Said below, with what the command printed.
    }
    if (!answer || typeof answer !== 'object') {
      const why = r.stderr.trim() || r.stdout.trim() || `status ${r.errno}`;
      note(`Could not ask the phone which apps are games (${why}); switch your games on in the list below.`);
      return;
    }
    if (!answer.known) {
      note(`The phone cannot tell which apps are games (${answer.reason}); switch your games on in the list below.`);
      return;
    }
    const names = (Array.isArray(answer.games) ? answer.games : []).filter(validPackage);
    const seen = seenBefore();
    if (!names.length || names.every((n) => seen.has(n))) return;
    remember(new Set([...seen, ...names]));
    show(names);
  }

  function start() {
    $('suggest-all').addEventListener('click', () => {
      const listed = new Set(page.status()?.games || []);
      for (const name of offered) {
        const box = boxes.get(name);
        if (listed.has(name) || page.queued(name)) continue;
        box.checked = true;
        page.change('add', name, box);
      }
    });
    $('suggest-later').addEventListener('click', () => {
      $('suggest').hidden = true;
      $('search').focus();
    });
  }

  return { load, render, start };
}
