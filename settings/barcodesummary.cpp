#include "settings/barcodesummary.h"

#include "link/parameterset.h"

namespace vm::settings {

QString barcodeSummaryName(const QString& mask) {
    // The trailing blanks belong to the names as the reader windows show them.
    static const char* const kNames[] = {"128",      "Code 39 ", "Code 93 ", "Code 2 of 5 ",
                                         "Codabar ", "UPC EN8 ", "UPC E ",   "UPS Supplemental ",
                                         "PDF417 ",  "BC412 ",   "Postnet ", "Pharma "};
    QString hex = mask;
    hex.remove(QLatin1String("0x"), Qt::CaseInsensitive);
    bool ok = false;
    const quint64 bits = hex.trimmed().toULongLong(&ok, 16);
    if (!ok)
        return QString();
    QString found;
    int count = 0;
    for (int i = 0; i < int(std::size(kNames)); ++i) {
        if (bits & (quint64(1) << i)) {
            found = QString::fromLatin1(kNames[i]);
            ++count;
        }
    }
    return count > 1 ? QStringLiteral("MULTIPLE") : found;
}

QString readerBarcodeSummary(vm::link::CommandResponse& channel) {
    vm::link::ParameterSet set;
    const QString name = QStringLiteral("BARCODE ENABLE");
    if (!set.Load(channel, name))
        return QString();
    return barcodeSummaryName(set.GetParameter(name).Field(0));
}

} // namespace vm::settings
