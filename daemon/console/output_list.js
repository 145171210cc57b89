// The site's outputs, one row each: the broker and every webhook, its state in colour and word,
// what it has delivered and what waits for it in the spool, and its last failure. Fed with
// /api/v1/outputs as the page polls it.
import { el, fill, followNames } from './dom.js';

// Working states in green, waiting ones in red; the others (idle, gathering) neutral.
const stateClasses = {
    connected: 'state-online',
    sending: 'state-online',
    down: 'state-link-lost',
    refused: 'state-link-lost',
    retrying: 'state-link-lost',
};

export class OutputList {
    constructor(container) {
        this.container = container;
        this.rows = new Map();
    }

    update(outputs) {
        const byName = new Map(outputs.map((output) => [output.name, output]));
        followNames(this.rows, [...byName.keys()], (name) => this.add(name), this.container);
        for (const [name, output] of byName) {
            render(this.rows.get(name), output);
        }
    }

    add(name) {
        const row = { root: el('li', { class: 'output', 'data-output': name }) };
        this.rows.set(name, row);
        return row;
    }
}

function render(row, output) {
    const state = String(output.state ?? '');
    row.root.dataset.state = state;
    const retry = Number.isFinite(output.retry_in_ms) ? ` in ${Math.ceil(output.retry_in_ms / 1000)} s` : '';
    fill(row.root,
        el('strong', { class: 'output-name' }, output.name),
        ' ',
        el('span', { class: 'output-kind' }, output.kind),
        ' ',
        el('span', { class: `badge ${stateClasses[state] ?? 'neutral'}`, 'data-role': 'state' }, state + retry),
        ' ',
        el('span', { class: 'output-counts' }, `${output.sent ?? 0} sent, ${output.pending ?? 0} waiting`,
            output.dead_letters ? `, ${output.dead_letters} dead letters` : ''),
        output.target ? el('span', { class: 'address' }, ` ${output.target}`) : null,
        output.last_error ? el('span', { class: 'output-error' }, ` ${output.last_error}`) : null);
}
