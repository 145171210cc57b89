// The site's latest events, newest first, filtered by reader and kind. Events keep arriving into
// the list while it is paused; only the table stands still. The kinds to filter by are those the
// daemon says it streams; the readers those its statuses list.
import { el, fill, followOptions } from './dom.js';
import { clockTime, eventDetails, valueText } from './words.js';

const eventsKept = 500;

export class EventLog {
    // elements: {rows, readerFilter, kindFilter, pause, summary}
    constructor(elements) {
        this.elements = elements;
        this.events = []; // newest first
        this.pending = [];
        this.paused = false;
        this.unseen = 0; // arrived while paused
        this.frame = null;
        fill(elements.kindFilter, el('option', { value: '' }, 'every kind'));
        fill(elements.readerFilter, el('option', { value: '' }, 'every reader'));
        elements.readerFilter.addEventListener('change', () => this.renderAll());
        elements.kindFilter.addEventListener('change', () => this.renderAll());
        elements.pause.addEventListener('click', () => this.togglePause());
        this.showSummary();
    }

    // The kinds of event the daemon streams (/api/v1/site's event_kinds), in its order.
    setKinds(kinds) {
        followOptions(this.elements.kindFilter, Array.isArray(kinds) ? kinds.map(String) : []);
    }

    // The readers of the configuration now; one that went stays while it is chosen.
    setReaders(names) {
        followOptions(this.elements.readerFilter, names);
    }

    add(event) {
        this.events.unshift(event);
        if (this.events.length > eventsKept) {
            this.events.length = eventsKept;
        }
        if (this.paused) {
            this.unseen += 1;
            this.showSummary();
            return;
        }
        // Many events a second arrive in bursts: the table changes once per frame.
        this.pending.push(event);
        this.frame ??= requestAnimationFrame(() => this.flush());
    }

    flush() {
        this.frame = null;
        const rows = this.elements.rows;
        const shown = this.pending.filter((event) => this.matches(event)).map(row);
        this.pending = [];
        rows.prepend(...shown.reverse());
        while (rows.childElementCount > eventsKept) {
            rows.lastElementChild.remove();
        }
        this.showSummary();
    }

    renderAll() {
        this.pending = [];
        fill(this.elements.rows, this.events.filter((event) => this.matches(event)).map(row));
        this.showSummary();
    }

    togglePause() {
        if (this.frame !== null) {
            cancelAnimationFrame(this.frame); // what came before the click is shown, nothing after
            this.flush();
        }
        this.paused = !this.paused;
        this.unseen = 0;
        const button = this.elements.pause;
        button.setAttribute('aria-pressed', String(this.paused));
        button.textContent = this.paused ? 'Resume' : 'Pause';
        if (!this.paused) {
            this.renderAll();
        }
        this.showSummary();
    }

    matches(event) {
        const reader = this.elements.readerFilter.value;
        const kind = this.elements.kindFilter.value;
        return (!reader || event.reader === reader) && (!kind || event.event === kind);
    }

    showSummary() {
        const shown = this.elements.rows.childElementCount;
        const paused = this.paused ? ` Paused: ${this.unseen} newer not shown yet.` : '';
        this.elements.summary.textContent =
            `${shown} shown of the last ${this.events.length} events (at most ${eventsKept} kept).${paused}`;
    }
}

function row(event) {
    return el('tr', { 'data-kind': valueText(event.event), 'data-reader': valueText(event.reader) },
        el('td', { class: 'time', title: valueText(event.time) }, clockTime(event.time)),
        el('td', {}, valueText(event.reader)),
        el('td', {}, el('span', { class: `kind kind-${valueText(event.event)}` }, valueText(event.event))),
        el('td', { class: 'seq' }, valueText(event.seq)),
        el('td', { class: 'details' }, eventDetails(event)));
}
