// The audit trail: who did what, by which path, to which reader, and what came of it, newest
// first, a page at a time, filtered by reader and actor. Read from the daemon when the view is
// shown and when asked again; the settings a write changed are shown as "power 26 → 20".
import { getJson } from './api.js';
import { el, fill, followOptions } from './dom.js';
import { valueText } from './words.js';

const pageSize = 50;

export class AuditView {
    // elements: {rows, readerFilter, actorFilter, refresh, more, summary}
    constructor(elements) {
        this.elements = elements;
        this.next = null;
        this.shownCount = 0;
        fill(elements.readerFilter, el('option', { value: '' }, 'every reader'));
        elements.refresh.addEventListener('click', () => this.load());
        elements.readerFilter.addEventListener('change', () => this.load());
        elements.actorFilter.addEventListener('change', () => this.load());
        elements.more.addEventListener('click', () => this.load(this.next));
    }

    // The readers of the configuration now; one that went stays while it is chosen.
    setReaders(names) {
        followOptions(this.elements.readerFilter, names);
    }

    shown() {
        this.load();
    }

    // The newest page, or with `before` the page older than the one shown.
    async load(before = null) {
        const query = new URLSearchParams({ limit: String(pageSize) });
        if (this.elements.readerFilter.value) {
            query.set('reader', this.elements.readerFilter.value);
        }
        const actor = this.elements.actorFilter.value.trim();
        if (actor) {
            query.set('actor', actor);
        }
        if (before !== null) {
            query.set('before', String(before));
        }
        try {
            const page = await getJson(`/api/v1/audit?${query}`);
            const rows = (page.entries ?? []).map(row);
            if (before === null) {
                fill(this.elements.rows, rows);
                this.shownCount = rows.length;
            } else {
                this.elements.rows.append(...rows);
                this.shownCount += rows.length;
            }
            this.next = page.next ?? null;
            this.elements.more.hidden = this.next === null;
            this.elements.summary.textContent = `${this.shownCount} entries shown` +
                (this.next === null ? '' : ', older ones follow');
        } catch (error) {
            this.elements.summary.textContent = `The audit trail could not be read: ${error.message}`;
        }
    }
}

function row(entry) {
    const failed = entry.outcome !== 'ok' && entry.outcome !== 'pending';
    const outcome = failed && entry.error ? `${entry.outcome}: ${entry.error.words}` : valueText(entry.outcome);
    return el('tr', { 'data-outcome': valueText(entry.outcome), 'data-actor': valueText(entry.actor) },
        el('td', { class: 'time' }, valueText(entry.time)),
        el('td', { class: 'actor' }, valueText(entry.actor)),
        el('td', {}, valueText(entry.path)),
        el('td', {}, valueText(entry.reader)),
        el('td', { class: 'command' }, commandText(entry)),
        el('td', { class: `outcome outcome-${valueText(entry.outcome)}` }, outcome),
        el('td', { class: 'changes' }, changeLines(entry.before, entry.after).map((line) => el('div', {}, line))));
}

function commandText(entry) {
    const args = Object.entries(entry.args ?? {}).map(([name, value]) => `${name}=${valueText(value)}`);
    return args.length ? `${valueText(entry.command)} ${args.join(' ')}` : valueText(entry.command);
}

// "power 26 → 20" for each setting that differs before and after; the rest unchanged.
function changeLines(before, after) {
    if (!before && !after) {
        return [];
    }
    const names = new Set([...Object.keys(before ?? {}), ...Object.keys(after ?? {})]);
    const lines = [];
    for (const name of names) {
        const was = before?.[name];
        const is = after?.[name];
        if (valueText(was) !== valueText(is)) {
            lines.push(`${name} ${valueText(was)} → ${valueText(is)}`);
        }
    }
    return lines.length ? lines : ['no setting changed'];
}
