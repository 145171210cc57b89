/* Calls the exported network module functions of libzendrik.so, as a C program would, and checks
 * what they return. Run only inside the namespace that find_device_netns.sh sets up: the functions
 * broadcast on the network. */
#include <stdio.h>
#include <string.h>

#include "netns_module.h"
#include "zendrik.h"

enum { MAX_RECORDS = 50, RECORD_SIZE = 10 };

static int failures = 0;

static void Check(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

static void CheckSettingsReply(const uint8_t* reply) {
    int i;
    for (i = 0; i < NETNS_SETTINGS_REPLY_SIZE; ++i) {
        if (reply[i] != (uint8_t)(kNetnsSettingsReplyFirst + i)) {
            Check(0, "settings reply bytes are the answer's bytes 5..26");
            return;
        }
    }
}

int main(void) {
    uint8_t records[MAX_RECORDS * RECORD_SIZE];
    uint8_t settings[NETNS_SETTINGS_SIZE];
    uint8_t reply[NETNS_SETTINGS_REPLY_SIZE];
    int32_t count = -1;

    memset(records, 0, sizeof records);
    Check(FindDevice(records, &count) == ZENDRIK_OK, "FindDevice returns 0");
    Check(count == 1, "FindDevice lists one module");
    Check(memcmp(records, kNetnsModuleId, NETNS_MODULE_ID_SIZE) == 0, "the record carries the module id");
    Check(memcmp(records + NETNS_MODULE_ID_SIZE, kNetnsModuleAddress, sizeof kNetnsModuleAddress) == 0,
          "the record carries the module address C0 A8 01 64");

    memset(reply, 0, sizeof reply);
    Check(ReadConfig(records, reply) == ZENDRIK_OK, "ReadConfig returns 0");
    CheckSettingsReply(reply);

    memset(settings, 0x5A, sizeof settings);
    memset(reply, 0, sizeof reply);
    Check(WriteConfig(settings, reply) == ZENDRIK_OK, "WriteConfig returns 0");
    CheckSettingsReply(reply);

    /* Missing buffers are refused before anything is sent. */
    Check(FindDevice(NULL, &count) == ZENDRIK_ERR_NOT_REACHED, "FindDevice without records");
    Check(FindDevice(records, NULL) == ZENDRIK_ERR_NOT_REACHED, "FindDevice without count");
    Check(ReadConfig(NULL, reply) == ZENDRIK_ERR_UDP_NO_REPLY, "ReadConfig without module id");
    Check(WriteConfig(settings, NULL) == ZENDRIK_ERR_UDP_NO_REPLY, "WriteConfig without reply");

    if (failures == 0) {
        printf("FindDevice, ReadConfig and WriteConfig answered as expected\n");
    }
    return failures == 0 ? 0 : 1;
}
