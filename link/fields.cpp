#include "link/fields.h"

namespace vm::link {

QString unquoteField(const QString& text) {
    if (text.size() >= 2 && text.startsWith(u'"') && text.endsWith(u'"'))
        return text.mid(1, text.size() - 2);
    return text;
}

} // namespace vm::link
