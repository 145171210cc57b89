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
 *   serial:DEVICE[?baud=N]       DEVICE a path or COM1..COM20 in any letter case (see
 *                                GetComDevicePath); N default 115200
 *   udp:HOST:PORT[?local=HOST:PORT]
 *                                the reader at HOST:PORT (dotted IPv4); the local end defaults to any
 *                                address and a port the system picks
 * An address that does not parse is refused with ZENDRIK_ERR_BAD_ADDRESS before any I/O.
 *
 * Threading
 *   Each handle owns one library thread, from zendrik_reader_open() to zendrik_reader_close(). It
 *   alone talks to the reader: it serves one ordered queue of requests (identity, settings, the
 *   inventory's start and stop, single reads) and, while an inventory runs, the inventory's rounds,
 *   running the requests between two rounds in the order they came. Every library thread blocks
 *   every signal, so a program's signals always reach its own threads.
 *
 *   Different handles are independent. The calls on one handle may come from any thread:
 *   zendrik_reader_submit() queues a request and returns at once; the blocking calls (info, read
 *   and write settings, configure, factory default, the single reads, zendrik_reader_call,
 *   inventory start and stop) queue theirs in the same queue and wait for its end, so they see the
 *   same order. zendrik_reader_close() must not race any other call on the same handle.
 *
 * The event stream
 *   Everything a handle has to say comes as events in one stream, numbered per handle from 1
 *   without gaps (a gap means events were dropped): through the handle's queue, read with
 *   zendrik_next_event() or zendrik_next_events() when zendrik_reader_event_fd() is readable, or
 *   through the callback of an inventory started with one. The kinds:
 *     link-up        the first event of every stream (seq 1) when the reader answered at open
 *     link-lost      the link failed (error: the result that lost it); the first event instead of
 *                    link-up for a handle opened with ZENDRIK_OPEN_ABSENT_OK whose reader did not
 *                    answer. Reported once, whatever found it: an inventory round, a request, a
 *                    blocking call.
 *     link-restored  an operation or the inventory's reconnect reached the reader again; once
 *     read           the inventory read a tag (antenna, signal strength, the round's time)
 *     arrived        the first read of an EPC
 *     departed       no read of it for the absence time
 *     completed      a request made with zendrik_reader_submit() has ended: its id, its result
 *                    code and its result (see zendrik_event); a result longer than the event's
 *                    json is cut there, the event says so, and zendrik_completion_json() gives it
 *                    whole
 *   The queue holds up to the inventory's queue capacity (4096 unless an inventory set another);
 *   when it is full the oldest event is dropped and counted (zendrik_inventory_dropped()).
 *
 *   A callback is called on the handle's thread, never with a library lock held, and gets every
 *   event of the stream while its inventory runs. From inside it the blocking calls return
 *   ZENDRIK_ERR_IN_CALLBACK; zendrik_reader_submit() may be called, and zendrik_inventory_stop(),
 *   which takes effect once the callback returns. After zendrik_inventory_stop() returns (outside a
 *   callback) no callback runs any more.
 *
 * Inventory
 *   When the link fails the inventory reports link-lost and reconnects with a back-off of 100 ms
 *   doubling to 5 s (with jitter); on success it reads again what the card numbers depend on and
 *   reports link-restored. Tags not read for the absence time depart whether the link is up or not
 *   (while a request runs, once it has ended).
 *
 *   The link counts as lost at once when there is nothing left to send on (the USB device or the
 *   serial port has gone: ZENDRIK_ERR_NOT_REACHED), and otherwise after three rounds in a row
 *   without a valid answer (a silent reader, a network that dropped out), so that one lost
 *   datagram does not tear it down; an answer without a tag keeps it up. Each round is one tag
 *   read (command 0xF6), which brings one tag with its antenna and signal strength; after a round
 *   without a tag the next starts 50 ms after it began, so an empty field costs little. A reader
 *   takes its own time for a round: the inventory learns it from the rounds answered and waits
 *   for each tag reply up to twice that long (at least the link's own wait, at most 1.5 s).
 *
 * Structs that grow
 *   A struct the caller passes in or out carries its size first (set by its _init function); the
 *   library takes any size from that of its first release on, reads and writes only the part both
 *   know, and zeroes what it writes beyond its own values. The events use the `event_size`
 *   argument for the same: a caller built against an older, smaller zendrik_event gets its part.
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
    ZENDRIK_ERR_NO_MEMORY = -207,         /* the library could not allocate */
    ZENDRIK_ERR_QUEUE_FULL = -208,        /* too many requests wait for the reader already; nothing queued */
    ZENDRIK_ERR_CANCELLED = -209          /* the request was not run: the handle was closed first */
};

/* What kind of outcome a result code is, so that a caller need not sort the codes itself. */
enum {
    ZENDRIK_RESULT_KIND_UNKNOWN = -1,     /* not a code of this library */
    ZENDRIK_RESULT_KIND_OK = 0,           /* success, or an outcome that is no failure (no event, no tag,
                                             an empty tag list) */
    ZENDRIK_RESULT_KIND_TRANSPORT = 1,    /* the link failed: it cannot be opened, no answer came, the answer
                                             was damaged, the device is gone */
    ZENDRIK_RESULT_KIND_REFUSED = 2,      /* the reader answered and refused, or kept another value */
    ZENDRIK_RESULT_KIND_BAD_ARGUMENT = 3, /* the caller asked for something that cannot be */
    ZENDRIK_RESULT_KIND_STATE = 4         /* not now: busy, inside a callback, not running, queue full */
};

/* The ZENDRIK_RESULT_KIND_* of any result code of zendrik.h or this header. */
ZENDRIK_API int32_t zendrik_result_kind(int32_t code);

/* Words for any result code of zendrik.h or this header, without the number: "no USB reader was
 * found". Never NULL; an unknown code gives "unknown result". The text is static. */
ZENDRIK_API const char *zendrik_result_text(int32_t code);

/* Checks a reader address without opening it. On ZENDRIK_ERR_BAD_ADDRESS and a non-null `why`,
 * writes the reason as a NUL-terminated text, cut to `why_size`. */
ZENDRIK_API int32_t zendrik_address_check(const char *address, char *why, size_t why_size);

/* The device an address opens, NUL-terminated: the PATH of usb:PATH, the DEVICE of serial:DEVICE,
 * with COMn mapped as GetComDevicePath maps it; "" for usb (the first reader found) and for udp.
 * Nothing is opened. Length and ZENDRIK_ERR_TOO_SMALL as for zendrik_settings_json;
 * ZENDRIK_ERR_BAD_ADDRESS when the address does not parse. */
ZENDRIK_API int32_t zendrik_address_device(const char *address, char *device, size_t size, size_t *length);

/* ---- Log --------------------------------------------------------------------------------------- */

enum {
    ZENDRIK_LOG_ERROR = 0,
    ZENDRIK_LOG_WARNING = 1,  /* what explains a failure: a device that cannot be opened, a link lost */
    ZENDRIK_LOG_INFO = 2,     /* a link restored */
    ZENDRIK_LOG_DEBUG = 3     /* every frame sent and received */
};

typedef void (*zendrik_log_handler)(int32_t level, const char *message, void *user);

/* Messages at `level` and more severe go to `handler` (NULL: back to the default, which writes
 * every message to standard error, time-stamped, while the environment variable ZENDRIK_TRACE is
 * set to anything but "" or "0"). Called on whichever thread logs, flat API calls included; never
 * with a library lock held. The message is valid during the call only. */
ZENDRIK_API void zendrik_set_log_handler(int32_t level, zendrik_log_handler handler, void *user);

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
 * the id, and starts the handle's thread. `options` may be NULL (defaults). On success *reader
 * holds a new handle, whose stream begins with link-up (or link-lost, with ZENDRIK_OPEN_ABSENT_OK). */
ZENDRIK_API int32_t zendrik_reader_open(const char *address, const zendrik_open_options *options,
                                        zendrik_reader **reader);

/* Stops a running inventory, says goodbye to the reader (handshake 0), closes the link and frees
 * the handle, once the request under way has ended; submitted requests not yet begun are not run.
 * NULL is accepted. ZENDRIK_ERR_IN_CALLBACK (and nothing done) from inside a callback. */
ZENDRIK_API int32_t zendrik_reader_close(zendrik_reader *reader);

/* The reader id: the name given at open, or the serial number as 24 lower-case hex digits. Valid
 * until the handle is closed. */
ZENDRIK_API const char *zendrik_reader_id(const zendrik_reader *reader);

/* The address the handle was opened with, as given. */
ZENDRIK_API const char *zendrik_reader_address(const zendrik_reader *reader);

/* ---- Identity ---------------------------------------------------------------------------------- */

#define ZENDRIK_TEXT_CAPACITY 104 /* identity texts: 50 reader bytes, escaped when unprintable */

typedef struct {
    uint32_t size;                        /* sizeof(zendrik_reader_info); set by zendrik_reader_info_init */
    int32_t kind;                         /* reader kind 0, 1 or 2 from the handshake */
    int32_t low_value;                    /* the handshake's low value */
    char version[ZENDRIK_TEXT_CAPACITY];  /* version bytes up to the first zero; unprintable as \xNN */
    char serial[ZENDRIK_TEXT_CAPACITY];   /* the first 12 serial number bytes as lower-case hex, no "SN:" */
} zendrik_reader_info;

ZENDRIK_API void zendrik_reader_info_init(zendrik_reader_info *info);

/* Reads kind, version and serial number from the reader. A version whose escapes do not fit the
 * text is cut before the first that does not, never inside one. */
ZENDRIK_API int32_t zendrik_reader_info_get(zendrik_reader *reader, zendrik_reader_info *info);

/* ---- Settings ---------------------------------------------------------------------------------- */

typedef struct {
    uint32_t size;             /* sizeof(zendrik_settings); set by zendrik_settings_init */
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

ZENDRIK_API void zendrik_settings_init(zendrik_settings *settings);

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
    ZENDRIK_EVENT_LINK_RESTORED = 5,
    ZENDRIK_EVENT_LINK_UP = 6,      /* the first event of a stream whose reader answered at open */
    ZENDRIK_EVENT_COMPLETED = 7     /* a submitted request has ended */
} zendrik_event_kind;

#define ZENDRIK_EPC_CAPACITY 64      /* EPC bytes an event holds */
#define ZENDRIK_CARD_CAPACITY 32     /* card number text plus the NUL */
#define ZENDRIK_JSON_CAPACITY 1024   /* a request's result as JSON plus the NUL */
#define ZENDRIK_MESSAGE_CAPACITY 256 /* what went wrong plus the NUL */

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
    /* ---- the first release's event ends here; every call that writes events takes event_size */
    /* read: how long the inventory round took that brought it, in microseconds; 0 otherwise */
    uint32_t round_us;
    /* completed: */
    uint64_t request_id;                   /* the id zendrik_reader_submit() gave */
    int32_t request;                       /* the request's zendrik_request_kind */
    int32_t result;                        /* its result code: ZENDRIK_OK or what failed */
    zendrik_reader_info info;              /* INFO; info.kind also for every settings result */
    zendrik_settings settings;             /* READ_SETTINGS, PLAN_CHANGE (the current settings), CONFIGURE,
                                              WRITE_SETTINGS, FACTORY_DEFAULT: the settings read (back) */
    char json[ZENDRIK_JSON_CAPACITY];      /* on success: settings results the object of `zendrik config
                                              --json` (one line); INFO {"kind":K,"version":V,"serial":S};
                                              PLAN_CHANGE {"power":{"want":26,"have":33},...} ({} when
                                              nothing differs); INVENTORY_START / STOP
                                              {"inventory":"running"} / {"inventory":"stopped"}; "" on failure */
    char message[ZENDRIK_MESSAGE_CAPACITY]; /* on failure what went wrong, as zendrik_reader_configure()
                                              words it; "" on success */
    /* completed: the texts above hold what fits them, NUL-terminated; what did not fit is said here */
    uint32_t cut;                          /* ZENDRIK_CUT_* bits; 0 when json and message are whole */
    uint32_t json_length;                  /* the whole result's length in bytes, without the NUL; more
                                              than json holds when ZENDRIK_CUT_JSON is set */
} zendrik_event;

/* zendrik_event.cut: a text of a completion longer than its field holds its first bytes only. */
enum {
    ZENDRIK_CUT_JSON = 1u << 0,   /* json holds the first ZENDRIK_JSON_CAPACITY - 1 bytes of the result
                                     (no valid JSON then): zendrik_completion_json gives the whole */
    ZENDRIK_CUT_MESSAGE = 1u << 1 /* message holds its first ZENDRIK_MESSAGE_CAPACITY - 1 bytes */
};

/* The size of the first release's zendrik_event: the least event_size the library takes. */
#define ZENDRIK_EVENT_FIRST_SIZE 232

/* The event as one line of JSON (no newline), the shape every program of the project prints and
 * publishes:
 *   {"event":"read","reader":R,"seq":N,"time":T,"epc":"e200...","card":"03430008","count":N,
 *    "first_seen":T,"antenna":A,"rssi":S}
 *   {"event":"arrived"|"departed","reader":R,"seq":N,"time":T,"epc":E,"card":C,"first_seen":T,
 *    "last_seen":T,"count":N}
 *   {"event":"link-up"|"link-lost"|"link-restored","reader":R,"seq":N,"time":T,"error":W}
 *   {"event":"completed","reader":R,"seq":N,"time":T,"request_id":I,"request":"info","error":W,
 *    "message":M,"result":J}
 * Times are UTC with milliseconds and "Z"; a missing card, antenna, rssi, error or message is
 * null; J is the event's json (null when empty). A json that was cut (ZENDRIK_CUT_JSON) is no JSON:
 * J is then null, followed by "result_length":L, the whole result's length (the whole result is
 * zendrik_completion_json's). The request names: "info", "read-settings",
 * "plan-change", "configure", "write-settings", "factory-default", "inventory-start",
 * "inventory-stop". Length and ZENDRIK_ERR_TOO_SMALL as for zendrik_settings_json. */
ZENDRIK_API int32_t zendrik_event_json(const zendrik_event *event, char *text, size_t size, size_t *length);

/* The name of an event kind as in the JSON: "read", "arrived", ... "unknown" otherwise. */
ZENDRIK_API const char *zendrik_event_kind_name(int32_t kind);

/* ---- Single reads ------------------------------------------------------------------------------ */

/* One tag read. ZENDRIK_OK: *event is a read event (seq 0: it is not part of the stream; count 1).
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

/* Starts reading. `options` may be NULL (defaults). With a callback every event of the stream goes
 * to it while the inventory runs, on the handle's thread; with NULL events are queued for
 * zendrik_next_event(). ZENDRIK_ERR_BUSY when one runs already. ZENDRIK_ERR_IN_CALLBACK from inside
 * a callback (submit ZENDRIK_REQUEST_INVENTORY_START there); ZENDRIK_ERR_INVALID_ARGUMENT for an
 * absence or queue capacity of 0. */
ZENDRIK_API int32_t zendrik_inventory_start(zendrik_reader *reader, const zendrik_inventory_options *options,
                                            zendrik_event_callback callback, void *context);

/* Stops reading, after the requests queued before it (deferred until the callback returns when
 * called from one). Events already queued stay readable. ZENDRIK_OK also when no inventory runs. */
ZENDRIK_API int32_t zendrik_inventory_stop(zendrik_reader *reader);

/* Takes the oldest queued event. timeout_ms: 0 does not wait, a negative value waits for ever.
 * `event_size` is sizeof(zendrik_event) (at least ZENDRIK_EVENT_FIRST_SIZE). ZENDRIK_OK with
 * *event; ZENDRIK_NO_EVENT when the time passed; ZENDRIK_ERR_NOT_RUNNING, at once, when the queue
 * is empty, no inventory runs and no submitted request is outstanding. ZENDRIK_ERR_BUSY while an
 * inventory delivers to a callback: its events never reach the queue. */
ZENDRIK_API int32_t zendrik_next_event(zendrik_reader *reader, zendrik_event *event, size_t event_size,
                                       int32_t timeout_ms);

/* Takes up to `count` queued events at once into `buffer`, an array of `count` elements of
 * `event_size` bytes each; *got says how many. Waits as zendrik_next_event() does while none is
 * queued, and returns as it does: ZENDRIK_OK with *got >= 1, or ZENDRIK_NO_EVENT,
 * ZENDRIK_ERR_NOT_RUNNING, ZENDRIK_ERR_BUSY with *got 0. */
ZENDRIK_API int32_t zendrik_next_events(zendrik_reader *reader, zendrik_event *buffer, size_t event_size,
                                        size_t count, size_t *got, int32_t timeout_ms);

/* A descriptor that poll() reports readable while events are queued (an eventfd owned by the
 * handle; do not read or close it). -1 for a null handle. */
ZENDRIK_API int zendrik_reader_event_fd(const zendrik_reader *reader);

/* Events dropped because the queue was full, since the handle was opened. */
ZENDRIK_API uint64_t zendrik_inventory_dropped(const zendrik_reader *reader);

/* ---- Requests ---------------------------------------------------------------------------------- */

typedef enum {
    ZENDRIK_REQUEST_INFO = 1,            /* kind, version, serial */
    ZENDRIK_REQUEST_READ_SETTINGS = 2,   /* every setting */
    ZENDRIK_REQUEST_PLAN_CHANGE = 3,     /* reads the settings and compares the assignments with them:
                                            json holds the differences; nothing is written */
    ZENDRIK_REQUEST_CONFIGURE = 4,       /* the assignments written in the tool's order and read back,
                                            as zendrik_reader_configure() */
    ZENDRIK_REQUEST_WRITE_SETTINGS = 5,  /* the whole record written and read back, as
                                            zendrik_reader_write_settings() */
    ZENDRIK_REQUEST_FACTORY_DEFAULT = 6, /* the factory sequence, then the settings read back */
    ZENDRIK_REQUEST_INVENTORY_START = 7, /* starts the inventory with `inventory`, its events to the queue */
    ZENDRIK_REQUEST_INVENTORY_STOP = 8
} zendrik_request_kind;

#define ZENDRIK_REQUEST_QUEUE_CAPACITY 64 /* submitted requests that may wait at once */

typedef struct {
    uint32_t size;                               /* sizeof(zendrik_request); set by zendrik_request_init */
    int32_t kind;                                /* zendrik_request_kind */
    const char *const *assignments;              /* PLAN_CHANGE, CONFIGURE: "NAME=VALUE" as zendrik set takes them */
    size_t assignment_count;
    const zendrik_settings *settings;            /* WRITE_SETTINGS */
    const zendrik_inventory_options *inventory;  /* INVENTORY_START; NULL: the defaults */
} zendrik_request;

ZENDRIK_API void zendrik_request_init(zendrik_request *request, int32_t kind);

/* Queues a request and returns at once: it never waits for the link, the inventory or another
 * request, and everything the request points at is copied. *request_id (may be NULL) receives the
 * id its completion event carries, from 1 per handle. The request runs on the handle's thread
 * between two inventory rounds, after those submitted before it. ZENDRIK_ERR_QUEUE_FULL when
 * ZENDRIK_REQUEST_QUEUE_CAPACITY submitted requests wait already; ZENDRIK_ERR_INVALID_ARGUMENT for
 * an unknown kind or missing arguments. Nothing is queued then. Allowed from inside a callback. */
ZENDRIK_API int32_t zendrik_reader_submit(zendrik_reader *reader, const zendrik_request *request,
                                          uint64_t *request_id);

/* Runs a request as zendrik_reader_submit() does and waits for its end: its completion is written
 * into *completion (`event_size` bytes, see zendrik_event) instead of the stream, its request_id 0;
 * but for a completion whose json was cut (ZENDRIK_CUT_JSON): that one gets an id of its own, as a
 * submitted request would, under which zendrik_completion_json() gives its whole result.
 * Returns the request's result, or ZENDRIK_ERR_INVALID_ARGUMENT / ZENDRIK_ERR_IN_CALLBACK without
 * running it. */
ZENDRIK_API int32_t zendrik_reader_call(zendrik_reader *reader, const zendrik_request *request,
                                        zendrik_event *completion, size_t event_size);

#define ZENDRIK_CUT_RESULTS_KEPT 64 /* whole results a handle keeps of completions whose json was cut */

/* The whole result of the completion `request_id` whose json was cut (ZENDRIK_CUT_JSON; its
 * json_length says how long it is), as NUL-terminated JSON. A handle keeps the whole results of
 * its latest ZENDRIK_CUT_RESULTS_KEPT completions whose json was cut (from the stream, a callback
 * or zendrik_reader_call() alike), from the request's end until that many more were cut after it
 * or the handle is closed; asking for one does not remove it, so it may be asked for again.
 * Length and ZENDRIK_ERR_TOO_SMALL as for zendrik_settings_json: *length says the length without
 * the NUL, so `size` must be at least *length + 1 (a null `text` with `size` 0 asks only for the
 * length). ZENDRIK_ERR_INVALID_ARGUMENT when no whole result is kept for `request_id`: its json was
 * whole, no completion has that id, or it is no longer kept. Never waits for the reader; allowed
 * from inside a callback. */
ZENDRIK_API int32_t zendrik_completion_json(zendrik_reader *reader, uint64_t request_id, char *text, size_t size,
                                            size_t *length);

#ifdef __cplusplus
}
#endif

#endif /* ZENDRIK_SESSION_H */
