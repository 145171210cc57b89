// One card per reader: who it is, its state in colour and word, its reads per second, whether its
// settings match the configuration file, and what its spool holds. Fed with the statuses the page
// polls and with the link events of the stream, which arrive first.
import { el, fill } from './dom.js';
import { RateHistory, drawSparkline, sparkline } from './sparkline.js';
import { differenceLines, rateText, readerState, settingsState, valueText } from './words.js';

export class ReaderCards {
    constructor(container) {
        this.container = container;
        this.cards = new Map();
    }

    // Every reader's status as /api/v1/readers gives it, at `atMs`.
    update(statuses, atMs) {
        for (const status of statuses) {
            const card = this.cards.get(status.name) ?? this.add(status.name);
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
        const card = { name, root, parts, status: {}, rates: new RateHistory(), rate: null };
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
    parts.kind.textContent = valueText(status.kind);
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
    fill(parts.drift, differenceLines(status.drift).map((line) => el('li', {}, line)));
    parts.spool.textContent = `${valueText(status.spooled)} spooled, ${valueText(status.dropped)} dropped` +
        (status.dead ? `, ${status.dead} dead` : '') + (status.spool === 'full' ? ' (spool full)' : '');
    parts.error.textContent = status.error ? `Last link failure: ${status.error}` : '';
    parts.error.hidden = !status.error;
}
