/* A caller built against the first release's zendrik_session.h (the copy beside this file), as a
 * program compiled then runs against today's library: its smaller structs must work, and nothing
 * may be written past them. */
#include <stdio.h>
#include <string.h>

#include "zendrik_session.h"

enum { GUARD_BYTES = 64, GUARD = 0xA5, WAIT_MS = 5000, MOST_EVENTS = 100 };

/* A struct of the first release's layout with bytes after it that the library must leave alone. */
struct guarded_event {
    zendrik_event event;
    unsigned char guard[GUARD_BYTES];
};

static int untouched(const unsigned char *guard) {
    for (int i = 0; i < GUARD_BYTES; i++) {
        if (guard[i] != GUARD) {
            return 0;
        }
    }
    return 1;
}

static int failed(char *report, size_t size, const char *what, int32_t result) {
    snprintf(report, size, "%s: %d (%s)", what, (int)result, zendrik_result_text(result));
    return 1;
}

/* 0 when every call worked with the old layouts; otherwise 1 and what failed in `report`. */
int zendrik_v1_caller_run(const char *address, char *report, size_t size) {
    zendrik_open_options options;
    zendrik_reader *reader = NULL;
    zendrik_reader_info info;
    zendrik_settings settings;
    struct guarded_event read;
    int32_t result;
    report[0] = '\0';
    zendrik_open_options_init(&options);
    options.name = "old";
    if ((result = zendrik_reader_open(address, &options, &reader)) != ZENDRIK_OK) {
        return failed(report, size, "open", result);
    }
    memset(&info, 0, sizeof info);
    info.size = sizeof info;
    if ((result = zendrik_reader_info_get(reader, &info)) != ZENDRIK_OK || info.serial[0] == '\0') {
        zendrik_reader_close(reader);
        return failed(report, size, "info", result);
    }
    memset(&settings, 0, sizeof settings);
    settings.size = sizeof settings;
    if ((result = zendrik_reader_read_settings(reader, &settings)) != ZENDRIK_OK || settings.power == 0) {
        zendrik_reader_close(reader);
        return failed(report, size, "settings", result);
    }
    memset(&read, GUARD, sizeof read);
    if ((result = zendrik_reader_read_tag(reader, &read.event, sizeof read.event)) != ZENDRIK_OK ||
        read.event.kind != ZENDRIK_EVENT_READ || !untouched(read.guard)) {
        zendrik_reader_close(reader);
        return failed(report, size, "read_tag", result);
    }
    if ((result = zendrik_inventory_start(reader, NULL, NULL, NULL)) != ZENDRIK_OK) {
        zendrik_reader_close(reader);
        return failed(report, size, "inventory_start", result);
    }
    for (int taken = 0; taken < MOST_EVENTS; taken++) {
        memset(&read, GUARD, sizeof read);
        if ((result = zendrik_next_event(reader, &read.event, sizeof read.event, WAIT_MS)) != ZENDRIK_OK) {
            break;
        }
        if (!untouched(read.guard)) {
            zendrik_reader_close(reader);
            return failed(report, size, "next_event wrote past the event", result);
        }
        if (read.event.kind == ZENDRIK_EVENT_READ && strcmp(read.event.reader, "old") == 0 &&
            read.event.epc_length > 0) {
            zendrik_reader_close(reader);
            return 0;
        }
    }
    zendrik_reader_close(reader);
    return failed(report, size, "no read came", result);
}
