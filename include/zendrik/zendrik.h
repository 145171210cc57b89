/*
 * zendrik: driver library for a fixed UHF RFID reader.
 *
 * One link to one reader at a time (serial port, USB HID or UDP), one blocking call per reader
 * operation. Every function returns 0 on success or one of the ZENDRIK_* result codes below, and
 * writes its outputs only on success. The library keeps one module-wide link; every function that
 * uses it (all but hex_a, a_hex, EpcOutput and GetComDevicePath) holds one library-wide lock for
 * the whole call, so calls from several threads run one after another. Each exchange with a USB
 * reader also holds an advisory lock (flock) on its device node, so that two programs using one
 * reader take turns instead of taking each other's replies.
 */
#ifndef ZENDRIK_H
#define ZENDRIK_H

#include <stdint.h>

#if defined(ZENDRIK_BUILDING)
#define ZENDRIK_API __attribute__((visibility("default")))
#else
#define ZENDRIK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. Three of them (ZENDRIK_LIST_EMPTY, ZENDRIK_ERR_SOCKET_VERSION and
 * ZENDRIK_ERR_NO_START_BYTE) are positive, so test for "!= ZENDRIK_OK", never for "< 0". */
enum {
    ZENDRIK_OK = 0,
    ZENDRIK_LIST_EMPTY = 1,                 /* UhfGetListTagId: the reply carries no identifiers */
    ZENDRIK_ERR_NOT_REACHED = -16,          /* USB report not written; UDP probe or module search unanswered */
    ZENDRIK_ERR_PORT_OPEN = -32,            /* serial port failed to open */
    ZENDRIK_ERR_PORT_GET_SETTINGS = -33,    /* serial line settings unreadable */
    ZENDRIK_ERR_PORT_SET_SETTINGS = -34,    /* serial line settings rejected */
    ZENDRIK_ERR_PORT_NOT_OPEN = -35,        /* no serial port open, or closing it failed */
    ZENDRIK_ERR_SHORT_FRAME_STATUS = -50,   /* short-frame reply reports a non-zero status */
    ZENDRIK_ERR_BAD_REPLY = -82,            /* CRC mismatch, no start byte, no USB reply, reply too long,
                                               or a frequency region code out of range */
    ZENDRIK_ERR_SOCKET_VERSION = 85,        /* socket layer unusable (never returned on Linux) */
    ZENDRIK_ERR_VERIFY = -129,              /* a value read back after setting it still differs */
    ZENDRIK_ERR_STATUS = -130,              /* the reader's status byte is not 200, or no reader answered */
    ZENDRIK_ERR_BYTE_TIMEOUT = -132,        /* serial: a reply byte did not arrive in time */
    ZENDRIK_ERR_NO_START_BYTE = 136,        /* serial: no start byte within three reads */
    ZENDRIK_ERR_NO_USB_READER = -136,       /* OpenCom(100, ...): no USB reader found */
    ZENDRIK_ERR_EPC_RANGE = -143,           /* EpcOutput: the field lies outside the source */
    ZENDRIK_ERR_UDP_NO_REPLY = -145,        /* UDP or network module reply missing or malformed */
    ZENDRIK_ERR_PORT_BUSY = -149            /* serial port in use by another program */
};

/* Result of a_hex for a character that is not a hexadecimal digit. */
enum { ZENDRIK_HEX_BAD_DIGIT = -1 };

/* OpenCom's port number that selects the USB HID reader instead of a serial port. */
enum { ZENDRIK_USB_PORT = 100 };

/* ---- Link ------------------------------------------------------------------------------------- */

/* port: 0..19 = COM1..COM20 (see GetComDevicePath), 100 = USB HID reader. */
ZENDRIK_API int32_t OpenCom(int32_t port, int32_t baud);
ZENDRIK_API int32_t CloseCom(void);
/* Opens the serial device at `path` (for example "/dev/ttyUSB0" or a /dev/serial/by-id/ link) with
 * OpenCom's results; a null path gives ZENDRIK_ERR_PORT_OPEN. */
ZENDRIK_API int32_t OpenComDevice(const char *path, int32_t baud);
/* Writes the device path that port index `index` opens (0 on success, -32 when it does not fit). */
ZENDRIK_API int32_t GetComDevicePath(int32_t index, char *path, int32_t size);
ZENDRIK_API int32_t Net_Connect(const char *hostIp, int32_t hostPort, const char *readerIp, int32_t readerPort);
/* Why the USB reader cannot be used although it is plugged in: when the latest USB locate (OpenCom
 * with port 100, or any command over USB) listed the reader but could not open its device, returns
 * the errno value of that open (EACCES: no permission on the hidraw node, see the udev rule
 * 70-zendrik.rules) and writes the node's path to `path` (at most size - 1 characters and a
 * terminating zero; nothing when path is null or size is not positive). Returns 0, writing nothing,
 * when the latest locate opened the reader or did not find one. */
ZENDRIK_API int32_t GetUsbOpenError(char *path, int32_t size);

/* ---- Handshake and identity -------------------------------------------------------------------- */

ZENDRIK_API int32_t Handshake(uint8_t address, uint8_t value, uint8_t *kind, uint8_t *low);
/* buffer: at least 50 bytes; receives the reply's data bytes, no terminator added. */
ZENDRIK_API int32_t Get_Version(uint8_t address, uint8_t *buffer);
ZENDRIK_API int32_t Get_SerNum(uint8_t address, uint8_t *buffer);

/* ---- Tag reading ------------------------------------------------------------------------------- */

/* data: 16 bytes; length: the reply's data length. */
ZENDRIK_API int32_t UhfReadTag(uint8_t address, uint8_t *data, uint8_t *length);
ZENDRIK_API int32_t UhfReadId(uint8_t address, int32_t unused1, int32_t unused2, int32_t unused3,
                              int32_t unused4, int32_t unused5, int32_t unused6, int32_t unused7);
/* ids: the caller must provide room for 251 bytes, whatever it expects: the reader decides how many
 * identifier bytes come back (count, up to 251) and all of them are written. */
ZENDRIK_API int32_t UhfGetListTagId(int32_t unused1, uint8_t p1, uint8_t p2, int32_t unused2, uint8_t *count,
                                    uint8_t *ids);
ZENDRIK_API int32_t UhfStopAutoReadEPC(int32_t unused);
ZENDRIK_API int32_t EpcOutput(const uint8_t *source, uint8_t sourceLength, uint8_t reverse, uint8_t offset,
                              uint8_t count, uint8_t *destination);

/* ---- Parameters: standard frames --------------------------------------------------------------- */

ZENDRIK_API int32_t UhfSetWorkMode(uint8_t address, uint8_t mode);
ZENDRIK_API int32_t UhfGetWorkMode(uint8_t address, uint8_t *mode);
ZENDRIK_API int32_t UhfSetBuzzer(uint8_t address, uint8_t on);
ZENDRIK_API int32_t UhfGetBuzzer(uint8_t address, uint8_t *on);
ZENDRIK_API int32_t UhfSetWeigand(uint8_t address, uint8_t format);
ZENDRIK_API int32_t UhfGetWeigand(uint8_t address, uint8_t *format);
ZENDRIK_API int32_t UhfSetTriggerTime(uint8_t address, uint8_t seconds);
ZENDRIK_API int32_t UhfGetTriggerTime(uint8_t address, uint8_t *seconds);
ZENDRIK_API int32_t UhfSetWgIntervalTime(uint8_t address, uint8_t interval);
ZENDRIK_API int32_t UhfGetWgIntervalTime(uint8_t address, uint8_t *interval);
ZENDRIK_API int32_t UhfSetReadTagIntervalTime(uint8_t address, uint8_t seconds);
ZENDRIK_API int32_t UhfGetReadTagIntervalTime(uint8_t address, uint8_t *seconds);
/* settings: 4 bytes (enable, start byte, byte count, inverted flag). */
ZENDRIK_API int32_t UhfSetWgOutByte(uint8_t address, const uint8_t *settings);
ZENDRIK_API int32_t UhfGetWgOutByte(uint8_t address, uint8_t *settings);
/* password: 4 bytes, sent and received in memory order. */
ZENDRIK_API int32_t UhfSetPassword(uint8_t address, uint8_t enable, const uint8_t *password);
ZENDRIK_API int32_t UhfGetPassword(uint8_t address, uint8_t *enable, uint8_t *password);
ZENDRIK_API int32_t UhfSetAddress(uint8_t address, uint8_t newAddress);
ZENDRIK_API int32_t UhfGetAddress(uint8_t address, uint8_t *readerAddress);
ZENDRIK_API int32_t UhfSetOutPower(uint8_t address, uint8_t power);
ZENDRIK_API int32_t UhfGetOutPower(uint8_t address, uint8_t *power);
ZENDRIK_API int32_t UhfFactoryDefault(uint8_t address);

/* ---- Parameters: short frames ------------------------------------------------------------------ */

ZENDRIK_API int32_t UhfSetBaudRate(int32_t unused, uint8_t baud);
ZENDRIK_API int32_t UhfSetAntenna(int32_t unused, uint8_t antenna);
ZENDRIK_API int32_t UhfSetTime(int32_t unused, uint8_t time);
ZENDRIK_API int32_t UhfSetLed(int32_t unused, uint8_t led);
/* config, version: 5 bytes. */
ZENDRIK_API int32_t UhfGetConfig(int32_t unused, uint8_t *config);
ZENDRIK_API int32_t UhfGetReaderVerison(uint8_t *version);
/* block: 32 bytes. */
ZENDRIK_API int32_t UhfReadBasicParam(uint8_t *block);
ZENDRIK_API int32_t UhfWriteBasicParam(const uint8_t *block);
ZENDRIK_API int32_t UhfReadFactoryParameter(void);

/* ---- Frequency plan ---------------------------------------------------------------------------- */

ZENDRIK_API int32_t UhfSetFrequencyRegion(uint8_t address, int32_t region, int32_t first, int32_t second,
                                          int32_t step, uint8_t span);
ZENDRIK_API int32_t UhfGetFrequencyRegion(uint8_t address, uint8_t *region, int32_t *first, int32_t *second,
                                          int32_t *step, uint8_t *span);

/* ---- Hex text ---------------------------------------------------------------------------------- */

/* text: at least 2n + 1 characters; upper-case digits. */
ZENDRIK_API int16_t hex_a(const uint8_t *bytes, char *text, uint32_t n);
/* bytes: at least len / 2 + 1 bytes. */
ZENDRIK_API int16_t a_hex(const char *text, uint8_t *bytes, uint32_t len);

/* ---- Network modules (these send UDP broadcasts on the local network) -------------------------- */

/* records: room for 50 records of 10 bytes (6-byte module id, 4-byte IPv4 address). */
ZENDRIK_API int16_t FindDevice(uint8_t *records, int32_t *count);
/* moduleId: 6 bytes; reply: 22 bytes. */
ZENDRIK_API int16_t ReadConfig(const uint8_t *moduleId, uint8_t *reply);
/* settings: 18 bytes; reply: 22 bytes. */
ZENDRIK_API int16_t WriteConfig(const uint8_t *settings, uint8_t *reply);

#ifdef __cplusplus
}
#endif

#endif /* ZENDRIK_H */
