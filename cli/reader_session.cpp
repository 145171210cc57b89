#include "cli/reader_session.h"

#include <zendrik.h>

#include "cli/result_words.h"

namespace zendrik::cli {
namespace {

constexpr uint8_t kHello = 1;
constexpr uint8_t kGoodbye = 0;

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
        failure = "cannot open the link: " + ResultWords(opened);
        CloseCom();
        return opened;
    }
    if (const int32_t greeted = Handshake(kReaderAddress, kHello, &kind_, &lowValue_);
        greeted != ZENDRIK_OK) {
        failure = HandshakeWords(greeted);
        CloseCom();
        return greeted;
    }
    connected_ = true;
    return ZENDRIK_OK;
}

}  // namespace zendrik::cli
