#include "link/result_codes.h"

#include <array>

namespace zendrik {
namespace {

struct ResultEntry {
    int32_t code;
    const char* words;
    ResultKind kind;
};

constexpr std::array kResults{
#define ZENDRIK_RESULT_ENTRY(name, value, words, kind) ResultEntry{value, words, ResultKind::kind},
    ZENDRIK_RESULT_CODES(ZENDRIK_RESULT_ENTRY)
#undef ZENDRIK_RESULT_ENTRY
};

constexpr const char* kUnknownResult = "unknown result";

const ResultEntry* Find(int32_t code) {
    for (const ResultEntry& entry : kResults) {
        if (entry.code == code) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

const char* ResultWords(int32_t code) {
    const ResultEntry* entry = Find(code);
    return entry != nullptr ? entry->words : kUnknownResult;
}

ResultKind KindOfResult(int32_t code) {
    const ResultEntry* entry = Find(code);
    return entry != nullptr ? entry->kind : ResultKind::kUnknown;
}

}  // namespace zendrik
