// The daemon's access token ([http] token, or one of [[http.token]]): asked for once, when the
// daemon first answers 401, and kept in the session storage so that a reload does not ask again.
// Several requests refused at once share one question.

const storageKey = 'zendrik-console-token';
let question = null;

export function storedToken() {
    return sessionStorage.getItem(storageKey) ?? '';
}

// Forgets the token, so that the next request asks for one (another holder signing in).
export function forgetToken() {
    sessionStorage.removeItem(storageKey);
}

// Asks for the token; resolves once one has been entered and stored. `refused`: the stored one
// was sent and refused.
export function askToken(refused) {
    if (!question) {
        question = showDialog(refused).finally(() => {
            question = null;
        });
    }
    return question;
}

function showDialog(refused) {
    const dialog = document.getElementById('token-dialog');
    const form = document.getElementById('token-form');
    const input = document.getElementById('token-input');
    const reason = document.getElementById('token-reason');
    reason.textContent = refused
        ? 'The daemon refused that token. Enter an access token of its configuration ([http] token or a file of ' +
            '[[http.token]]).'
        : 'This daemon asks for an access token of its configuration ([http] token or a file of [[http.token]]).';
    input.value = '';
    return new Promise((resolve) => {
        const submitted = (event) => {
            event.preventDefault();
            const token = input.value.trim();
            if (!token) {
                input.focus();
                return;
            }
            sessionStorage.setItem(storageKey, token);
            form.removeEventListener('submit', submitted);
            dialog.close();
            resolve(token);
        };
        form.addEventListener('submit', submitted);
        // Without a token nothing can be shown, so the question cannot be dismissed.
        dialog.addEventListener('cancel', (event) => event.preventDefault(), { once: true });
        dialog.showModal();
        input.focus();
    });
}
