// The public structs are part of the library's binary interface: a program built against an
// earlier header passes them with that header's layout. Every offset and size is pinned here, so
// that a change which would move a field (instead of adding one at the end) cannot compile.
#include <cstddef>

#include "exports/sized_structs.h"
#include "zendrik/zendrik_session.h"

namespace zendrik::exports {
namespace {

#define ZENDRIK_AT(type, field, offset) \
    static_assert(offsetof(type, field) == (offset), #type "." #field " moved")
#define ZENDRIK_SIZE(type, size) static_assert(sizeof(type) == (size), #type " changed its size")

ZENDRIK_AT(zendrik_reader_info, kind, 4);
ZENDRIK_AT(zendrik_reader_info, low_value, 8);
ZENDRIK_AT(zendrik_reader_info, version, 12);
ZENDRIK_AT(zendrik_reader_info, serial, 116);
ZENDRIK_SIZE(zendrik_reader_info, 220);

ZENDRIK_AT(zendrik_settings, buzzer, 4);
ZENDRIK_AT(zendrik_settings, work_mode, 5);
ZENDRIK_AT(zendrik_settings, trigger_time, 6);
ZENDRIK_AT(zendrik_settings, wiegand_interval, 7);
ZENDRIK_AT(zendrik_settings, output, 8);
ZENDRIK_AT(zendrik_settings, wiegand_format, 12);
ZENDRIK_AT(zendrik_settings, password_check, 13);
ZENDRIK_AT(zendrik_settings, password, 14);
ZENDRIK_AT(zendrik_settings, read_interval, 18);
ZENDRIK_AT(zendrik_settings, power, 19);
ZENDRIK_AT(zendrik_settings, address, 20);
ZENDRIK_AT(zendrik_settings, region, 21);
ZENDRIK_AT(zendrik_settings, span, 22);
ZENDRIK_AT(zendrik_settings, first, 24);
ZENDRIK_AT(zendrik_settings, second, 28);
ZENDRIK_AT(zendrik_settings, step, 32);
ZENDRIK_SIZE(zendrik_settings, 36);

ZENDRIK_AT(zendrik_inventory_options, absence_ms, 4);
ZENDRIK_AT(zendrik_inventory_options, queue_capacity, 8);
ZENDRIK_SIZE(zendrik_inventory_options, 12);

// The first release's event, then what was added at its end.
ZENDRIK_AT(zendrik_event, reader, 4);
ZENDRIK_AT(zendrik_event, seq, 72);
ZENDRIK_AT(zendrik_event, time_ms, 80);
ZENDRIK_AT(zendrik_event, epc, 88);
ZENDRIK_AT(zendrik_event, epc_length, 152);
ZENDRIK_AT(zendrik_event, card, 156);
ZENDRIK_AT(zendrik_event, count, 192);
ZENDRIK_AT(zendrik_event, first_seen_ms, 200);
ZENDRIK_AT(zendrik_event, last_seen_ms, 208);
ZENDRIK_AT(zendrik_event, antenna, 216);
ZENDRIK_AT(zendrik_event, rssi, 220);
ZENDRIK_AT(zendrik_event, error, 224);
ZENDRIK_AT(zendrik_event, round_us, 228);  // in the first release's tail padding
ZENDRIK_AT(zendrik_event, request_id, ZENDRIK_EVENT_FIRST_SIZE);
ZENDRIK_AT(zendrik_event, request, 240);
ZENDRIK_AT(zendrik_event, result, 244);
ZENDRIK_AT(zendrik_event, info, 248);
ZENDRIK_AT(zendrik_event, settings, 468);
ZENDRIK_AT(zendrik_event, json, 504);
ZENDRIK_AT(zendrik_event, message, 1528);
ZENDRIK_AT(zendrik_event, cut, 1784);
ZENDRIK_AT(zendrik_event, json_length, 1788);
ZENDRIK_SIZE(zendrik_event, 1792);

// Structs that hold pointers, pinned for the 64-bit ABIs the library is built for.
#if UINTPTR_MAX == UINT64_MAX
ZENDRIK_AT(zendrik_open_options, name, 8);
ZENDRIK_AT(zendrik_open_options, flags, 16);
ZENDRIK_SIZE(zendrik_open_options, 24);

ZENDRIK_AT(zendrik_request, kind, 4);
ZENDRIK_AT(zendrik_request, assignments, 8);
ZENDRIK_AT(zendrik_request, assignment_count, 16);
ZENDRIK_AT(zendrik_request, settings, 24);
ZENDRIK_AT(zendrik_request, inventory, 32);
ZENDRIK_SIZE(zendrik_request, 40);
#endif

// The least sizes the library takes are those of the first release.
static_assert(kReaderInfoFirstSize == sizeof(zendrik_reader_info));
static_assert(kSettingsFirstSize == sizeof(zendrik_settings));
static_assert(kInventoryOptionsFirstSize == sizeof(zendrik_inventory_options));

#undef ZENDRIK_AT
#undef ZENDRIK_SIZE

}  // namespace
}  // namespace zendrik::exports
