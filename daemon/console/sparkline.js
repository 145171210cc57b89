// A reader's reads per second over the last minutes: the rate between two status polls, kept for
// a few minutes and drawn as a small line from the first rate on.
import { svg } from './dom.js';

const samplesKept = 90; // with a poll every 2 s: the last 3 minutes
const width = 120;
const height = 28;
const margin = 2;

export class RateHistory {
    constructor() {
        this.rates = [];
        this.last = null;
    }

    // The reader's read count at a moment; gives the rate since the one before, or null.
    record(reads, atMs) {
        const previous = this.last;
        this.last = { reads, atMs };
        if (!previous || atMs <= previous.atMs || reads < previous.reads) {
            return null; // the first poll, or a daemon restarted and counting from 0
        }
        const rate = (reads - previous.reads) / ((atMs - previous.atMs) / 1000);
        this.rates.push(rate);
        if (this.rates.length > samplesKept) {
            this.rates.shift();
        }
        return rate;
    }
}

export function sparkline(label) {
    const chart = svg('svg', {
        class: 'sparkline', viewBox: `0 0 ${width} ${height}`, preserveAspectRatio: 'none',
        role: 'img', 'aria-label': label,
    });
    chart.append(svg('polyline', { points: '' }));
    return chart;
}

// Draws the rates, scaled to the highest of them, the newest at the right edge. Until the history
// is full its samples share the whole width, so that the line shows from the first of them: a
// single rate is a flat line across the chart.
export function drawSparkline(chart, rates) {
    const highest = Math.max(1, ...rates);
    const shown = rates.length === 1 ? [rates[0], rates[0]] : rates;
    const step = (width - 2 * margin) / Math.max(1, shown.length - 1);
    const points = shown.map((rate, i) => {
        const x = margin + i * step;
        const y = height - margin - (rate / highest) * (height - 2 * margin);
        return `${x.toFixed(1)},${y.toFixed(1)}`;
    });
    chart.firstChild.setAttribute('points', points.join(' '));
}
