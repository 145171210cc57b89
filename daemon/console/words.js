// The words the page shows for the daemon's states and events. Every state shown in colour is
// shown in one of these words as well, so that it reads without colour.

// What a reader is doing, from its status: the link, and whether its inventory runs.
export function readerState(status) {
    if (status.state === 'link-lost') {
        return { key: 'link-lost', words: 'link lost' };
    }
    if (status.state === 'offline') {
        return { key: 'offline', words: 'offline' };
    }
    if (status.inventory === 'stopped') {
        return { key: 'stopped', words: 'stopped' };
    }
    if (status.state === 'online') {
        return { key: 'online', words: 'online' };
    }
    return { key: 'unknown', words: status.state ? String(status.state) : 'unknown' };
}

const settingsWords = {
    'in-sync': 'in sync',
    drifted: 'drifted',
    applying: 'applying',
    unmanaged: 'unmanaged',
};

export function settingsState(status) {
    const key = String(status.settings ?? 'unmanaged');
    return { key, words: settingsWords[key] ?? key };
}

// {"power":{"want":26,"have":33}} as lines: "power: wants 26, has 33".
export function differenceLines(differences, profile = undefined) {
    if (!differences || typeof differences !== 'object') {
        return [];
    }
    return Object.entries(differences).map(([name, difference]) => {
        const source = sourceText(difference?.source, profile);
        return `${name}: wants ${valueText(difference?.want)}${source ? ` (${source})` : ''}, ` +
            `has ${valueText(difference?.have)}`;
    });
}

// Where a declared value comes from ("source" of the payloads), in words; '' when not said.
export function sourceText(source, profile = undefined) {
    switch (source) {
    case 'profile':
        return profile ? `from profile ${profile}` : 'from its profile';
    case 'reader':
        return 'from the reader\'s own settings';
    default:
        return '';
    }
}

// {"power":26,"buzzer":"off"} as "power 26, buzzer off".
export function assignmentsText(values) {
    if (!values || typeof values !== 'object') {
        return '';
    }
    return Object.entries(values).map(([name, value]) => `${name} ${valueText(value)}`).join(', ');
}

export function valueText(value) {
    if (value === undefined || value === null) {
        return '–';
    }
    return typeof value === 'object' ? JSON.stringify(value) : String(value);
}

// What an event says beyond its kind and reader, in one line.
export function eventDetails(event) {
    switch (event.event) {
    case 'read':
        return [tagText(event), `read ${valueText(event.count)}×`,
            event.antenna != null ? `antenna ${event.antenna}` : null,
            event.rssi != null ? `signal ${event.rssi}` : null].filter(Boolean).join(' · ');
    case 'arrived':
    case 'departed':
        return [tagText(event), `read ${valueText(event.count)}×`].join(' · ');
    case 'settings-drift':
        return differenceLines(event.differences).join('; ');
    case 'settings-applied':
        return `wrote ${assignmentsText(event.written)}`;
    case 'zone-entered':
    case 'zone-left':
        return [`zone ${valueText(event.zone)}`, tagText(event), event.reason ?? null]
            .filter(Boolean).join(' · ');
    case 'passage':
        return [`door ${valueText(event.door)}`, valueText(event.direction), tagText(event)].join(' · ');
    default:
        return event.error ? String(event.error) : '';
    }
}

function tagText(event) {
    return `EPC ${valueText(event.epc)}, card ${valueText(event.card)}`;
}

// "14:03:07" in the browser's time zone, for a UTC ISO 8601 time; the text itself if unreadable.
export function clockTime(iso) {
    const time = new Date(iso);
    if (Number.isNaN(time.getTime())) {
        return valueText(iso);
    }
    return time.toLocaleTimeString([], { hour: '2-digit', minute: '2-digit', second: '2-digit', hour12: false });
}

export function rateText(perSecond) {
    if (perSecond === null || perSecond === undefined) {
        return '–';
    }
    return perSecond >= 10 ? perSecond.toFixed(0) : perSecond.toFixed(1);
}
