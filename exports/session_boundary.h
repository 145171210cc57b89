#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zendrik/zendrik_session.h"
#include "session/request.h"

// What every exported session function does at the C boundary: no C++ exception crosses it, and
// texts go into the caller's buffers within their sizes.
namespace zendrik::session {

// Runs an exported function's body: running out of memory becomes ZENDRIK_ERR_NO_MEMORY, any
// other exception (a thread or descriptor the system refused) too, as the closest there is.
template <typename Body>
int32_t GuardedCall(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return ZENDRIK_ERR_NO_MEMORY;
    }
}

// The checks every blocking call of a handle makes first: a handle, and not from inside a callback
// (which runs on the handle's own thread, so that it would wait for itself).
int32_t BlockingCallRefusal(const zendrik_reader* reader);

// The inventory's options as the library takes them (NULL: the defaults); nothing for options
// that are too old or hold an absence or queue capacity of 0.
std::optional<InventorySetup> InventorySetupOf(const zendrik_inventory_options* options);

// Copies `count` NAME=VALUE texts; an empty result, or which one is missing (null).
std::string CopyAssignments(const char* const* assignments, std::size_t count,
                            std::vector<std::string>& copied);

// Writes `text` and its NUL into `buffer` when `size` holds them, and its length (without the
// NUL) into *length when that is not null. ZENDRIK_ERR_TOO_SMALL (nothing written) when it does
// not fit, ZENDRIK_ERR_INVALID_ARGUMENT for a null buffer with a non-zero size.
int32_t CopyWholeText(std::string_view text, char* buffer, std::size_t size, std::size_t* length);

// Writes as much of `text` as fits `size` with its NUL (nothing when `buffer` is null or `size` 0):
// for messages, where a cut text is better than none.
void CopyCutText(std::string_view text, char* buffer, std::size_t size);

}  // namespace zendrik::session
