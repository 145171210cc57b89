// The daemon's live event stream (/api/v1/events). EventSource reconnects by itself after a
// dropped connection; when the daemon refuses the stream outright (a token that is no longer
// right, the daemon restarting) it gives up, so the stream is opened again after a pause, once a
// plain request has had the chance to ask for the token.
import { eventStreamUrl, getJson } from './api.js';

const reopenPauseMs = 3000;

export class EventStream {
    // onEvent(event) for every event; onState('live' | 'connecting' | 'reconnecting').
    constructor(onEvent, onState) {
        this.onEvent = onEvent;
        this.onState = onState;
        this.source = null;
        this.kinds = [];
        this.deliverer = (message) => this.deliver(message);
    }

    // The kinds of event the daemon names (each message of the stream is named by its event's
    // kind): a kind new to the stream is taken from now on.
    listenTo(kinds) {
        for (const kind of kinds) {
            if (!this.kinds.includes(kind)) {
                this.kinds.push(kind);
                this.source?.addEventListener(kind, this.deliverer);
            }
        }
    }

    open() {
        this.onState('connecting');
        const source = new EventSource(eventStreamUrl());
        this.source = source;
        for (const kind of this.kinds) {
            source.addEventListener(kind, this.deliverer);
        }
        source.addEventListener('message', this.deliverer);
        source.addEventListener('open', () => this.onState('live'));
        source.addEventListener('error', () => this.failed(source));
    }

    deliver(message) {
        let event;
        try {
            event = JSON.parse(message.data);
        } catch {
            return; // not an event of this daemon
        }
        if (event && typeof event === 'object') {
            event.event ??= message.type;
            this.onEvent(event);
        }
    }

    failed(source) {
        this.onState('reconnecting');
        if (source.readyState !== EventSource.CLOSED) {
            return; // EventSource tries again by itself
        }
        setTimeout(async () => {
            try {
                await getJson('/api/v1/site'); // asks for the token if that was the refusal
            } catch {
                // the daemon is away: open the stream again anyway, it will fail and come back here
            }
            if (this.source === source) {
                this.open();
            }
        }, reopenPauseMs);
    }
}
