// Each zone with the tags in it now (/api/v1/zones and each zone's tags, asked again with the
// statuses and when a zone's event comes), and each door of the site (/api/v1/site's doors) with
// its last passages, from the event stream as they come and from the history for those before.
import { getJson } from './api.js';
import { el, fill, followNames } from './dom.js';
import { passageHeader, passageKey, passageRow } from './passages.js';
import { clockTime, valueText } from './words.js';

const passagesShown = 20;
const passagesAtStart = 100;

export class ZoneBoard {
    // elements: {zones, zonesEmpty, doors, doorsEmpty}
    constructor(elements) {
        this.elements = elements;
        this.zones = new Map();
        this.doors = new Map();
        this.tags = new Map(); // every tag in a zone now, by EPC
        this.passages = []; // newest first, every door's, for finding a card's EPC
        this.seen = new Set();
        this.refreshing = null;
        this.again = false; // a zone's event came during a refresh: one more after it
    }

    // The doors of the configuration now, each with its panel.
    setDoors(names) {
        followNames(this.doors, names, (name) => this.doorPanel(name), this.elements.doors);
        this.elements.doorsEmpty.hidden = names.length !== 0;
    }

    // The passages the history kept, asked once the stream is open so that none falls between
    // the two; a site without doors keeps none.
    async loadHistory() {
        if (this.doors.size === 0) {
            return;
        }
        try {
            const page = await getJson(`/api/v1/passages?limit=${passagesAtStart}`);
            for (const passage of page.passages ?? []) {
                this.addPassage(passage, true);
            }
        } catch {
            // the history cannot be read now: the stream brings the passages from now on
        }
    }

    applyEvent(event) {
        if (event.event === 'passage') {
            this.addPassage(event);
        } else if (event.event === 'zone-entered' || event.event === 'zone-left') {
            this.refresh().catch(() => {}); // the statuses' poll tells of a daemon away
        }
    }

    // The zones and their tags now; one refresh at a time, and one more for what came during it.
    refresh() {
        if (this.refreshing) {
            this.again = true;
            return this.refreshing;
        }
        this.refreshing = this.load().finally(() => {
            this.refreshing = null;
            if (this.again) {
                this.again = false;
                this.refresh().catch(() => {});
            }
        });
        return this.refreshing;
    }

    async load() {
        const zones = await getJson('/api/v1/zones');
        const listed = Array.isArray(zones) ? zones : [];
        const answers = await Promise.all(listed.map((zone) =>
            getJson(`/api/v1/zones/${encodeURIComponent(zone.name)}/tags`).catch(() => ({ tags: [] }))));
        const panels = followNames(this.zones, listed.map((zone) => String(zone.name)),
            (name) => this.zonePanel(name), this.elements.zones);
        this.tags.clear();
        for (const [i, zone] of listed.entries()) {
            const tags = Array.isArray(answers[i].tags) ? answers[i].tags : [];
            showZone(panels[i], zone, tags);
            for (const tag of tags) {
                this.tags.set(tag.epc, { ...tag, zone: zone.name });
            }
        }
        this.elements.zonesEmpty.hidden = listed.length !== 0;
    }

    zonePanel(name) {
        const readers = el('p', { class: 'zone-readers' });
        const count = el('span', { class: 'count' });
        const rows = el('tbody');
        const empty = el('p', { class: 'empty' }, 'No tag in this zone now.');
        const table = el('table', { class: 'tags' },
            el('thead', {}, el('tr', {},
                el('th', { scope: 'col' }, 'EPC'), el('th', { scope: 'col' }, 'Card'),
                el('th', { scope: 'col' }, 'Since'), el('th', { scope: 'col' }, 'Last seen'),
                el('th', { scope: 'col' }, 'Last reader'), el('th', { scope: 'col' }, 'Reads'))),
            rows);
        const root = el('section', { class: 'card zone', 'data-zone': name, 'aria-label': `tags in zone ${name}` },
            el('header', {}, el('h3', {}, name), count), readers, table, empty);
        const panel = { root, readers, count, rows, table, empty };
        this.zones.set(name, panel);
        return panel;
    }

    // A passage as it comes, or with `older` one from the history, older than those shown.
    addPassage(passage, older = false) {
        const key = passageKey(passage);
        if (!passage.door || this.seen.has(key)) {
            return;
        }
        this.seen.add(key);
        const door = this.doors.get(String(passage.door)) ?? this.doorPanel(String(passage.door));
        if (older) {
            this.passages.push(passage);
            door.rows.append(passageRow(passage, false));
        } else {
            this.passages.unshift(passage);
            door.rows.prepend(passageRow(passage, false));
        }
        while (door.rows.childElementCount > passagesShown) {
            door.rows.lastElementChild.remove();
        }
        door.empty.hidden = true;
        door.table.hidden = false;
        const kept = passagesShown * Math.max(this.doors.size, 1);
        while (this.passages.length > kept) {
            this.seen.delete(passageKey(this.passages.pop()));
        }
    }

    doorPanel(name) {
        const rows = el('tbody');
        const table = el('table', { class: 'passages' }, passageHeader(false), rows);
        const empty = el('p', { class: 'empty' }, 'No passage yet.');
        const root = el('section', { class: 'card door', 'data-door': name, 'aria-label': `passages of door ${name}` },
            el('header', {}, el('h3', {}, name)), table, empty);
        const panel = { root, rows, table, empty };
        table.hidden = true;
        this.doors.set(name, panel);
        this.elements.doors.append(root);
        return panel;
    }

    // The EPC of the tag with this card number, among the tags in a zone now and the passages seen.
    epcOfCard(card) {
        const wanted = cardValue(card);
        for (const tag of [...this.tags.values(), ...this.passages]) {
            if (tag.card !== null && tag.card !== undefined && cardValue(String(tag.card)) === wanted) {
                return String(tag.epc);
            }
        }
        return null;
    }
}

// A card number's digits without the leading zeros some readers pad it with.
function cardValue(card) {
    const text = card.trim();
    return /^[0-9]+$/.test(text) ? text.replace(/^0+(?=.)/, '') : text;
}

function showZone(panel, zone, tags) {
    const readers = Array.isArray(zone.readers) ? zone.readers.map(String) : [];
    panel.readers.textContent = `readers: ${readers.join(', ')}`;
    panel.count.textContent = tags.length === 1 ? '1 tag in it' : `${tags.length} tags in it`;
    fill(panel.rows, tags.map((tag) => el('tr', { 'data-epc': valueText(tag.epc) },
        el('td', { class: 'epc' }, valueText(tag.epc)),
        el('td', { class: 'card-number' }, valueText(tag.card)),
        el('td', { class: 'since', title: valueText(tag.since) }, clockTime(tag.since)),
        el('td', { class: 'last-seen', title: valueText(tag.last_seen) }, clockTime(tag.last_seen)),
        el('td', { class: 'last-reader' }, valueText(tag.last_reader)),
        el('td', { class: 'tag-reads' }, valueText(tag.reads)))));
    panel.table.hidden = tags.length === 0;
    panel.empty.hidden = tags.length !== 0;
}
