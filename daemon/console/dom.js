// Builds elements. Text from the daemon and its readers goes in as text nodes only, never as
// markup, so that an EPC, a reader name or an error's words can never become part of the page.

// el('td', {class: 'epc'}, text, child...): attributes are set as strings, functions under
// "on..." names become listeners, null/undefined/false leave an attribute out.
export function el(tag, attributes = {}, ...children) {
    const node = document.createElement(tag);
    setAttributes(node, attributes);
    node.append(...textsAndNodes(children));
    return node;
}

// The SVG namespace as the page's own parser gives it to an <svg> element, so that the page never
// spells out an address.
const svgNamespace = new DOMParser().parseFromString('<svg></svg>', 'text/html').body.firstChild.namespaceURI;

// An SVG element (the sparklines), with the same attribute rules as el().
export function svg(tag, attributes = {}) {
    const node = document.createElementNS(svgNamespace, tag);
    setAttributes(node, attributes);
    return node;
}

// Replaces the content of `node` with the given texts and nodes.
export function fill(node, ...children) {
    node.replaceChildren(...textsAndNodes(children));
    return node;
}

function setAttributes(node, attributes) {
    for (const [name, value] of Object.entries(attributes)) {
        if (value === undefined || value === null || value === false) {
            continue;
        }
        if (name.startsWith('on') && typeof value === 'function') {
            node.addEventListener(name.slice(2), value);
        } else {
            node.setAttribute(name, value === true ? '' : String(value));
        }
    }
}

function textsAndNodes(children) {
    return children.flat(Infinity)
        .filter((child) => child !== null && child !== undefined && child !== false)
        .map((child) => (child instanceof Node ? child : document.createTextNode(String(child))));
}
