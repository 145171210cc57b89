#include "cli/reader_session.h"

#include <zendrik.h>

#include <array>
#include <string>

#include "cli/result_words.h"

namespace zendrik::cli {
namespace {

constexpr uint8_t kHello = 1;
constexpr uint8_t kGoodbye = 0;
// Room for a device node path such as /dev/hidraw12.
constexpr std::size_t kNodePathCapacity = 256;

// When the link is USB and the library found the reader but could not open its device, the reason
// in words after the failure; otherwise the failure as it is.
std::string WithUsbOpenFailure(const LinkOptions& options, std::string failure) {
    if (options.kind != LinkKind::kUsb) {
        return failure;
    }
    std::array<char, kNodePathCapacity> node{};
    const int32_t error = GetUsbOpenError(node.data(), static_cast<int32_t>(node.size()));
    return error == 0 ? failure : failure + ": " + UsbOpenFailureWords(node.data(), error);
}

}  // namespace

ReaderSession::~ReaderSession() {
    if (!connected_) {
        return;
    }
    uint8_t kind = 0;
    uint8_t low = 0;
    // Goodbye is a courtesy: its result, and CloseCom's on links that are not serial, mean nothing.
    Handshake(kReaderAddress, kGoodbye, &kind, &low);
    CloseCom();
}

int32_t ReaderSession::Connect(const LinkOptions& options, std::string& failure) {
    if (const int32_t opened = OpenLink(options); opened != ZENDRIK_OK) {
        failure = WithUsbOpenFailure(options, "cannot open the link: " + ResultWords(opened));
        CloseCom();
        return opened;
    }
    if (const int32_t greeted = Handshake(kReaderAddress, kHello, &kind_, &lowValue_);
        greeted != ZENDRIK_OK) {
        failure = WithUsbOpenFailure(options, HandshakeWords(greeted));
        CloseCom();
        return greeted;
    }
    connected_ = true;
    return ZENDRIK_OK;
}

}  // namespace zendrik::cli
