#pragma once

#include <QChar>

namespace zendrik::tool {

// A blank as the tool's texts count it: a space or a tab, no other white space.
inline bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

}  // namespace zendrik::tool
