// One card per reader: who it is, its state in colour and word, what its kind means, its reads per
// second, whether its settings match the configuration file, and what its spool holds. Fed with the
// statuses the page polls, which also add and remove cards as the configuration does, and with the
// link events of the stream, which arrive first.
import { el, fill, followNames } from './dom.js';
import { KindDescriptions } from './reader_kinds.js';
import { RateHistory, drawSparkline, sparkline } from './sparkline.js';
import { differenceLines, rateText, readerState, settingsState, valueText } from './words.js';

export class ReaderCards {
    constructor(container) {
        this.container = container;
        this.cards = new Map();
        // A kind's words come once per kind; the cards of that kind are drawn again then.
        this.kinds = new KindDescriptions(() => this.cards.forEach(render));
    }

    // Every reader's status as /api/v1/readers gives it, at `atMs`: the cards of the readers
    // listed, in their order; a reader the configuration no longer has loses its card.
    update(statuses, atMs) {
        const byName = new Map(statuses.map((status) => [status.name, status]));
        followNames(this.cards, [...byName.keys()], (name) => this.add(name), this.container);
        for (const [name, status] of byName) {
            const card = this.cards.get(name);
            card.status = { ...card.status, ...status };
            const rate = card.rates.record(Number(status.reads) || 0, atMs);
            if (rate !== null) {
                card.rate = rate;
            }
            render(card);
        }
    }

    // A link event shows at once, before the next status says so.
    applyEvent(event) {
        const card = this.cards.get(event.reader);
        if (!card) {
            return;
        }
        if (event.event === 'link-lost') {
            card.status = { ...card.status, state: 'link-lost', error: event.error ?? card.status.error };
        } else if (event.event === 'link-restored' || event.event === 'link-up') {
            card.status = { ...card.status, state: 'online', error: null };
        } else {
            return;
        }
        render(card);
    }

    add(name) {
        const parts = {
            state: el('span', { class: 'badge' }),
            address: el('p', { class: 'address' }),
            kind: el('dd'),
            version: el('dd'),
            serial: el('dd'),
            rate: el('span', { class: 'rate' }),
            reads: el('span', { class: 'total' }),
            chart: sparkline(`reads per second of ${name} over the last minutes`),
            inventory: el('dd'),
            settings: el('span', { class: 'badge' }),
            drift: el('ul', { class: 'drift' }),
            spool: el('dd', { class: 'spool' }),
            error: el('p', { class: 'error', role: 'status' }),
        };
        const root = el('article', { class: 'card reader', 'data-reader': name, 'aria-label': `reader ${name}` },
            el('header', {}, el('h3', {}, name), parts.state),
            parts.address,
            el('dl', { class: 'facts' },
                el('dt', {}, 'Kind'), parts.kind,
                el('dt', {}, 'Version'), parts.version,
                el('dt', {}, 'Serial'), parts.serial,
                el('dt', {}, 'Reads'), el('dd', { class: 'reads' }, parts.rate, parts.reads, parts.chart),
                el('dt', {}, 'Inventory'), parts.inventory,
                el('dt', {}, 'Settings'), el('dd', {}, parts.settings, parts.drift),
                el('dt', {}, 'Spool'), parts.spool),
            parts.error);
        const card = { name, root, parts, status: {}, rates: new RateHistory(), rate: null, kinds: this.kinds };
        this.cards.set(name, card);
        this.container.append(root);
        return card;
    }
}

function render(card) {
    const { parts, status } = card;
    const state = readerState(status);
    card.root.dataset.state = state.key;
    parts.state.className = `badge state-${state.key}`;
    parts.state.textContent = state.words;
    parts.address.textContent = valueText(status.address);
    fill(parts.kind, kindParts(card.kinds, status.kind, card.name));
    parts.version.textContent = valueText(status.version);
    parts.serial.textContent = valueText(status.serial);
    parts.rate.textContent = `${rateText(card.rate)} /s`;
    parts.reads.textContent = ` (${valueText(status.reads)} in all, ${valueText(status.published)} published)`;
    drawSparkline(parts.chart, card.rates.rates);
    parts.inventory.textContent = valueText(status.inventory);
    const settings = settingsState(status);
    card.root.dataset.settings = settings.key;
    parts.settings.className = `badge settings-${settings.key}`;
    parts.settings.textContent = settings.words;
    fill(parts.drift, differenceLines(status.drift, status.profile).map((line) => el('li', {}, line)));
    parts.spool.textContent = `${valueText(status.spooled)} spooled, ${valueText(status.dropped)} dropped` +
        (status.dead ? `, ${status.dead} dead` : '') + (status.spool === 'full' ? ' (spool full)' : '');
    parts.error.textContent = status.error ? `Last link failure: ${status.error}` : '';
    parts.error.hidden = !status.error;
}

// "power 0–33, frequency band in kHz (kind 0)": what the kind means and its number beside it, once
// the daemon has said what the kind takes; the number alone until then.
function kindParts(kinds, kind, reader) {
    if (kind === null || kind === undefined) {
        return valueText(kind);
    }
    const meaning = kinds.describe(kind, reader);
    if (!meaning) {
        return `kind ${valueText(kind)}`;
    }
    return [el('span', { class: 'kind-meaning', title: meaning.details }, meaning.words), ' ',
        el('span', { class: 'kind-number' }, `(kind ${valueText(kind)})`)];
}
