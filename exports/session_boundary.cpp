#include "exports/session_boundary.h"

#include <algorithm>

#include "exports/sized_structs.h"
#include "session/callback_scope.h"

namespace zendrik::session {

int32_t BlockingCallRefusal(const zendrik_reader* reader) {
    if (reader == nullptr) {
        return ZENDRIK_ERR_INVALID_ARGUMENT;
    }
    if (InsideEventCallback()) {
        return ZENDRIK_ERR_IN_CALLBACK;
    }
    return ZENDRIK_OK;
}

std::optional<InventorySetup> InventorySetupOf(const zendrik_inventory_options* options) {
    zendrik_inventory_options chosen{};
    zendrik_inventory_options_init(&chosen);
    if (options != nullptr) {
        if (options->size < exports::kInventoryOptionsFirstSize) {
            return std::nullopt;
        }
        chosen = exports::ReadSized(*options, chosen);
    }
    if (chosen.absence_ms == 0 || chosen.queue_capacity == 0) {
        return std::nullopt;
    }
    InventorySetup setup;
    setup.absence = Milliseconds{chosen.absence_ms};
    setup.queueCapacity = chosen.queue_capacity;
    return setup;
}

std::string CopyAssignments(const char* const* assignments, std::size_t count,
                            std::vector<std::string>& copied) {
    copied.clear();
    for (std::size_t i = 0; i < count; ++i) {
        if (assignments[i] == nullptr) {
            return "assignment " + std::to_string(i + 1) + " is missing";
        }
        copied.emplace_back(assignments[i]);
    }
    return {};
}

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
