// A door's passage as a table row, its direction in words and as an arrow (outside → inside for
// "in"), so that it reads without the arrow as well.
import { el } from './dom.js';
import { clockTime, valueText } from './words.js';

const directions = {
    in: { arrow: '→', words: 'in (outside → inside)' },
    out: { arrow: '←', words: 'out (inside → outside)' },
};

export function passageHeader(withDoor) {
    return el('thead', {}, el('tr', {},
        el('th', { scope: 'col' }, 'Time'), withDoor ? el('th', { scope: 'col' }, 'Door') : null,
        el('th', { scope: 'col' }, 'Direction'), el('th', { scope: 'col' }, 'EPC'),
        el('th', { scope: 'col' }, 'Card')));
}

export function passageRow(passage, withDoor) {
    const direction = directions[passage.direction] ?? { arrow: '?', words: valueText(passage.direction) };
    return el('tr', { class: 'passage', 'data-epc': valueText(passage.epc),
        'data-direction': valueText(passage.direction) },
    el('td', { class: 'time', title: valueText(passage.time) }, clockTime(passage.time)),
    withDoor ? el('td', { class: 'door' }, valueText(passage.door)) : null,
    el('td', { class: 'direction' }, el('span', { class: 'arrow', 'aria-hidden': 'true' }, direction.arrow),
        ' ', el('span', { class: 'direction-words' }, direction.words)),
    el('td', { class: 'epc' }, valueText(passage.epc)),
    el('td', { class: 'card-number' }, valueText(passage.card)));
}

// The same passage from the history and from the stream.
export function passageKey(passage) {
    return `${passage.door}\n${passage.epc}\n${passage.time}`;
}
