/* The first release's session header (version 1.0.0), kept as it was for the old-layout caller beside it. */
/*
 * zendrik sessions: one handle per reader, continuous reading with presence events, reconnect.
 *
 * Beside the flat API of zendrik.h, whose one module-wide link it leaves alone, this header gives
 * each reader its own handle with its own link. Every function returns ZENDRIK_OK (0) or a result
 * code of zendrik.h or of this header; zendrik_result_text() turns any of them into words.
 *
 * Reader addresses
 *   usb                          the first USB reader found (ZENDRIK_HID_SOCKET is honoured)
 *   usb:PATH                     that hidraw node, or that virtual HID socket
 *   serial:DEVICE[?baud=N]       DEVICE a path or COM1..COM20 (see GetComDevicePath); N default 115200
 *   udp:HOST:PORT[?local=HOST:PORT]
 *                                the reader at HOST:PORT (dotted IPv4); the local end defaults to any
 *                                address and a port the system picks
 * An address that does not parse is refused with ZENDRIK_ERR_BAD_ADDRESS before any I/O.
 *
 * Threading
 *   Different handles are independent and may be used from different threads at once. Calls on
 *   one handle are serialised by the handle: they may come from any thread, and a call made while
 *   an inventory runs waits for the current inventory round and then runs between two rounds.
 *   zendrik_reader_close() must not race any other call on the same handle.
 *
 * Inventory and events
 *   zendrik_inventory_start() starts a library thread that reads tags continuously and turns them
 *   into events: read, arrived, departed, link-lost and link-restored, numbered per handle from 1
 *   without gaps. Events reach the caller either through a callback (called on the library thread,
 *   never with a library lock held) or through a bounded queue read with zendrik_next_event(). When
 *   the queue is full the oldest event is dropped and counted (zendrik_inventory_dropped()).
 *   From inside the callback the blocking calls (zendrik_next_event, zendrik_reader_close, the
 *   reader operations) return ZENDRIK_ERR_IN_CALLBACK; zendrik_inventory_stop() may be called and
 *   takes effect once the callback returns. After zendrik_inventory_stop() returns (outside a
 *   callback) no callback runs any more.
 *
 *   When the link fails the inventory reports link-lost and reconnects with a back-off of 100 ms
 *   doubling to 5 s (with jitter); on success it reads again what the card numbers depend on and
 *   reports link-restored. Tags not read for the absence time depart whether the link is up or not.
 *
 *   The link counts as lost at once when there is nothing left to send on (the USB device or the
 *   serial port has gone: ZENDRIK_ERR_NOT_REACHED), and otherwise after three rounds in a row
 *   without a valid answer (a silent reader, a network that dropped out), so that one lost
 *   datagram does not tear it down; an answer without a tag keeps it up. Each round is one tag
 *   read (command 0xF6), which brings one tag with its antenna and signal strength; after a round
 *   without a tag the next starts 50 ms after it began, so an empty field costs little.
 */
#ifndef ZENDRIK_SESSION_H
#define ZENDRIK_SESSION_H

#include <stddef.h>
#include <stdint.h>

#include "zendrik.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of the session layer, beside those of zendrik.h. */
enum {
    ZENDRIK_NO_EVENT = 2,                 /* zendrik_next_event: the time-out passed, no event */
    ZENDRIK_NO_TAG = 3,                   /* zendrik_reader_read_tag: the reader answered, no tag in its field */
    ZENDRIK_ERR_BAD_ADDRESS = -201,       /* the reader address does not parse */
    ZENDRIK_ERR_INVALID_ARGUMENT = -202,  /* a null pointer, a struct size too small, a value out of range */
    ZENDRIK_ERR_IN_CALLBACK = -203,       /* a blocking call from inside an event callback */
    ZENDRIK_ERR_BUSY = -204,              /* an inventory runs already (start), or blocks what was asked */
    ZENDRIK_ERR_NOT_RUNNING = -205,       /* zendrik_next_event: no inventory runs and no event is queued */
    ZENDRIK_ERR_TOO_SMALL = -206,         /* the caller's text buffer is too small; *length says how much */
    ZENDRIK_ERR_NO_MEMORY = -207          /* the library could not allocate */
};

/* Words for any result code of zendrik.h or this header, without the number: "no USB reader was
 * found". Never NULL; an unknown code gives "unknown result". The text is static. */
ZENDRIK_API const char *zendrik_result_text(int32_t code);

/* Checks a reader address without opening it. On ZENDRIK_ERR_BAD_ADDRESS and a non-null `why`,
 * writes the reason as a NUL-terminated text, cut to `why_size`. */
ZENDRIK_API int32_t zendrik_address_check(const char *address, char *why, size_t why_size);

/* ---- Reader handles ---------------------------------------------------------------------------- */

typedef struct zendrik_reader zendrik_reader;

#define ZENDRIK_READER_ID_CAPACITY 64 /* reader ids are at most 63 bytes plus the NUL */

/* zendrik_reader_open() flags. */
enum {
    /* Open succeeds even when the reader does not answer (`name` is then required): the handle
     * connects on its first operation, and an inventory started on it begins with link-lost and
     * connects as soon as the reader answers. */
    ZENDRIK_OPEN_ABSENT_OK = 1u << 0
};

typedef struct {
    uint32_t size;     /* sizeof(zendrik_open_options); set by zendrik_open_options_init */
    const char *name;  /* the reader id; NULL: the serial number the reader reports, as hex text */
    uint32_t flags;    /* ZENDRIK_OPEN_* */
} zendrik_open_options;

ZENDRIK_API void zendrik_open_options_init(zendrik_open_options *options);

/* Opens the link an address names, greets the reader (handshake) and reads its serial number for
 * the id. `options` may be NULL (defaults). On success *reader holds a new handle. */
ZENDRIK_API int32_t zendrik_reader_open(const char *address, const zendrik_open_options *options,
                                        zendrik_reader **reader);

/* Stops a running inventory, says goodbye to the reader (handshake 0), closes the link and frees
 * the handle. NULL is accepted. ZENDRIK_ERR_IN_CALLBACK (and nothing done) from inside a callback. */
ZENDRIK_API int32_t zendrik_reader_close(zendrik_reader *reader);

/* The reader id: the name given at open, or the serial number as 24 lower-case hex digits. Valid
 * until the handle is closed. */
ZENDRIK_API const char *zendrik_reader_id(const zendrik_reader *reader);

/* The address the handle was opened with, as given. */
ZENDRIK_API const char *zendrik_reader_address(const zendrik_reader *reader);

/* ---- Identity ---------------------------------------------------------------------------------- */

#define ZENDRIK_TEXT_CAPACITY 104 /* identity texts: 50 reader bytes, escaped when unprintable */

typedef struct {
    uint32_t size;                        /* sizeof(zendrik_reader_info); set by the caller */
    int32_t kind;                         /* reader kind 0, 1 or 2 from the handshake */
    int32_t low_value;                    /* the handshake's low value */
    char version[ZENDRIK_TEXT_CAPACITY];  /* version bytes up to the first zero; unprintable as \xNN */
    char serial[ZENDRIK_TEXT_CAPACITY];   /* the first 12 serial number bytes as lower-case hex, no "SN:" */
} zendrik_reader_info;

/* Reads kind, version and serial number from the reader. A version whose escapes do not fit the
 * text is cut before the first that does not, never inside one. */
ZENDRIK_API int32_t zendrik_reader_info_get(zendrik_reader *reader, zendrik_reader_info *info);

/* ---- Settings ---------------------------------------------------------------------------------- */

typedef struct {
    uint32_t size;             /* sizeof(zendrik_settings); set by the caller */
    uint8_t buzzer;            /* 1 on, 0 off */
    uint8_t work_mode;         /* the reader's work mode code */
    uint8_t trigger_time;      /* seconds */
    uint8_t wiegand_interval;  /* units of 100 ms */
    uint8_t output[4];         /* Wiegand output: enable, start byte, byte count, inverted flag */
    uint8_t wiegand_format;    /* 0x26 or 0x34 */
    uint8_t password_check;
    uint8_t password[4];
    uint8_t read_interval;     /* seconds */
    uint8_t power;
    uint8_t address;
    uint8_t region;            /* frequency plan, as UhfGetFrequencyRegion reports it */
    uint8_t span;
    int32_t first;
    int32_t second;
    int32_t step;
} zendrik_settings;

/* Reads every setting, in the order the configuration tool reads them. */
ZENDRIK_API int32_t zendrik_reader_read_settings(zendrik_reader *reader, zendrik_settings *settings);

/* Writes every setting in the configuration tool's order and reads them back: ZENDRIK_ERR_VERIFY
 * when the reader keeps another value. Values outside the tool's ranges for the reader's kind are
 * refused with ZENDRIK_ERR_INVALID_ARGUMENT before anything is written. */
ZENDRIK_API int32_t zendrik_reader_write_settings(zendrik_reader *reader, const zendrik_settings *settings);

/* Changes settings by name, as `zendrik set` does: each assignment "NAME=VALUE" with the names and
 * values of `zendrik config --json` ("power=20", "buzzer=off", "work-mode=trigger"). Checked as a
 * whole before anything is written, then written in the tool's order and read back. On failure a
 * non-null `message` receives what went wrong, NUL-terminated and cut to `message_size`. */
ZENDRIK_API int32_t zendrik_reader_configure(zendrik_reader *reader, const char *const *assignments,
                                             size_t count, char *message, size_t message_size);

/* The settings as the JSON object of `zendrik config --json` for a reader of `kind`, NUL-terminated.
 * *length (when not NULL) receives the text's length without the NUL; ZENDRIK_ERR_TOO_SMALL when
 * `size` cannot hold it, with *length telling what is needed. */
ZENDRIK_API int32_t zendrik_settings_json(const zendrik_settings *settings, int32_t kind, char *text,
                                          size_t size, size_t *length);

/* Restores the factory defaults in the configuration tool's sequence for the reader's kind. Every
 * step is tried, as the tool does; the result is that of the first step that failed. */
ZENDRIK_API int32_t zendrik_reader_factory_default(zendrik_reader *reader);

/* ---- Events ------------------------------------------------------------------------------------ */

typedef enum {
    ZENDRIK_EVENT_READ = 1,
    ZENDRIK_EVENT_ARRIVED = 2,      /* first read of an EPC */
    ZENDRIK_EVENT_DEPARTED = 3,     /* no read of it for the absence time */
    ZENDRIK_EVENT_LINK_LOST = 4,
    ZENDRIK_EVENT_LINK_RESTORED = 5
} zendrik_event_kind;

#define ZENDRIK_EPC_CAPACITY 64  /* EPC bytes an event holds */
#define ZENDRIK_CARD_CAPACITY 32 /* card number text plus the NUL */

typedef struct {
    int32_t kind;                          /* zendrik_event_kind */
    char reader[ZENDRIK_READER_ID_CAPACITY];
    uint64_t seq;                          /* per handle, from 1, no gaps */
    int64_t time_ms;                       /* UTC, milliseconds since 1970-01-01 */
    /* read, arrived, departed: */
    uint8_t epc[ZENDRIK_EPC_CAPACITY];
    uint32_t epc_length;
    char card[ZENDRIK_CARD_CAPACITY];      /* Wiegand card number by the reader's output settings; "" for none */
    uint64_t count;                        /* reads of this EPC since it arrived */
    int64_t first_seen_ms;                 /* UTC ms: the read that made it arrive */
    int64_t last_seen_ms;                  /* UTC ms: its latest read */
    int32_t antenna;                       /* read only: antenna byte, -1 where the reader's kind sends none */
    int32_t rssi;                          /* read only: signal strength byte, -1 where none */
    /* link-lost: the result code that lost the link; 0 otherwise */
    int32_t error;
} zendrik_event;

/* The event as one line of JSON (no newline), the shape every program of the project prints and
 * publishes:
 *   {"event":"read","reader":R,"seq":N,"time":T,"epc":"e200...","card":"03430008","count":N,
 *    "first_seen":T,"antenna":A,"rssi":S}
 *   {"event":"arrived"|"departed","reader":R,"seq":N,"time":T,"epc":E,"card":C,"first_seen":T,
 *    "last_seen":T,"count":N}
 *   {"event":"link-lost"|"link-restored","reader":R,"seq":N,"time":T,"error":W}
 * Times are UTC with milliseconds and "Z"; a missing card, antenna, rssi or error is null. Length
 * and ZENDRIK_ERR_TOO_SMALL as for zendrik_settings_json. */
ZENDRIK_API int32_t zendrik_event_json(const zendrik_event *event, char *text, size_t size, size_t *length);

/* The name of an event kind as in the JSON: "read", "arrived", ... "unknown" otherwise. */
ZENDRIK_API const char *zendrik_event_kind_name(int32_t kind);

/* ---- Single reads ------------------------------------------------------------------------------ */

/* One tag read. ZENDRIK_OK: *event is a read event (seq taken from the handle's count, count 1).
 * ZENDRIK_NO_TAG when the reader answers that no tag is in its field. ZENDRIK_ERR_BUSY while an
 * inventory runs. `event_size` is sizeof(zendrik_event). */
ZENDRIK_API int32_t zendrik_reader_read_tag(zendrik_reader *reader, zendrik_event *event, size_t event_size);

/* One read of the reader's tag list: the identifier bytes into ids[0 .. *length - 1] (at most
 * `size`; 251 always suffices). ZENDRIK_LIST_EMPTY when the reader lists none;
 * ZENDRIK_ERR_TOO_SMALL (nothing written) when `size` cannot hold them, with *length telling how
 * many there are. */
ZENDRIK_API int32_t zendrik_reader_read_tag_list(zendrik_reader *reader, uint8_t *ids, size_t size,
                                                 size_t *length);

/* ---- Inventory --------------------------------------------------------------------------------- */

typedef struct {
    uint32_t size;            /* sizeof(zendrik_inventory_options); set by zendrik_inventory_options_init */
    uint32_t absence_ms;      /* default 3000 */
    uint32_t queue_capacity;  /* events kept for zendrik_next_event; default 4096 */
} zendrik_inventory_options;

ZENDRIK_API void zendrik_inventory_options_init(zendrik_inventory_options *options);

typedef void (*zendrik_event_callback)(const zendrik_event *event, void *context);

/* Starts reading. `options` may be NULL (defaults). With a callback every event goes to it, on the
 * library's thread; with NULL events are queued for zendrik_next_event(). The first event tells the
 * link's state only when the link is down (link-lost). ZENDRIK_ERR_BUSY when one runs already.
 * ZENDRIK_ERR_IN_CALLBACK from inside a callback (a start may have to wait for an ending thread);
 * ZENDRIK_ERR_INVALID_ARGUMENT for an absence or queue capacity of 0. */
ZENDRIK_API int32_t zendrik_inventory_start(zendrik_reader *reader, const zendrik_inventory_options *options,
                                            zendrik_event_callback callback, void *context);

/* Stops reading and joins the library thread (deferred when called from the callback). Events
 * already queued stay readable. ZENDRIK_OK also when no inventory runs. */
ZENDRIK_API int32_t zendrik_inventory_stop(zendrik_reader *reader);

/* Takes the oldest queued event. timeout_ms: 0 does not wait, a negative value waits for ever.
 * ZENDRIK_OK with *event; ZENDRIK_NO_EVENT when the time passed; ZENDRIK_ERR_NOT_RUNNING when no
 * inventory runs (or it was stopped) and the queue is empty, at once. ZENDRIK_ERR_BUSY while an
 * inventory delivers to a callback: its events never reach the queue. */
ZENDRIK_API int32_t zendrik_next_event(zendrik_reader *reader, zendrik_event *event, size_t event_size,
                                       int32_t timeout_ms);

/* A descriptor that poll() reports readable while events are queued (an eventfd owned by the
 * handle; do not read or close it). -1 for a null handle. */
ZENDRIK_API int zendrik_reader_event_fd(const zendrik_reader *reader);

/* Events dropped because the queue was full, since the handle was opened. */
ZENDRIK_API uint64_t zendrik_inventory_dropped(const zendrik_reader *reader);

#ifdef __cplusplus
}
#endif

#endif /* ZENDRIK_SESSION_H */
