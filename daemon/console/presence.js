// The tags in front of each reader now, from the arrived and departed events (and the reads,
// which also bring in the tags that arrived before the page was opened). A departed tag stays a
// few seconds, fading and saying so, before its row goes. The panels follow the readers the
// statuses list: a reader the configuration no longer has loses its panel.
import { el, followNames } from './dom.js';
import { clockTime, readerState, valueText } from './words.js';

const departedShownMs = 4000;

export class PresenceBoard {
    constructor(container) {
        this.container = container;
        this.readers = new Map();
    }

    // The readers as the statuses list them, so that each has its panel, empty or not, and no
    // other reader has one.
    updateReaders(statuses) {
        const panels = followNames(this.readers, statuses.map((status) => status.name),
            (name) => this.panel(name), this.container);
        for (const [i, status] of statuses.entries()) {
            const panel = panels[i];
            const state = readerState(status);
            panel.state.className = `badge state-${state.key}`;
            panel.state.textContent = state.words;
        }
    }

    applyEvent(event) {
        if (!event.epc || !['arrived', 'read', 'departed'].includes(event.event)) {
            return;
        }
        const panel = this.panel(event.reader);
        const tag = panel.tags.get(event.epc);
        if (event.event === 'departed') {
            if (tag) {
                depart(panel, tag, event);
            }
        } else if (tag) {
            present(tag, event);
        } else {
            panel.tags.set(event.epc, addTag(panel, event));
        }
        showCount(panel);
    }

    panel(reader) {
        let panel = this.readers.get(reader);
        if (panel) {
            return panel;
        }
        const state = el('span', { class: 'badge' });
        const count = el('span', { class: 'count' });
        const rows = el('tbody');
        const empty = el('p', { class: 'empty' }, 'No tag in front of this reader.');
        const table = el('table', { class: 'tags' },
            el('thead', {}, el('tr', {},
                el('th', { scope: 'col' }, 'EPC'), el('th', { scope: 'col' }, 'Card'),
                el('th', { scope: 'col' }, 'Since'), el('th', { scope: 'col' }, 'Reads'),
                el('th', { scope: 'col' }, 'Presence'))),
            rows);
        const root = el('section', { class: 'card presence', 'data-reader': reader, 'aria-label': `tags at ${reader}` },
            el('header', {}, el('h3', {}, reader), state), count, table, empty);
        panel = { root, state, count, rows, table, empty, tags: new Map() };
        this.readers.set(reader, panel);
        this.container.append(root);
        showCount(panel);
        return panel;
    }
}

function addTag(panel, event) {
    const cells = {
        epc: el('td', { class: 'epc' }, valueText(event.epc)),
        card: el('td', { class: 'card-number' }),
        since: el('td', { class: 'since' }),
        reads: el('td', { class: 'tag-reads' }),
        presence: el('td', { class: 'presence-state' }),
    };
    const row = el('tr', { 'data-epc': event.epc }, Object.values(cells));
    panel.rows.prepend(row);
    const tag = { row, cells, removal: null };
    present(tag, event);
    return tag;
}

function present(tag, event) {
    if (tag.removal) {
        clearTimeout(tag.removal); // back before its row went
        tag.removal = null;
    }
    tag.row.classList.remove('departed');
    tag.cells.card.textContent = valueText(event.card);
    tag.cells.since.textContent = clockTime(event.first_seen ?? event.time);
    tag.cells.since.title = valueText(event.first_seen ?? event.time);
    tag.cells.reads.textContent = valueText(event.count);
    tag.cells.presence.textContent = 'present';
}

function depart(panel, tag, event) {
    tag.row.classList.add('departed');
    tag.cells.reads.textContent = valueText(event.count);
    tag.cells.presence.textContent = `departed ${clockTime(event.time)}`;
    if (!tag.removal) {
        tag.removal = setTimeout(() => {
            tag.row.remove();
            panel.tags.delete(event.epc);
            showCount(panel);
        }, departedShownMs);
    }
}

function showCount(panel) {
    const present = [...panel.tags.values()].filter((tag) => !tag.row.classList.contains('departed')).length;
    panel.count.textContent = present === 1 ? '1 tag present' : `${present} tags present`;
    panel.table.hidden = panel.tags.size === 0;
    panel.empty.hidden = panel.tags.size !== 0;
}
