/* A program built against the installed library, as a user's would be: opens the USB link (the
 * virtual reader's socket comes from ZENDRIK_HID_SOCKET), greets the reader and prints its kind. */
#include <stdio.h>
#include <zendrik.h>

enum { READER_ADDRESS = 255, HELLO = 1, BAUD = 115200 };

int main(void) {
    uint8_t kind = 0;
    uint8_t low = 0;
    int32_t result = OpenCom(ZENDRIK_USB_PORT, BAUD);
    if (result == ZENDRIK_OK) {
        result = Handshake(READER_ADDRESS, HELLO, &kind, &low);
    }
    if (result != ZENDRIK_OK) {
        fprintf(stderr, "consumer: result %d\n", (int)result);
        return 1;
    }
    printf("reader kind %u\n", (unsigned)kind);
    return 0;
}
