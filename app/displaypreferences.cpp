#include "app/displaypreferences.h"

#include "app/settingsstore.h"

#include <QStringList>

#include <cmath>

namespace vm::app {

QFont resultFontFromText(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    QFont font;
    if (!parts.isEmpty() && !parts.at(0).trimmed().isEmpty())
        font.setFamily(parts.at(0).trimmed());
    bool ok = false;
    const double size = parts.value(1).trimmed().toDouble(&ok);
    font.setPointSizeF(ok && size > 0 ? size : 19.0);
    font.setBold(textToBool(parts.value(2, QStringLiteral("0"))));
    font.setItalic(textToBool(parts.value(3, QStringLiteral("0"))));
    font.setStrikeOut(textToBool(parts.value(4, QStringLiteral("0"))));
    font.setUnderline(textToBool(parts.value(5, QStringLiteral("0"))));
    return font;
}

QString resultFontToText(const QFont& font) {
    const double size = font.pointSizeF();
    const QString sizeText = (std::floor(size) == size) ? QString::number(int(size)) : QString::number(size);
    return QStringList{font.family(),
                       sizeText,
                       boolToText(font.bold()),
                       boolToText(font.italic()),
                       boolToText(font.strikeOut()),
                       boolToText(font.underline())}
        .join(QLatin1Char(','));
}

vm::display::DisplaySettings storedDisplaySettings() {
    SettingsStore& store = settings();
    vm::display::DisplaySettings display;
    display.passColor = quint32(store.number(keys::PassColor));
    display.failColor = quint32(store.number(keys::FailColor));
    display.textColor = quint32(store.number(keys::FontColor));
    display.topText = store.flag(keys::TopTextMode);
    display.resultFont = resultFontFromText(store.text(keys::ResultFont));
    return display;
}

DisplayPreferences& displayPreferences() {
    static DisplayPreferences preferences;
    return preferences;
}

} // namespace vm::app
