/* Prints the layout of every public struct as the C compiler lays it out, one line per field
 * ("STRUCT FIELD OFFSET SIZE") and one per struct ("STRUCT - 0 SIZE"), for the Python package's
 * ctypes structures to be checked against. */
#include <stddef.h>
#include <stdio.h>

#include "zendrik_session.h"

#define FIELD(type, field) \
    printf("%s %s %zu %zu\n", #type, #field, offsetof(type, field), sizeof(((type*)0)->field))
#define WHOLE(type) printf("%s - 0 %zu\n", #type, sizeof(type))

int main(void) {
    WHOLE(zendrik_open_options);
    FIELD(zendrik_open_options, size);
    FIELD(zendrik_open_options, name);
    FIELD(zendrik_open_options, flags);

    WHOLE(zendrik_reader_info);
    FIELD(zendrik_reader_info, size);
    FIELD(zendrik_reader_info, kind);
    FIELD(zendrik_reader_info, low_value);
    FIELD(zendrik_reader_info, version);
    FIELD(zendrik_reader_info, serial);

    WHOLE(zendrik_settings);
    FIELD(zendrik_settings, size);
    FIELD(zendrik_settings, buzzer);
    FIELD(zendrik_settings, work_mode);
    FIELD(zendrik_settings, trigger_time);
    FIELD(zendrik_settings, wiegand_interval);
    FIELD(zendrik_settings, output);
    FIELD(zendrik_settings, wiegand_format);
    FIELD(zendrik_settings, password_check);
    FIELD(zendrik_settings, password);
    FIELD(zendrik_settings, read_interval);
    FIELD(zendrik_settings, power);
    FIELD(zendrik_settings, address);
    FIELD(zendrik_settings, region);
    FIELD(zendrik_settings, span);
    FIELD(zendrik_settings, first);
    FIELD(zendrik_settings, second);
    FIELD(zendrik_settings, step);

    WHOLE(zendrik_inventory_options);
    FIELD(zendrik_inventory_options, size);
    FIELD(zendrik_inventory_options, absence_ms);
    FIELD(zendrik_inventory_options, queue_capacity);

    WHOLE(zendrik_event);
    FIELD(zendrik_event, kind);
    FIELD(zendrik_event, reader);
    FIELD(zendrik_event, seq);
    FIELD(zendrik_event, time_ms);
    FIELD(zendrik_event, epc);
    FIELD(zendrik_event, epc_length);
    FIELD(zendrik_event, card);
    FIELD(zendrik_event, count);
    FIELD(zendrik_event, first_seen_ms);
    FIELD(zendrik_event, last_seen_ms);
    FIELD(zendrik_event, antenna);
    FIELD(zendrik_event, rssi);
    FIELD(zendrik_event, error);
    FIELD(zendrik_event, round_us);
    FIELD(zendrik_event, request_id);
    FIELD(zendrik_event, request);
    FIELD(zendrik_event, result);
    FIELD(zendrik_event, info);
    FIELD(zendrik_event, settings);
    FIELD(zendrik_event, json);
    FIELD(zendrik_event, message);
    FIELD(zendrik_event, cut);
    FIELD(zendrik_event, json_length);

    WHOLE(zendrik_request);
    FIELD(zendrik_request, size);
    FIELD(zendrik_request, kind);
    FIELD(zendrik_request, assignments);
    FIELD(zendrik_request, assignment_count);
    FIELD(zendrik_request, settings);
    FIELD(zendrik_request, inventory);
    return 0;
}
