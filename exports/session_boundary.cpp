#include "exports/session_boundary.h"

#include <algorithm>

namespace zendrik::session {

int32_t CopyWholeText(std::string_view text, char* buffer, std::size_t size, std::size_t* length) {
    if (buffer == nullptr && size != 0) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (length != nullptr) {
        *length = text.size();
    }
    if (text.size() >= size) {
        return ZENDRIK_ERR_TOO_SMALL;
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = '\0';
    return ZENDRIK_OK;
}

void CopyCutText(std::string_view text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    const std::size_t kept = std::min(text.size(), size - 1);
    std::copy_n(text.begin(), kept, buffer);
    buffer[kept] = '\0';
}

}  // namespace zendrik::session
