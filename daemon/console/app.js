// The site console: the readers' cards, the tags in front of them, the zones and doors, the latest events, the
// settings forms and the audit trail, kept up to date from the daemon's status answers and its
// event stream. It shows who is signed in with which role, and offers only what that role may do.
import { getJson } from './api.js';
import { AuditView } from './audit_view.js';
import { EventLog } from './event_log.js';
import { OutputList } from './output_list.js';
import { PresenceBoard } from './presence.js';
import { ReaderCards } from './reader_cards.js';
import { SettingsForms } from './settings_forms.js';
import { EventStream } from './stream.js';
import { TagSearch } from './tag_search.js';
import { forgetToken } from './token.js';
import { ZoneBoard } from './zone_board.js';

const statusPollMs = 2000;
const views = ['readers', 'presence', 'zones', 'events', 'settings', 'audit'];

const byId = (id) => document.getElementById(id);

const cards = new ReaderCards(byId('reader-cards'));
const outputs = new OutputList(byId('output-list'));
const presence = new PresenceBoard(byId('presence-panels'));
const zones = new ZoneBoard({
    zones: byId('zone-panels'),
    zonesEmpty: byId('zones-empty'),
    doors: byId('door-panels'),
    doorsEmpty: byId('doors-empty'),
});
new TagSearch({ form: byId('tag-search'), input: byId('tag-search-input'), result: byId('tag-result') },
    (card) => zones.epcOfCard(card));
const settings = new SettingsForms(byId('settings-panels'), byId('settings-note'));
const log = new EventLog({
    rows: byId('event-rows'),
    readerFilter: byId('event-reader'),
    kindFilter: byId('event-kind'),
    pause: byId('event-pause'),
    summary: byId('event-summary'),
});
const audit = new AuditView({
    rows: byId('audit-rows'),
    readerFilter: byId('audit-reader'),
    actorFilter: byId('audit-actor'),
    refresh: byId('audit-refresh'),
    more: byId('audit-more'),
    summary: byId('audit-summary'),
});
let site = {};
let holder = null; // what /api/v1/whoami said

function showView() {
    const wanted = location.hash.slice(1);
    const view = views.includes(wanted) ? wanted : views[0];
    for (const name of views) {
        byId(`view-${name}`).hidden = name !== view;
        const link = document.querySelector(`nav a[href="#${name}"]`);
        if (name === view) {
            link.setAttribute('aria-current', 'page');
        } else {
            link.removeAttribute('aria-current');
        }
    }
    if (view === 'settings') {
        settings.shown();
    }
    if (view === 'audit') {
        audit.shown();
    }
}

function showBadge(id, key, words) {
    const badge = byId(id);
    badge.className = `badge ${key}`;
    badge.textContent = words;
}

// Who is signed in, with which role; the settings offer what that role and [control] allow.
function showHolder(whoami) {
    holder = whoami;
    const words = whoami.token_needed ? `signed in: ${whoami.name} (${whoami.role})`
        : `no token needed (${whoami.role})`;
    showBadge('who-state', 'neutral', words);
    byId('who-state').dataset.role = whoami.role;
    byId('sign-out').hidden = !whoami.token_needed;
    settings.setAccess(site.commands ?? 'off', whoami);
}

function showSite(shown) {
    site = shown;
    byId('site-name').textContent = site.site ?? '';
    document.title = site.site ? `${site.site} · Zendrik console` : 'Zendrik console';
    const connected = site.mqtt === 'connected';
    if (site.mqtt === 'off') {
        showBadge('broker-state', 'neutral', 'no broker');
    } else {
        showBadge('broker-state', connected ? 'state-online' : 'state-link-lost',
            connected ? 'broker connected' : 'broker down');
    }
    showBadge('commands-state', 'neutral', `commands: ${site.commands ?? 'off'}`);
    if (holder) {
        settings.setAccess(site.commands ?? 'off', holder);
    }
    const eventKinds = Array.isArray(site.event_kinds) ? site.event_kinds.map(String) : [];
    log.setKinds(eventKinds);
    zones.setDoors(Array.isArray(site.doors) ? site.doors.map(String) : []);
    stream.listenTo(eventKinds);
}

// The site and every reader's status, now and then every few seconds.
async function poll() {
    try {
        const [answered, readers, whoami, outputList] = await Promise.all([getJson('/api/v1/site'),
            getJson('/api/v1/readers'), getJson('/api/v1/whoami'), getJson('/api/v1/outputs')]);
        showSite(answered);
        showHolder(whoami);
        outputs.update(Array.isArray(outputList.outputs) ? outputList.outputs : []);
        const now = Date.now();
        cards.update(readers, now);
        presence.updateReaders(readers);
        settings.updateReaders(readers);
        log.setReaders(readers.map((reader) => reader.name));
        audit.setReaders(readers.map((reader) => reader.name));
        await zones.refresh();
        byId('daemon-problem').hidden = true;
    } catch (error) {
        const problem = byId('daemon-problem');
        problem.textContent = `The daemon does not answer: ${error.message}. The page shows what it knew last.`;
        problem.hidden = false;
    }
    setTimeout(poll, statusPollMs);
}

const streamWords = { live: 'live', connecting: 'connecting', reconnecting: 'reconnecting' };
const stream = new EventStream((event) => {
    cards.applyEvent(event);
    presence.applyEvent(event);
    zones.applyEvent(event);
    log.add(event);
}, (state) => {
    if (state === 'live') {
        zones.loadHistory(); // the passages before the stream, or while it was away
    }
    showBadge('stream-state', state === 'live' ? 'state-online' : 'state-link-lost', `events: ${streamWords[state]}`);
});

window.addEventListener('hashchange', showView);
// Another holder signs in: the page starts again without the token, and asks for one.
byId('sign-out').addEventListener('click', () => {
    forgetToken();
    location.reload();
});

async function start() {
    showView();
    await poll(); // asks for the token first if the daemon wants one, and learns the event kinds
    stream.open();
}

start();
