// Per reader, a form with every setting the reader has, built from its settings and their schema
// (choices as selects, ranges shown), the keys the configuration file manages shown but not
// editable; Save writes only what was changed and shows the daemon's words when it refuses.
// With commands "read-only" the settings are listed without a form, with "off" not at all; the
// role of whoever is signed in narrows it further: a viewer gets the list, an operator the form
// and the inventory's buttons, an admin the factory default too. The panels follow the readers
// the statuses list, as the configuration adds and removes them.
import { ApiError, getJson, post, putJson, readerPath } from './api.js';
import { el, fill, followNames } from './dom.js';
import { assignmentsText, readerState, sourceText, valueText } from './words.js';

let fieldCount = 0;

export class SettingsForms {
    constructor(container, note) {
        this.container = container;
        this.note = note;
        this.policy = null; // until the site says: [control] commands, narrowed by the role
        this.may = new Set(); // what the holder's role may do, as whoami says
        this.access = null;
        this.panels = new Map();
        this.visible = false;
    }

    // [control] commands and who is signed in (/api/v1/whoami): the panels are made again when
    // either changes.
    setAccess(commands, whoami) {
        const may = Array.isArray(whoami.may) ? whoami.may.map(String) : [];
        const access = `${commands} ${whoami.role} ${may.join(',')}`;
        if (access === this.access) {
            return;
        }
        this.access = access;
        this.may = new Set(may);
        const writes = this.may.has('settings') || this.may.has('inventory');
        this.policy = commands === 'all' && !writes ? 'read-only' : commands;
        this.panels.clear();
        fill(this.container);
        this.note.textContent = commands === 'all' && !writes ? roleNote(whoami) : policyNote(commands);
    }

    // The readers' statuses: a panel for each and for no other, and what their forms need from
    // the status.
    updateReaders(statuses) {
        if (this.policy !== 'all' && this.policy !== 'read-only') {
            return;
        }
        const panels = followNames(this.panels, statuses.map((status) => status.name),
            (name) => this.add(name), this.container);
        for (const [i, status] of statuses.entries()) {
            const panel = panels[i];
            const wasReachable = panel.status.state === 'online';
            panel.status = status;
            showStatus(panel);
            if (this.visible && !panel.loaded && !panel.busy && status.state === 'online' && !wasReachable) {
                this.load(panel); // it has come back since the last try
            }
        }
    }

    // Settings are read from the readers only once someone looks at them.
    shown() {
        this.visible = true;
        for (const panel of this.panels.values()) {
            if (!panel.loaded && !panel.busy) {
                this.load(panel);
            }
        }
    }

    add(name) {
        const panel = {
            name,
            status: {},
            loaded: null, // the settings as last read from the reader
            busy: false,
            fields: [],
            state: el('span', { class: 'badge' }),
            message: el('p', { class: 'message', role: 'status' }),
            body: el('div', { class: 'settings-body' }),
            buttons: {},
        };
        const actions = el('div', { class: 'actions' });
        if (this.policy === 'all' && this.may.has('inventory')) {
            panel.buttons.start = el('button', { type: 'button', onclick: () => this.inventory(panel, 'start') },
                'Start inventory');
            panel.buttons.stop = el('button', { type: 'button', onclick: () => this.inventory(panel, 'stop') },
                'Stop inventory');
        }
        if (this.policy === 'all' && this.may.has('factory-default')) {
            panel.buttons.factory = el('button', { type: 'button', class: 'danger',
                onclick: () => this.factoryDefault(panel) }, 'Factory default…');
        }
        panel.buttons.reload = el('button', { type: 'button', onclick: () => this.load(panel) }, 'Read again');
        actions.append(...Object.values(panel.buttons));
        panel.root = el('section', { class: 'card settings', 'data-reader': name, 'aria-label': `settings of ${name}` },
            el('header', {}, el('h3', {}, name), panel.state), actions, panel.message, panel.body);
        this.panels.set(name, panel);
        this.container.append(panel.root);
        return panel;
    }

    async load(panel) {
        await this.run(panel, 'Reading the settings…', async () => {
            const [settings, schema] = await Promise.all([
                getJson(readerPath(panel.name, 'settings')),
                getJson(readerPath(panel.name, 'settings', 'schema')),
            ]);
            panel.loaded = settings;
            this.build(panel, settings, schema ?? {});
            return '';
        });
    }

    build(panel, settings, schema) {
        const managed = panel.status.managed ?? {};
        const sources = panel.status.managed_sources ?? {};
        if (this.policy !== 'all') {
            fill(panel.body, el('dl', { class: 'settings-list' }, Object.entries(settings).map(([name, value]) => [
                el('dt', {}, name), el('dd', { 'data-setting': name }, valueText(value))])));
            return;
        }
        panel.fields = Object.entries(settings).map(([name, value]) =>
            makeField(name, value, schema[name], Object.hasOwn(managed, name) ? managed[name] : undefined,
                sourceText(sources[name], panel.status.profile)));
        const form = el('form', { novalidate: true, onsubmit: (event) => {
            event.preventDefault();
            this.save(panel);
        } },
        Object.keys(managed).length ? el('p', { class: 'note' },
            'Keys marked “managed” are set by the configuration file; change them there.') : null,
        el('div', { class: 'fields' }, panel.fields.map((field) => field.root)),
        el('div', { class: 'form-actions' }, el('button', { type: 'submit', class: 'primary' }, 'Save')));
        panel.buttons.save = form.querySelector('button[type=submit]');
        fill(panel.body, form);
    }

    async save(panel) {
        const changes = {};
        for (const field of panel.fields) {
            if (field.editable && field.text() !== valueText(panel.loaded[field.name])) {
                changes[field.name] = field.value(panel.loaded[field.name]);
            }
        }
        if (!Object.keys(changes).length) {
            showMessage(panel, 'Nothing was changed.', false);
            return;
        }
        await this.run(panel, 'Saving…', async () => {
            const settings = await putJson(readerPath(panel.name, 'settings'), changes);
            this.settingsReadBack(panel, settings);
            return `Saved: ${assignmentsText(changes)}.`;
        });
    }

    async inventory(panel, action) {
        await this.run(panel, action === 'start' ? 'Starting the inventory…' : 'Stopping the inventory…', async () => {
            const answer = await post(readerPath(panel.name, 'inventory', action));
            panel.status = { ...panel.status, inventory: answer?.inventory ?? panel.status.inventory };
            showStatus(panel);
            return `Inventory ${valueText(answer?.inventory)}.`;
        });
    }

    async factoryDefault(panel) {
        const sure = window.confirm(`Restore the factory defaults of ${panel.name}? Every setting the ` +
            'configuration file does not manage goes back to its factory value.');
        if (!sure) {
            return;
        }
        await this.run(panel, 'Restoring the factory defaults…', async () => {
            const settings = await post(readerPath(panel.name, 'factory-default'));
            this.settingsReadBack(panel, settings);
            return 'The factory defaults are restored.';
        });
    }

    settingsReadBack(panel, settings) {
        if (!settings || typeof settings !== 'object') {
            return;
        }
        panel.loaded = settings;
        for (const field of panel.fields) {
            if (Object.hasOwn(settings, field.name)) {
                field.set(settings[field.name]);
            }
        }
    }

    // Runs one request of a panel, its buttons held meanwhile; shows what it gave or why not.
    async run(panel, doing, work) {
        panel.busy = true;
        panel.root.setAttribute('aria-busy', 'true');
        setButtonsDisabled(panel, true);
        showMessage(panel, doing, false);
        try {
            showMessage(panel, await work(), false);
        } catch (error) {
            const words = error instanceof ApiError ? error.message : `The daemon did not answer (${error.message}).`;
            showMessage(panel, words, true);
        } finally {
            panel.busy = false;
            panel.root.removeAttribute('aria-busy');
            setButtonsDisabled(panel, false);
            showStatus(panel);
        }
    }
}

function roleNote(whoami) {
    return `Signed in as ${whoami.name}, a ${whoami.role}: the settings are shown, not changed.`;
}

function policyNote(policy) {
    switch (policy) {
    case 'all':
        return '';
    case 'read-only':
        return 'The daemon takes read-only commands ([control] commands = "read-only"): the settings are shown, ' +
            'not changed.';
    default:
        return 'The daemon takes no commands ([control] commands = "off"), so the readers\' settings are not ' +
            'shown here.';
    }
}

function showStatus(panel) {
    const state = readerState(panel.status);
    panel.state.className = `badge state-${state.key}`;
    panel.state.textContent = state.words;
    const { start, stop } = panel.buttons;
    if (start && stop && !panel.busy) {
        start.disabled = panel.status.inventory === 'running';
        stop.disabled = panel.status.inventory === 'stopped';
    }
}

function setButtonsDisabled(panel, disabled) {
    for (const button of Object.values(panel.buttons)) {
        button.disabled = disabled;
    }
}

function showMessage(panel, words, failed) {
    panel.message.textContent = words;
    panel.message.classList.toggle('error', failed);
    panel.message.setAttribute('role', failed ? 'alert' : 'status');
}

// One setting: its label, its control by the schema, the range or hint, and a note when the
// configuration file manages it (then it cannot be changed) or when it is only shown.
function makeField(name, value, schema = {}, managedValue = undefined, source = '') {
    const id = `setting-${++fieldCount}`;
    const managed = managedValue !== undefined;
    const editable = !managed && schema.settable !== false && name !== 'reader-kind';
    const control = makeControl(id, value, schema);
    control.name = name;
    control.disabled = !editable;
    const hintText = hintOf(schema);
    const notes = [
        hintText ? el('span', { class: 'hint' }, hintText) : null,
        managed ? el('span', { class: 'managed' }, `managed by the configuration file${source ? ` (${source})` : ''}, which wants ${valueText(managedValue)}`) : null,
        !managed && !editable ? el('span', { class: 'hint' }, 'shown only') : null,
    ].filter(Boolean);
    const describedBy = notes.map((note, i) => {
        note.id = `${id}-note-${i}`;
        return note.id;
    });
    if (describedBy.length) {
        control.setAttribute('aria-describedby', describedBy.join(' '));
    }
    const root = el('div', { class: `field${managed ? ' is-managed' : ''}`, 'data-setting': name },
        el('label', { for: id }, name), control, notes);
    return {
        name,
        root,
        editable,
        text: () => control.value,
        set: (newValue) => setControl(control, newValue),
        // The value to send: a number where the reader's value is one and the text is one.
        value: (loadedValue) => (typeof loadedValue === 'number' && /^-?\d+$/.test(control.value.trim())
            ? Number(control.value.trim()) : control.value),
    };
}

function makeControl(id, value, schema) {
    if (schema.type === 'choice' && Array.isArray(schema.choices)) {
        const select = el('select', { id }, schema.choices.map((choice) => el('option', { value: String(choice) }, String(choice))));
        setControl(select, value);
        return select;
    }
    const numeric = schema.type === 'integer';
    const input = el('input', {
        id,
        type: numeric ? 'number' : 'text',
        min: numeric ? schema.min : null,
        max: numeric ? schema.max : null,
        step: numeric ? 1 : null,
        inputmode: numeric ? 'numeric' : null,
        autocomplete: 'off',
        spellcheck: 'false',
    });
    setControl(input, value);
    return input;
}

// A select gets an option for a value outside its choices, so that what the reader has is shown.
function setControl(control, value) {
    const text = valueText(value);
    if (control instanceof HTMLSelectElement && ![...control.options].some((option) => option.value === text)) {
        control.append(el('option', { value: text }, text));
    }
    control.value = text;
}

function hintOf(schema) {
    const parts = [];
    if (schema.type === 'integer' && schema.min !== undefined && schema.max !== undefined) {
        parts.push(`${schema.min} to ${schema.max}`);
    }
    if (schema.hint) {
        parts.push(String(schema.hint));
    }
    return parts.join(', ');
}
