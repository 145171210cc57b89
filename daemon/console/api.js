// The daemon's HTTP API: JSON requests with the access token, and the address of the event
// stream. A refused token (401) asks for it and tries again. Every request says it comes from
// the console, so that the audit trail tells the console's commands from the API's.
import { askToken, storedToken } from './token.js';

const httpUnauthorized = 401;

// A request the daemon answered with an error: `status` and its words.
export class ApiError extends Error {
    constructor(status, words) {
        super(words);
        this.status = status;
    }
}

export async function getJson(path) {
    return request('GET', path);
}

export async function putJson(path, body) {
    return request('PUT', path, body);
}

export async function post(path) {
    return request('POST', path);
}

// /api/v1/events with the token as a query parameter: an EventSource cannot send headers.
export function eventStreamUrl() {
    const token = storedToken();
    return token ? `/api/v1/events?token=${encodeURIComponent(token)}` : '/api/v1/events';
}

export function readerPath(name, ...rest) {
    return ['/api/v1/readers', encodeURIComponent(name), ...rest].join('/');
}

async function request(method, path, body) {
    for (;;) {
        const token = storedToken();
        const headers = { Accept: 'application/json', 'X-Zendrik-Client': 'console' };
        if (token) {
            headers.Authorization = `Bearer ${token}`;
        }
        if (body !== undefined) {
            headers['Content-Type'] = 'application/json';
        }
        const response = await fetch(path, {
            method,
            headers,
            body: body === undefined ? undefined : JSON.stringify(body),
            cache: 'no-store',
        });
        if (response.status === httpUnauthorized) {
            await askToken(token !== '');
            continue;
        }
        const answer = await answerOf(response);
        if (!response.ok) {
            throw new ApiError(response.status, wordsOf(answer, response));
        }
        return answer;
    }
}

async function answerOf(response) {
    const text = await response.text();
    if (!text) {
        return null;
    }
    try {
        return JSON.parse(text);
    } catch {
        return text;
    }
}

function wordsOf(answer, response) {
    if (answer && typeof answer === 'object' && answer.error) {
        return String(answer.error);
    }
    if (typeof answer === 'string' && answer.trim()) {
        return answer.trim();
    }
    return `the daemon answered ${response.status} ${response.statusText}`.trim();
}
