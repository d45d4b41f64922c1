// The verdict under the comparison: what tessivarctl computed from the sessions (status --json's
// "verdicts", the same rule the supervisor applies with the page closed), said as a sentence with
// the numbers behind it, a one-tap choice, and "Choose for me" for this game and for every game.
// Nothing is weighed here; device text goes in as text.

const f1 = (v) => (Number.isFinite(v) ? v.toFixed(1) : '–');
const plural = (n, one, many = `${one}s`) => `${n} ${n === 1 ? one : many}`;

// The sentence, from the verdict's fields and the game's label.
export function verdictSentence(v, label) {
  if (!v || v.kind === 'nothing') return '';
  if (v.kind === 'waiting') {
    const short = v.presets.filter((p) => !p.takesPart).map((p) => `${p.preset} (${p.usable} of 3)`);
    return `Not enough sessions yet: ${short.join(', ')} ${short.length === 1 ? 'needs' : 'need'} 3 usable sessions to take part.`;
  }
  if (v.kind === 'close') {
    const cooler = v.cooler ? ` ${v.cooler} ran ${f1(v.coolerByC)} °C cooler at its peak (information, not a verdict).` : '';
    return `Too close to call after ${plural(v.each, 'session')} each: play a few more.${cooler}`;
  }
  return `On this phone, ${v.winner} gives ${label} ${v.framesPct} % of ${v.other}'s 5th-percentile frame rate for ${v.powerPct} % of its power: ${v.winner} is the better choice.`;
}

// The numbers behind it, and what was left out.
export function verdictDetails(v) {
  if (!v || v.kind === 'nothing') return [];
  const lines = [];
  const part = v.presets.filter((p) => p.takesPart);
  if (part.length) {
    lines.push(`5th-percentile frame rate (median, spread): ${part.map((p) => `${p.preset} ${f1(p.lowFps)} fps (±${f1(p.lowFpsSpread)})`).join(', ')}.`);
    lines.push(`Energy per minute (median, spread): ${part.map((p) => `${p.preset} ${f1(p.energyPerMin)} mWh (±${f1(p.energySpread)})`).join(', ')}.`);
  }
  for (const p of v.presets.filter((x) => !x.takesPart)) {
    lines.push(`${p.preset}: not enough sessions yet (${p.usable} usable of ${p.sessions}).`);
  }
  const out = v.leftOut;
  const left = out.short + out.charging + out.noFrames;
  if (left) {
    const why = [[out.short, 'shorter than 2 minutes'], [out.charging, 'on the charger for more than half the time'], [out.noFrames, 'without frames']]
      .filter(([n]) => n).map(([n, text]) => `${n} ${text}`);
    lines.push(`${plural(left, 'session')} left out: ${why.join(', ')}.`);
  }
  return lines;
}

// `page` gives what the page already has: $, el, visible, validPackage, status(), labelOf(name),
// change(action, name, control, preset) and queued(name).
export function verdictPanel(page) {
  const { $, el, visible, validPackage } = page;

  $('use-winner').addEventListener('click', (event) => {
    const b = event.target;
    page.change('preset', b.dataset.game, b, b.dataset.preset);
  });
  $('choose-game').addEventListener('change', (event) => {
    const box = event.target;
    page.change(box.checked ? 'choose' : 'unchoose', box.dataset.game, box);
  });
  $('choose-all').addEventListener('change', (event) => {
    page.change(event.target.checked ? 'chooseAll' : 'unchooseAll', 'all', event.target);
  });

  function render(game) {
    const status = page.status();
    const v = (status?.verdicts || []).find((x) => x.game === game);
    // Shown for any game with sessions: Choose for me starts a Try both run where there is
    // nothing to weigh yet.
    const shown = Boolean(v && validPackage(game));
    $('verdict').hidden = !shown;
    const all = $('choose-all');
    if (!page.queued('all')) all.checked = Boolean(status?.choose?.all);
    all.disabled = !status;
    $('choose-all-row').hidden = !status;
    if (!shown) return;
    const sentence = verdictSentence(v, page.labelOf(game));
    $('verdict-sentence').textContent = visible(sentence);
    $('verdict-sentence').hidden = !sentence;
    $('verdict-numbers').replaceChildren(...verdictDetails(v).map((line) => el('li', visible(line))));
    const clear = v.kind === 'frames' || v.kind === 'energy';
    const own = new Map(status.presets?.games || []).get(game);
    const use = $('use-winner');
    use.hidden = !clear || own === v.winner;  // already in force
    if (clear) {
      use.textContent = `Use ${v.winner} for this game`;
      use.dataset.game = game;
      use.dataset.preset = v.winner;
    }
    const box = $('choose-game');
    box.dataset.game = game;
    box.setAttribute('aria-label', `Choose for me: ${visible(page.labelOf(game))} (${game})`);
    if (!page.queued(game)) box.checked = v.handed;
    box.disabled = !status;
    $('choose-note').textContent = v.chosen
      ? `${v.chosen.preset}, chosen from ${v.chosen.from} sessions; checked again after 20 more.`
      : v.handed ? 'On: Tessivar tries both where it cannot tell yet, keeps the better one when a Try both run ends with a clear verdict, and checks again every 20 sessions.'
        : v.byHand ? 'Off: this game\'s preset was set by you, and a choice of yours is never overwritten.'
          : 'Off.';
  }
  return { render };
}
