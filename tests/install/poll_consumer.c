/* Two readers in one thread, as the README shows it: each reader's identity is asked and its
 * inventory started without waiting for either, then one poll() watches both event descriptors
 * and prints each reader's version and its first three reads as JSON lines. */
#include <poll.h>
#include <stdio.h>
#include <zendrik_session.h>

enum { READERS = 2, READS = 3, BATCH = 16, QUIET_MS = 5000 };

/* cc two_readers.c $(pkg-config --cflags --libs zendrik); ./a.out usb udp:192.168.1.250:2000 */
int main(int argc, char** argv) {
    zendrik_reader* readers[READERS] = {NULL, NULL};
    struct pollfd watched[READERS];
    int reads[READERS] = {0, 0};
    if (argc != READERS + 1) {
        fprintf(stderr, "usage: %s ADDRESS ADDRESS\n", argv[0]);
        return 2;
    }
    for (int i = 0; i < READERS; i++) {
        zendrik_request request;
        int32_t result = zendrik_reader_open(argv[i + 1], NULL, &readers[i]);
        if (result != ZENDRIK_OK) {
            fprintf(stderr, "%s: %s\n", argv[i + 1], zendrik_result_text(result));
            return 1;
        }
        zendrik_request_init(&request, ZENDRIK_REQUEST_INFO); /* queued: returns at once */
        zendrik_reader_submit(readers[i], &request, NULL);
        zendrik_request_init(&request, ZENDRIK_REQUEST_INVENTORY_START);
        zendrik_reader_submit(readers[i], &request, NULL);
        watched[i].fd = zendrik_reader_event_fd(readers[i]);
        watched[i].events = POLLIN;
    }
    while ((reads[0] < READS || reads[1] < READS) && poll(watched, READERS, QUIET_MS) > 0) {
        for (int i = 0; i < READERS; i++) {
            zendrik_event events[BATCH];
            size_t got = 0;
            if (!(watched[i].revents & POLLIN) ||
                zendrik_next_events(readers[i], events, sizeof events[0], BATCH, &got, 0) != ZENDRIK_OK) {
                continue;
            }
            for (size_t e = 0; e < got; e++) {
                char line[512];
                if (events[e].kind == ZENDRIK_EVENT_COMPLETED && events[e].request == ZENDRIK_REQUEST_INFO) {
                    printf("%s: %s\n", zendrik_reader_id(readers[i]), events[e].info.version);
                } else if (events[e].kind == ZENDRIK_EVENT_READ && reads[i] < READS &&
                           zendrik_event_json(&events[e], line, sizeof line, NULL) == ZENDRIK_OK) {
                    puts(line);
                    reads[i]++;
                }
            }
        }
    }
    for (int i = 0; i < READERS; i++) {
        zendrik_reader_close(readers[i]); /* stops the inventory and says goodbye */
    }
    return reads[0] == READS && reads[1] == READS ? 0 : 1;
}
