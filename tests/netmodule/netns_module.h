/* The module that the network-namespace test plays, shared by its responder and its client. */
#ifndef ZENDRIK_TESTS_NETNS_MODULE_H
#define ZENDRIK_TESTS_NETNS_MODULE_H

#include <stdint.h>

enum { NETNS_MODULE_ID_SIZE = 6, NETNS_SETTINGS_SIZE = 18, NETNS_SETTINGS_REPLY_SIZE = 22 };

static const uint8_t kNetnsModuleId[NETNS_MODULE_ID_SIZE] = {0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
/* 192.168.1.100, first octet first, as FindDevice records it. */
static const uint8_t kNetnsModuleAddress[4] = {0xC0, 0xA8, 0x01, 0x64};
/* The module's settings reply starts with this byte and counts up. */
static const uint8_t kNetnsSettingsReplyFirst = 0x40;

#endif
