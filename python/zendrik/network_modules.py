"""The search for readers' network modules on the local network."""

from __future__ import annotations

import ctypes

from . import _native


def discover() -> list[dict[str, str]]:
    """Finds the readers' network modules, as ``zendrik discover`` does.

    This sends UDP broadcasts on the local network (from 192.168.1.54 port 2000 to
    255.255.255.255 port 5000) and waits about a second for the last answer. Returns one
    dict per module that answered, with its 6-byte id as hex and the address it answered
    from: ``[{"id": "5a44524b0001", "address": "192.168.1.100"}]``; an empty list when none
    did. Other failures raise ReaderError.
    """
    records = (_native.U8 * (_native.MAX_MODULES * _native.MODULE_RECORD_BYTES))()
    count = _native.I32()
    result = _native.library().FindDevice(records, ctypes.byref(count))
    if result == _native.ERR_NOT_REACHED:
        return []
    if result != _native.OK:
        raise _native.failure(result, f"the search for network modules failed: {_native.result_text(result)}")
    found = min(max(count.value, 0), _native.MAX_MODULES)
    modules = []
    for index in range(found):
        start = index * _native.MODULE_RECORD_BYTES
        record = bytes(records[start : start + _native.MODULE_RECORD_BYTES])
        module_id = record[: _native.MODULE_ID_BYTES]
        octets = record[_native.MODULE_ID_BYTES :]
        modules.append({"id": module_id.hex(), "address": ".".join(str(octet) for octet in octets)})
    return modules
