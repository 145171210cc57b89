// Where a tag is and where it has been: an EPC, or a card number the page knows (a tag in a zone
// now, a passage seen), looked up with /api/v1/tags/EPC; it says so plainly when nothing is found.
import { ApiError, getJson } from './api.js';
import { el, fill } from './dom.js';
import { passageHeader, passageRow } from './passages.js';
import { clockTime, valueText } from './words.js';

const httpNotFound = 404;
const epcPattern = /^[0-9a-fA-F]+$/;

export class TagSearch {
    // elements: {form, input, result}; epcOfCard(card) gives the EPC of a known card number or null.
    constructor(elements, epcOfCard) {
        this.elements = elements;
        this.epcOfCard = epcOfCard;
        elements.form.addEventListener('submit', (event) => {
            event.preventDefault();
            this.search(elements.input.value);
        });
    }

    async search(text) {
        const wanted = text.trim();
        if (!wanted) {
            return;
        }
        const epc = this.epcOfCard(wanted) ?? (epcPattern.test(wanted) ? wanted.toLowerCase() : null);
        if (!epc) {
            this.notFound(wanted);
            return;
        }
        this.show('searching', `Looking for ${wanted}…`);
        try {
            const tag = await getJson(`/api/v1/tags/${encodeURIComponent(epc)}`);
            this.show('found', ...tagParts(tag));
            this.elements.result.dataset.epc = valueText(tag.epc);
        } catch (error) {
            if (error instanceof ApiError && error.status === httpNotFound) {
                this.notFound(wanted);
            } else {
                this.show('failed', `The daemon could not say where ${wanted} is: ${error.message}`);
            }
        }
    }

    notFound(wanted) {
        this.show('not-found', `Not found: no tag with the EPC or card number "${wanted}" was seen in a zone ` +
            'or at a door (card numbers are found among the tags in a zone now and the passages shown).');
    }

    show(state, ...parts) {
        const result = this.elements.result;
        result.dataset.state = state;
        delete result.dataset.epc;
        fill(result, parts.map((part) => (typeof part === 'string' ? el('p', { class: 'search-words' }, part) : part)));
        result.hidden = false;
    }
}

function tagParts(tag) {
    const where = tag.zone === null || tag.zone === undefined
        ? 'in no zone now'
        : `in zone ${tag.zone} since ${clockTime(tag.since)}`;
    const facts = el('dl', { class: 'facts tag-facts' },
        el('dt', {}, 'EPC'), el('dd', { class: 'epc' }, valueText(tag.epc)),
        el('dt', {}, 'Card'), el('dd', { class: 'card-number' }, valueText(tag.card)),
        el('dt', {}, 'Where'), el('dd', { class: 'tag-zone', 'data-zone': tag.zone ?? '' }, where),
        el('dt', {}, 'Last seen'), el('dd', { title: valueText(tag.last_seen) },
            `${clockTime(tag.last_seen)} by ${valueText(tag.last_reader)}`));
    const visits = Array.isArray(tag.visits) ? tag.visits : [];
    const passages = Array.isArray(tag.passages) ? tag.passages : [];
    return [facts,
        el('h4', {}, `Visits (${visits.length}, newest first)`),
        visits.length ? el('table', { class: 'visits' },
            el('thead', {}, el('tr', {},
                el('th', { scope: 'col' }, 'Zone'), el('th', { scope: 'col' }, 'Entered'),
                el('th', { scope: 'col' }, 'Left'), el('th', { scope: 'col' }, 'Reads'),
                el('th', { scope: 'col' }, 'Readers'))),
            el('tbody', {}, visits.map(visitRow))) : el('p', { class: 'empty' }, 'No visit kept.'),
        el('h4', {}, `Passages (${passages.length}, newest first)`),
        passages.length ? el('table', { class: 'passages' }, passageHeader(true),
            el('tbody', {}, passages.map((passage) => passageRow(passage, true))))
            : el('p', { class: 'empty' }, 'No passage kept.')];
}

function visitRow(visit) {
    const readers = Array.isArray(visit.readers) ? visit.readers.map(String).join(', ') : valueText(visit.readers);
    return el('tr', { class: 'visit', 'data-zone': valueText(visit.zone) },
        el('td', {}, valueText(visit.zone)),
        el('td', { title: valueText(visit.entered) }, clockTime(visit.entered)),
        el('td', { title: valueText(visit.left) }, visit.left ? clockTime(visit.left) : 'still there'),
        el('td', {}, valueText(visit.reads)),
        el('td', {}, readers));
}
