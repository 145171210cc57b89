// Builds elements. Text from the daemon and its readers goes in as text nodes only, never as
// markup, so that an EPC, a reader name or an error's words can never become part of the page.

// el('td', {class: 'epc'}, text, child...): attributes are set as values (text, never parsed),
// functions under "on..." names become listeners, null/undefined/false leave an attribute out.
// Anything but a function under an "on..." name is refused: as an attribute it would be a script.
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

// Keeps `parts` (a Map from a name to an object with its element as `root`) to one part per name
// of `names`, in their order in `container`: `make(name)` makes the part of a name new to it (and
// puts it in the map), and the part of a name no longer listed goes, its element too.
export function followNames(parts, names, make, container) {
    const wanted = new Set(names);
    for (const [name, part] of parts) {
        if (!wanted.has(name)) {
            part.root.remove();
            parts.delete(name);
        }
    }
    const ordered = names.map((name) => parts.get(name) ?? make(name));
    const inOrder = ordered.every((part, i) => container.children[i] === part.root);
    if (!inOrder) {
        container.append(...ordered.map((part) => part.root));
    }
    return ordered;
}

function isHandlerName(name) {
    return name.toLowerCase().startsWith('on');
}

function setAttributes(node, attributes) {
    for (const [name, value] of Object.entries(attributes)) {
        if (isHandlerName(name)) {
            if (typeof value !== 'function') {
                throw new TypeError(`${name} takes a function, not ${typeof value}`);
            }
            node.addEventListener(name.slice(2).toLowerCase(), value);
        } else if (value !== undefined && value !== null && value !== false) {
            node.setAttribute(name, value === true ? '' : String(value));
        }
    }
}

function textsAndNodes(children) {
    return children.flat(Infinity)
        .filter((child) => child !== null && child !== undefined && child !== false)
        .map((child) => (child instanceof Node ? child : document.createTextNode(String(child))));
}

// The options after the first ("every ..."): one per value, in their order; the chosen one stays.
export function followOptions(select, values) {
    const chosen = select.value;
    const wanted = chosen && !values.includes(chosen) ? [...values, chosen] : values;
    const have = [...select.options].slice(1).map((option) => option.value);
    if (have.length === wanted.length && have.every((value, i) => value === wanted[i])) {
        return;
    }
    select.replaceChildren(select.options[0], ...wanted.map((value) => el('option', { value }, value)));
    select.value = chosen;
}
