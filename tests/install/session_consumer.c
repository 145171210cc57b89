/* A program on the installed session API, as the README shows it: opens the first USB reader (the
 * virtual reader's socket comes from ZENDRIK_HID_SOCKET), runs an inventory and prints the first
 * read as its JSON line. */
#include <stdio.h>
#include <zendrik_session.h>

enum { WAIT_MS = 1000, MOST_EVENTS = 100 };

int main(void) {
    zendrik_reader *reader = NULL;
    int32_t result = zendrik_reader_open("usb", NULL, &reader);
    if (result != ZENDRIK_OK) {
        fprintf(stderr, "session consumer: %s\n", zendrik_result_text(result));
        return 1;
    }
    zendrik_inventory_start(reader, NULL, NULL, NULL);
    for (int taken = 0; taken < MOST_EVENTS; ++taken) {
        zendrik_event event;
        char line[512];
        if (zendrik_next_event(reader, &event, sizeof event, WAIT_MS) != ZENDRIK_OK) {
            break;
        }
        if (event.kind == ZENDRIK_EVENT_READ && zendrik_event_json(&event, line, sizeof line, NULL) == ZENDRIK_OK) {
            puts(line);
            zendrik_reader_close(reader);
            return 0;
        }
    }
    zendrik_reader_close(reader);
    fprintf(stderr, "session consumer: no read\n");
    return 1;
}
