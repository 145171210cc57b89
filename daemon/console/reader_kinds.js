// What a reader's kind means to an operator: the output power it takes and how its frequency plan
// is given. The daemon says so in a reader's settings schema (the same for every reader of a
// kind), which is asked for once per kind, from the first reader of that kind.
import { getJson, readerPath } from './api.js';

export class KindDescriptions {
    // `learned()` is called once the words of a kind have come.
    constructor(learned) {
        this.learned = learned;
        this.known = new Map(); // kind -> {words, details}, or null while asked or not to be had
    }

    // The words of `kind` for the reader `reader` of that kind; nothing until they have come.
    describe(kind, reader) {
        const key = String(kind);
        if (!this.known.has(key) && reader !== undefined) {
            this.known.set(key, null);
            this.ask(key, reader);
        }
        return this.known.get(key) ?? null;
    }

    async ask(key, reader) {
        try {
            this.known.set(key, kindMeaning(await getJson(readerPath(reader, 'settings', 'schema'))));
            this.learned();
        } catch {
            this.known.delete(key); // asked again with the next status
        }
    }
}

// From the schema: {"power":{"min":0,"max":33},"frequency":{"hint":…}} or {"channels":{"hint":…}}.
export function kindMeaning(schema) {
    const power = schema?.power;
    const powerWords = Number.isInteger(power?.min) && Number.isInteger(power?.max)
        ? `power ${power.min}–${power.max}` : 'no power setting';
    const plan = schema?.channels ? 'numbered frequency channels'
        : schema?.frequency ? 'frequency band in kHz' : 'no frequency plan';
    const hints = [schema?.frequency?.hint, schema?.channels?.hint].filter(Boolean);
    return { words: `${powerWords}, ${plan}`, details: hints.join('; ') || plan };
}
