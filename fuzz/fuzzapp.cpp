#include "fuzz/fuzzentry.h"

#include <QCoreApplication>
#include <QLoggingCategory>

namespace vm::fuzz {

void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "velmarrow-fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    // The inputs are garbage by design: their warnings are expected and only slow the run.
    QLoggingCategory::setFilterRules(QStringLiteral("*.warning=false\n*.info=false\n*.debug=false"));
}

} // namespace vm::fuzz
