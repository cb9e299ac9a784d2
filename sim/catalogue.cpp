#include "sim/catalogue.h"

#include <QHash>

namespace vm::sim {

namespace {

FieldSpec words(const QStringList& allowed, const QString& def) {
    FieldSpec f;
    f.words = allowed;
    f.defaultValue = def;
    return f;
}

FieldSpec range(qint64 min, qint64 max, const QString& def, const QStringList& extraWords = {}) {
    FieldSpec f;
    f.ranged = true;
    f.min = min;
    f.max = max;
    f.words = extraWords;
    f.defaultValue = def;
    return f;
}

FieldSpec text(int maxLength, const QString& def) {
    FieldSpec f;
    f.kind = FieldKind::Text;
    f.maxLength = maxLength;
    f.quoted = true;
    f.defaultValue = QLatin1Char('"') + def + QLatin1Char('"');
    return f;
}

FieldSpec hexMask(qint64 max, const QString& def) {
    FieldSpec f;
    f.kind = FieldKind::HexMask;
    f.max = max;
    f.defaultValue = def;
    return f;
}

FieldSpec address(const QString& def) {
    FieldSpec f;
    f.kind = FieldKind::Address;
    f.defaultValue = def;
    return f;
}

FieldSpec identifier(int maxLength, const QString& def) {
    FieldSpec f;
    f.kind = FieldKind::Identifier;
    f.maxLength = maxLength;
    f.defaultValue = def;
    return f;
}

FieldSpec name(int maxLength, const QString& def) {
    FieldSpec f = identifier(maxLength, def);
    f.letterFirst = true;
    return f;
}

FieldSpec yesNo(const QString& def) {
    return words({"Y", "N"}, def);
}
FieldSpec onOff(const QString& def) {
    return words({"ON", "OFF"}, def);
}
FieldSpec grade(const QString& def) {
    return words({"A", "B", "C", "D"}, def);
}

FieldSpec withAliases(FieldSpec f, const QList<QPair<QString, QString>>& aliases) {
    f.aliases = aliases;
    return f;
}

FieldSpec quotedWord(FieldSpec f) {
    f.quoted = true;
    f.defaultValue = QLatin1Char('"') + f.defaultValue + QLatin1Char('"');
    return f;
}

FieldSpec keepIfEmpty(FieldSpec f) {
    f.keepIfEmpty = true;
    return f;
}

struct Builder {
    QList<ParameterSpec> list;

    ParameterSpec& add(const QString& name, QList<FieldSpec> fields, int minLevel = 0, int maxLevel = 99,
                       ParameterGroup group = ParameterGroup::Other, const QString& summary = {}) {
        ParameterSpec p;
        p.name = name;
        p.fields = std::move(fields);
        p.minLevel = minLevel;
        p.maxLevel = maxLevel;
        p.group = group;
        p.summary = summary;
        list.append(p);
        return list.last();
    }
    ParameterSpec& readOnly(const QString& name, QList<FieldSpec> fields, int minLevel = 0, int maxLevel = 99,
                            const QString& summary = {}) {
        ParameterSpec& p = add(name, std::move(fields), minLevel, maxLevel, ParameterGroup::Other, summary);
        p.readOnly = true;
        return p;
    }
};

const QStringList kLightNames = {"INTERNAL", "90",    "D",     "45Q",   "30T_NS", "30T_EW",
                                 "30Q",      "30S_N", "30S_E", "30S_S", "30S_W"};

// Illumination keywords; the external ones arrived with level 4.
QStringList lightingWords(int level) {
    QStringList w = {"OFF", "ON", "STROBE", "POWER_STROBE", "ON_AND_PSTROBED", "ON_AND_STROBED"};
    if (level >= 4)
        w << QStringList{"EXTERNAL",
                         "ON_AND_EXT",
                         "STROBE_AND_EXT",
                         "POWER_STROBE_AND_EXT",
                         "ON_AND_PSTROBED_AND_EXT",
                         "ON_AND_STROBED_AND_EXT"};
    return w;
}

FieldSpec lighting(int level, const QString& def) {
    FieldSpec f = words(lightingWords(level), def);
    if (level >= 4)
        f.aliases = {{"EXTERN", "EXTERNAL"}};
    return f;
}

// IO tags in number order (1 to 28), with the level that first offers each.
struct Tag {
    const char* name;
    int level;
    bool input;
};
const Tag kTags[] = {
    {"PASS", 4, false},
    {"FAIL", 4, false},
    {"DV", 4, false},
    {"RTE", 4, false},
    {"GOOD", 4, false},
    {"FAIR", 4, false},
    {"POOR", 4, false},
    {"ANGLE_FAILURE", 4, false},
    {"LOCATE_FAILURE", 4, false},
    {"DECODE_FAILURE", 4, false},
    {"MATCH_FAILURE", 4, false},
    {"READY", 4, false},
    {"READ_A", 4, true},
    {"READ_B", 4, true},
    {"READ_C", 4, true},
    {"READ_D", 4, true},
    {"RETRY", 4, true},
    {"LEARN", 4, true},
    {"MATCH_SET", 4, true},
    {"CALIBRATE", 6, true},
    {"MATCH_BIT_1", 7, false},
    {"MATCH_BIT_2", 7, false},
    {"MATCH_BIT_3", 7, false},
    {"MATCH_BIT_4", 7, false},
    {"LIGHT_CTL_BIT_1", 8, false},
    {"LIGHT_CTL_BIT_2", 8, false},
    {"LIGHT_CTL_BIT_3", 8, false},
    {"LIGHT_CTL_BIT_4", 8, false},
};

QStringList tagsAtLevel(int level) {
    QStringList out;
    for (const Tag& t : kTags)
        if (level >= t.level)
            out << QString::fromLatin1(t.name);
    return out;
}

QList<ParameterSpec> buildCatalogue() {
    using G = ParameterGroup;
    Builder b;
    const QStringList eventWords = {"OKDEC", "DECFL", "LOCFL", "OKMATCH", "MATCHFL", "RTE"};

    // Application mode.
    b.add("TRIG", {words({"T", "C"}, "C")}, 0, 99, G::AppMode, "trigger mode: T input trigger, C continuous");
    b.add("TRIG U", {text(32, "VT 2")}, 0, 99, G::AppMode,
          "user trigger string; a line equal to it triggers");
    b.add("TE", {words({"P", "N", "B"}, "P")}, 0, 99, G::AppMode, "triggering edge of OPTO IN 1");
    {
        const FieldSpec isw = range(35, 60000, "500", {"0"});
        QList<FieldSpec> common = {words({"NONE", "TIME", "COUNT", "GPIO", "SUPERMARKET"}, "NONE"),
                                   range(35, 60000, "500"), range(1, 15, "3"), isw};
        b.add("RETRYEX", common, 0, 3, G::AppMode, "retry mode, time, count, inter-symbol wait");
        for (int variant = 0; variant < 2; ++variant) {
            const int level = variant == 0 ? 4 : 7;
            const int slotCount = variant == 0 ? 3 : 15;
            QList<FieldSpec> f = common;
            f[0] = words({"NONE", "TIME", "COUNT", "GPIO", "SUPERMARKET", "LIST", "LIGHT"}, "NONE");
            for (int i = 0; i < slotCount; ++i)
                f << range(0, 15, "0");
            f << lighting(level, "ON") << range(0, 15, "0") << words({"N", "A"}, "N");
            b.add("RETRYEX", f, level, variant == 0 ? 6 : 99, G::AppMode,
                  QString("retry fields plus %1 PID slotCount, retry lighting, its PID, list acquire flag")
                      .arg(slotCount));
        }
    }
    b.add("PHOTOEX",
          {words({"AUTO", "MANUAL"}, "AUTO"), range(30, 20000, "1000"), range(0, 1023, "100"),
           range(30, 19999, "30"), range(31, 20000, "20000"), range(0, 1022, "0"), range(1, 1023, "1023")},
          0, 99, G::AppMode, "photometry mode, exposure, gain, auto exposure min/max, auto gain min/max");
    b.add("ILLUM", {lighting(3, "ON")}, 0, 3, G::AppMode, "illumination mode");
    b.add("ILLUM", {lighting(4, "ON")}, 4, 99, G::AppMode,
          "illumination mode (external lighting from level 4)");
    b.add("TARGET", {words({"OFF", "ON", "T"}, "OFF")}, 0, 99, G::AppMode,
          "targeting laser: OFF, ON, or T (a 2-second strobe, then OFF)");
    b.add("TIMEOUT READ", {range(0, 9999, "500")}, 0, 99, G::AppMode,
          "read time-out in ms: ends a triggered cycle's retries (0 none)");
    b.add("DWELLTIME", {range(0, 60, "0")}, 0, 99, G::AppMode,
          "report budget in ms: ends a cycle's retries (0 none)");
    b.add("MORPH", {words({"NONE", "ERODE", "DILATE", "OPEN", "CLOSE"}, "NONE"), range(0, 5, "1")}, 0, 99,
          G::AppMode, "image preprocessing and iterations");
    b.add("NEGATIVE", {onOff("OFF")}, 5, 99, G::AppMode, "negative image");
    b.add("ROI", {range(0, 658, "0"), range(0, 493, "0"), range(0, 658, "658"), range(0, 493, "493")}, 0, 99,
          G::AppMode, "search area left, top, right, bottom in image pixels");

    // Symbology and verification.
    b.add("NUMDM", {range(0, 1, "1")}, 0, 99, G::Decoder, "number of Data Matrix symbols");
    b.add("NUMBC", {range(0, 1, "0")}, 0, 99, G::Decoder, "number of barcodes");
    b.add("BARCODE ENABLE", {hexMask(0xFFF, "0x1")}, 0, 3, G::Decoder,
          "enabled barcode mask (12 symbologies)");
    b.add("BARCODE ENABLE", {hexMask(0x3FFFF, "0x1")}, 4, 99, G::Decoder,
          "enabled barcode mask (18 symbologies)");
    b.add("VERIFY", {words({"NONE"}, "NONE")}, 0, 3, G::Other, "verification standard (none before level 4)");
    b.add("VERIFY", {words({"NONE", "AIM", "ANSI", "IAQG", "KVTA", "ISO", "ISOAIM"}, "NONE")}, 4, 6, G::Other,
          "verification standard; DPM is spelled KVTA, AIM DPM ISOAIM");
    b.add("VERIFY",
          {withAliases(words({"NONE", "AIM", "ANSI", "IAQG", "DPM", "ISO", "ISOAIM"}, "NONE"),
                       {{"KVTA", "DPM"}})},
          7, 7, G::Other, "verification standard; AIM DPM is spelled ISOAIM");
    b.add("VERIFY",
          {withAliases(words({"NONE", "AIM", "ANSI", "IAQG", "DPM", "ISO", "AIMDPM"}, "NONE"),
                       {{"KVTA", "DPM"}, {"ISOAIM", "AIMDPM"}})},
          8, 99, G::Other, "verification standard");
    b.add("VERSTATUS", {grade("B"), grade("C")}, 4, 99, G::Other,
          "global quality range: worst Good, worst Fair");
    for (const char* row : {"CS", "CO", "SO", "CM", "BM", "SC", "AN", "PG", "UEC", "AD"})
        b.add(QString("VERENABLE %1").arg(row), {yesNo("Y"), grade("B"), grade("C")}, 4, 99, G::Other,
              "DPM parameter check: enabled, worst Good, worst Fair");
    b.readOnly("XLIGHTCHANNELS", {range(0, 10, "0")}, 8, 99,
               "number of external light channels (0, 1 or 10)");
    {
        QStringList lights = kLightNames.mid(1);
        lights.prepend("OFF");
        b.add("LIGHT_CTL", {words(lights, "OFF")}, 8, 99, G::Other, "selected external light");
    }
    b.add("WAVELENGTH", {range(280, 880, "625")}, 8, 99, G::Other, "light channel wavelength in nm");
    b.add("XLIGHTCHANNEL_0_ALIASNAME", {identifier(11, "INTERNAL")}, 8, 99, G::Other,
          "name of light channel 0");
    b.add("XLIGHTCHANNEL_1_ALIASNAME", {identifier(11, "90")}, 8, 99, G::Other, "name of light channel 1");
    b.add("TARGET_CALIB_CONTRAST", {range(1, 99, "80")}, 9, 99, G::Other, "calibration target contrast");
    b.add("TARGET_CALIB_REFLECTANCE", {range(1, 99, "85")}, 9, 99, G::Other,
          "calibration target reflectance maximum");
    b.add("APERTURE", {range(4, 20, "AUTO", {"AUTO"})}, 4, 99, G::Decoder, "verification aperture");
    b.add("CELL_UNIT_REPORT", {words({"PIXELS", "MILS"}, "PIXELS")}, 4, 99, G::Decoder,
          "cell unit of reports");
    b.add("CONTRAST_REPORT",
          {words({"UNCALIBRATED", "REFLECTANCE_CALIBRATED", "SELF_CALIBRATED"}, "UNCALIBRATED")}, 4, 8,
          G::Decoder, "contrast of reports");
    b.add("XDIMENSION", {range(11, 990, "990"), range(10, 989, "10")}, 9, 99, G::Decoder,
          "maximum and minimum X dimension (MILS*10)");
    // The contrast calibration of the internal light and of each external light. Written back as
    // read, CONTRASTCAL cancels the calibration of the current light.
    b.add("CONTRASTCAL",
          {words({"Y", "N"}, "N"), range(30, 20000, "1000"), range(0, 1023, "100"), range(0, 255, "255"),
           range(0, 255, "0")},
          9, 99, G::Other,
          "internal light calibration: calibrated, exposure, gain, contrast max, contrast min");
    for (const QString& light : kLightNames.mid(1))
        b.add("XLIGHTCONTRASTCAL " + light,
              {words({"Y", "N"}, "N"), range(30, 20000, "1000"), range(0, 1023, "100"), range(0, 255, "255"),
               range(0, 255, "0")},
              9, 99, G::Other,
              "external light calibration: calibrated, exposure, gain, contrast max, contrast min");

    // Decoder tuning.
    b.add("COLS", {range(8, 144, "AUTO", {"AUTO"})}, 0, 99, G::Decoder, "Data Matrix columns");
    b.add("ROWS", {range(8, 144, "AUTO", {"AUTO"})}, 0, 99, G::Decoder, "Data Matrix rows");
    b.add("ECC", {words({"AUTO", "0", "50", "80", "100", "140", "200", "SPEC"}, "AUTO")}, 0, 99, G::Decoder,
          "ECC level");
    b.add("POL", {words({"AUTO", "DL", "LD"}, "AUTO")}, 0, 99, G::Decoder, "Data Matrix polarity");
    b.add("STYLE", {words({"AUTO", "NORMAL", "MIRROR"}, "AUTO")}, 0, 99, G::Decoder, "image style");
    b.add("WARP", {words({"FAST", "SLOW"}, "FAST")}, 0, 99, G::Decoder, "warp type");
    b.add("ORIENT", {range(1, 8, "AUTO", {"AUTO"})}, 0, 99, G::Decoder, "orientation");
    b.add("RATIO", {range(3, 50, "AUTO", {"AUTO"})}, 0, 99, G::Decoder, "width/height ratio");
    b.add("CELL SAMPLE", {range(1, 7, "3")}, 0, 99, G::Decoder, "cell sample");
    b.add("CELL SIZE", {range(3, 20, "6")}, 0, 99, G::Decoder, "pixels per cell");
    b.add("HEIGHT", {range(20, 1024, "AUTO", {"AUTO"})}, 0, 99, G::Decoder, "matrix height");
    b.add("WIDTH", {range(20, 1024, "AUTO", {"AUTO"})}, 0, 99, G::Decoder, "matrix width");
    b.add("PROBE DIRECTION",
          {words({"CRISS_CROSS", "HORIZONTAL", "VERTICAL", "HORI_VERT", "VERT_HORI"}, "CRISS_CROSS")}, 0, 99,
          G::Decoder, "probe direction");
    b.add("PROBE SPEED", {words({"NORMAL", "OVERDRIVE", "TURBO"}, "NORMAL")}, 0, 99, G::Decoder,
          "probe speed");
    b.add("PROBE THRESHOLD", {range(5, 100, "20")}, 0, 99, G::Decoder, "probe threshold");
    b.add("BARHPS", {range(8, 256, "16")}, 0, 99, G::Decoder, "barcode horizontal probe spacing");
    b.add("BARVPS", {range(8, 256, "16")}, 0, 99, G::Decoder, "barcode vertical probe spacing");
    b.add("BARHGT MIN", {range(4, 400, "10")}, 0, 99, G::Decoder, "minimum barcode height");
    b.add("BARHGT MAX", {range(4, 400, "400")}, 0, 99, G::Decoder, "maximum barcode height");
    b.add("BARLEN MIN", {range(20, 600, "20")}, 0, 99, G::Decoder, "minimum barcode length");
    b.add("BARLEN MAX", {range(20, 600, "600")}, 0, 99, G::Decoder, "maximum barcode length");
    b.add("BARWDT MIN", {range(1, 100, "1")}, 0, 99, G::Decoder, "minimum bar width");
    b.add("BARWDT MAX", {range(1, 100, "20")}, 0, 99, G::Decoder, "maximum bar width");
    b.add("BARNUM MIN", {range(2, 100, "5")}, 0, 99, G::Decoder, "minimum number of bars");
    b.add("BARNUM MAX", {range(2, 100, "100")}, 0, 99, G::Decoder, "maximum number of bars");
    b.add("BARQZ", {range(5, 100, "10")}, 4, 99, G::Decoder, "minimum quiet zone length");
    b.add("BARTHRES", {range(5, 100, "20")}, 4, 99, G::Decoder, "minimum threshold");
    b.add("BARCONF", {range(0, 100, "50")}, 4, 99, G::Decoder, "barcode confidence");
    b.add("BARPRB", {words({"HORI", "VERT", "HORI_VERT", "VERT_HORI"}, "HORI_VERT")}, 4, 99, G::Decoder,
          "barcode probe direction");
    b.add("BC_DECODE_NEAR_CENTER", {words({"OFF", "ON"}, "OFF")}, 4, 99, G::Decoder,
          "barcode decode near centre");
    b.add("POSITION_ENHANCE_ENABLED", {onOff("ON")}, 4, 99, G::Decoder, "position enhance");
    b.add("INTENSITY_ENHANCE_ENABLED", {onOff("OFF")}, 4, 99, G::Decoder, "intensity enhance");
    b.add("NO_QUIET_ZONE_CLUTTER", {onOff("OFF")}, 4, 99, G::Decoder, "no quiet zone clutter");
    b.add("DM_IGNORE_SINGLE_EDGES", {onOff("OFF")}, 5, 99, G::Decoder, "ignore single edges");
    b.add("DM_FINETUNE_RESERVED", {onOff("OFF")}, 5, 99, G::Decoder, "reserved fine-tune switch");
    b.add("NO_TOP_TIMING_BORDER", {onOff("OFF")}, 4, 4, G::Decoder, "no top timing border");
    b.add("NO_RIGHT_TIMING_BORDER", {onOff("OFF")}, 4, 4, G::Decoder, "no right timing border");
    b.add("DM_ALLOW_STEEP_ANGLE", {onOff("OFF")}, 4, 99, G::Decoder, "allow steep angle");
    b.add("DM_ALLOW_SEVERE_DAMAGE", {onOff("OFF")}, 4, 99, G::Decoder, "allow severe damage");
    b.add("DM_ENSURE_ROI", {onOff("OFF")}, 4, 99, G::Decoder, "ensure region of interest");
    b.add("DM_DECODE_NEAR_CENTER", {onOff("OFF")}, 4, 99, G::Decoder, "Data Matrix decode near centre");
    b.add("DM_CELL_OUTLINE", {onOff("OFF")}, 4, 99, G::Decoder, "cell outline");
    b.add("BCPOL", {words({"AUTO", "DL", "LD"}, "AUTO")}, 4, 99, G::Decoder, "barcode polarity");
    b.add("BCSTART", {onOff("OFF")}, 4, 99, G::Decoder, "start/stop checking");
    b.add("BCCHKSUM", {onOff("OFF")}, 4, 4, G::Decoder, "check sum checking");
    for (const char* sym : {"BAR412", "BAR39", "BAR25"})
        b.add(QString("BCCHKSUMEX %1").arg(sym), {onOff("OFF"), onOff("OFF")}, 5, 99, G::Decoder,
              "optional check sum enable, remove check sum from display");
    b.add("BCDECFWD", {onOff("ON")}, 4, 99, G::Decoder, "decode forward/backward");
    b.add("QRFINDER", {range(0, 6, "2"), keepIfEmpty(range(0, 6, "0"))}, 4, 99, G::Decoder,
          "finder pattern misalignment; the second field is reserved (an empty field keeps it)");
    b.add("BC_UPC_AS_EAN", {onOff("OFF")}, 7, 99, G::Decoder, "output UPC as EAN");

    // Output.
    for (const QString& ev : eventWords + QStringList{"MATCH"})
        b.add(ev,
              {yesNo(ev == "OKDEC" ? "Y" : "N"), text(128, ev == "OKDEC" ? "(DATA)" : ""), yesNo("N"),
               yesNo("N"), range(0, 3, ev == "OKDEC" ? "1" : "0")},
              0, 99, G::Other, "event report: enabled, text, header, trailer, beeps");
    b.add("OUTPUT FORMAT", {words({"RAW", "HEX"}, "RAW")}, 0, 99, G::Other,
          "decoded data raw or hexadecimal");
    b.add("HEADER", {text(128, "")}, 0, 99, G::Other, "common header text");
    b.add("TRAILER", {text(128, "\\0d\\0a")}, 0, 99, G::Other, "common trailer text");
    b.add("OUTPUT BEEP",
          {range(0, 3, "1"), range(0, 3, "0"), range(0, 3, "0"), range(0, 3, "0"), range(0, 3, "0"),
           range(0, 3, "0")},
          3, 99, G::Other, "beep counts of OKDEC, DECFL, LOCFL, OKMATCH, MATCHFL, RTE");
    b.add("BEEP", {yesNo("Y")}, 0, 99, G::Other, "beeper on");
    for (const char* port : {"STANDARD", "TCP1", "TCP2", "TCP3", "TCP4"}) {
        for (const QString& ev : eventWords)
            b.add(QString("OUTPUT %1 %2").arg(port, ev),
                  {yesNo(ev == "OKDEC" ? "Y" : "N"), text(128, ev == "OKDEC" ? "(DATA)" : ""),
                   words({"H", "T", "H_T", "NONE"}, "NONE")},
                  3, 99, G::Other, "port report: enabled, format, header/trailer use");
        b.add(QString("OUTPUT %1 H_T").arg(port), {text(128, ""), text(128, "\\0d\\0a")}, 3, 99, G::Other,
              "port header and trailer formats");
        b.add(QString("OUTPUT %1 FIXED").arg(port), {range(0, 254, "0")}, 3, 99, G::Other,
              "port fixed buffer length");
    }

    // Matching.
    b.add("MATCHEX",
          {words({"N", "T", "S", "B"}, "N"), text(128, ""), range(0, 2147483647, "0"),
           range(-1000, 1000, "1"), range(1, 1000, "1"), range(1, 1000, "1")},
          0, 99, G::Other, "match mode, match string, start count, increment, first and last position");
    for (int n = 1; n <= 15; ++n)
        b.add(QString("MATCH_LIST %1").arg(n), {text(128, "")}, 7, 99, G::Other, "match list string");
    b.add("MATCH_LIST_ENABLE", {onOff("OFF")}, 7, 99, G::Other, "match list on");

    // IO.
    for (const char* line : {"PASS", "FAIL", "DV"})
        b.add(QString("SIGOUT %1").arg(line), {words({"H", "L"}, "H")}, 0, 3, G::Other, "output polarity");
    const QStringList lines = {"OPTO_OUT1", "OPTO_OUT2", "OPTO_OUT3", "GPIO_OUT1",
                               "GPIO_OUT2", "GPIO_OUT3", "GPIO_OUT4"};
    for (const QString& line : lines)
        b.add("SIGOUT " + line, {words({"H", "L"}, "H")}, 4, 99, G::Other, "line polarity");
    b.add("SIGOUT RTE", {words({"H", "L"}, "H")}, 0, 99, G::Other, "RTE output polarity");
    b.add("IO_MODE",
          {words({"NONE", "LX_HS", "LX_PULSE", "DV_HS", "DV_PULSE"}, "NONE"), range(0, 1500, "50")}, 0, 3,
          G::Other, "IO handshake mode and signal duration (ms a pipelined result line stays on)");
    b.add("IO_MODE",
          {words({"NONE", "LX_HS", "LX_PULSE", "DV_HS", "DV_PULSE", "DV_2LINE_HS", "DV_3LINE_HS",
                  "DV_2LINE_PULSE", "DV_3LINE_PULSE"},
                 "NONE"),
           range(0, 1500, "50")},
          4, 99, G::Other, "IO handshake mode and signal duration (ms a pipelined result line stays on)");
    for (const Tag& t : kTags) {
        const QStringList types = t.input ? QStringList{"INPUT_POS", "INPUT_NEG", "INPUT_BOTH"}
                                          : QStringList{"BOOL", "MASK", "NOMINAL_DEV", "MAX_MIN"};
        const QString name = QString::fromLatin1(t.name);
        const QString def = t.input ? "INPUT_POS"
                                    : (name == "ANGLE_FAILURE"    ? "NOMINAL_DEV"
                                       : name == "LOCATE_FAILURE" ? "MASK"
                                                                  : "BOOL");
        const QString a1 = t.input ? "0"
                                   : (name == "ANGLE_FAILURE"    ? "0"
                                      : name == "LOCATE_FAILURE" ? "0x7FFFFFFF"
                                                                 : "");
        const QString a2 = t.input ? "0" : (name == "ANGLE_FAILURE" ? "15" : "");
        b.add("SET_CRITERIA " + name, {quotedWord(words(types, def)), text(24, a1), text(24, a2)}, t.level,
              99, G::Other, "criterion type and its two arguments");
    }
    // The tag words a line takes grow with the level; "CLEAR" unassigns it.
    const QList<QPair<int, int>> tagLevels = {{4, 5}, {6, 6}, {7, 7}, {8, 99}};
    for (const QString& line : lines)
        for (const auto& lv : tagLevels) {
            FieldSpec f = quotedWord(words(tagsAtLevel(lv.first), ""));
            f.aliases = {{"CLEAR", ""}};
            f.words << "";
            b.add("IOASSIGN " + line, {f}, lv.first, lv.second, G::Other,
                  "tag driven onto or read from the line (input tags on GPIO lines only)");
        }
    for (int n = 2; n <= 6; ++n) {
        FieldSpec pid = range(1, 15, "CLEAR", {"CLEAR"});
        pid.aliases = {{"0", "CLEAR"}};
        b.add(QString("ASSIGNEX %1").arg(n), {pid}, 4, 99, G::Other,
              n == 2 ? "PID selected by OPTO IN 1" : "PID selected by an input on a GPIO line");
    }
    b.add("TD", {range(0, 10000, "0")}, 4, 99, G::Other, "OPTO input trigger delay in ms");
    b.add("TBL", {range(0, 10000, "0")}, 4, 99, G::Other,
          "OPTO input latch in ms: an input stays asserted at least this long");

    // Communication. IP field 0 is the reader's name; address changes take effect at the next boot.
    b.add("DHCP", {yesNo("N")}, 0, 99, G::Other, "use DHCP");
    b.add("IP", {name(15, "LUMIVEX"), address("127.0.0.1"), address("255.0.0.0"), address("0.0.0.0")}, 0, 99,
          G::Other, "camera name, address, subnet mask, gateway");
    b.readOnly("MACADDR", {identifier(17, "02:00:7F:00:00:01")}, 0, 99, "MAC address");
    b.add("DOMAIN", {name(63, "local")}, 0, 99, G::Other, "domain");
    b.add("TTY",
          {words({"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}, "115200"),
           words({"N", "O", "E"}, "N"), words({"7", "8"}, "8"), words({"1", "2"}, "1"),
           words({"N", "X", "H"}, "N")},
          0, 99, G::Other, "reader serial port: baud, parity, data bits, stop bits, flow control");
    b.add("EIPENABLE", {yesNo("N")}, 3, 99, G::Other, "Ethernet/IP");

    // Part queue.
    b.add(
        "PARTQ",
        {words({"N", "Y", "R"}, "N"),
         words({"ALL", "PASSED", "FAILED", "VER_GOOD_FAIR_POOR_FAILED", "VER_GOOD_FAIR_POOR", "VER_GOOD_FAIR",
                "VER_GOOD", "VER_FAIR", "VER_POOR", "VER_FAILED", "VER_POOR_FAILED", "VER_FAIR_POOR_FAILED"},
               "ALL"),
         range(0, 2147483647, "100")},
        0, 99, G::Other, "part queue mode, qualifier, maximum records");
    b.add("PARTQFAIL", {words({"ALL", "LOCFL", "DECFL", "MATCHFL", "RTE"}, "ALL")}, 0, 99, G::Other,
          "part queue failure kind");
    b.add("PARTQFTP", {text(64, ""), text(128, ""), yesNo("N"), yesNo("N")}, 0, 6, G::Other,
          "FTP host, path, save results, save images");
    b.add("PARTQFTPEX", {text(64, ""), text(128, ""), yesNo("N"), yesNo("N"), range(0, 9999, "0")}, 7, 99,
          G::Other, "FTP host, path, save results, save images, maximum FTP records");
    b.readOnly("PARTQCAPACITY", {range(0, 1000000, "203"), range(0, 1000000, "32768")}, 4, 99,
               "approximate queue capacity with and without images: 64 MiB divided by a part's size (see "
               "protocol.md)");

    return b.list;
}

struct Index {
    QList<ParameterSpec> list;
    QHash<QString, QList<int>> byName;
    int longest = 1;
};

const Index& index() {
    static const Index idx = [] {
        Index i;
        i.list = buildCatalogue();
        for (int k = 0; k < i.list.size(); ++k) {
            i.byName[i.list[k].name].append(k);
            i.longest = std::max(i.longest, int(i.list[k].name.count(QLatin1Char(' ')) + 1));
        }
        return i;
    }();
    return idx;
}

QString describeField(const FieldSpec& f) {
    QString d;
    switch (f.kind) {
    case FieldKind::Choice: {
        QStringList parts;
        if (!f.words.isEmpty()) {
            QStringList shown;
            for (const QString& w : f.words)
                shown << (w.isEmpty() ? QStringLiteral("\"\"") : w);
            parts << shown.join(QLatin1Char('|'));
        }
        if (f.ranged)
            parts << QString("%1..%2").arg(f.min).arg(f.max);
        d = parts.join(QLatin1String(" or "));
        if (f.quoted)
            d += QLatin1String(" (quoted)");
        break;
    }
    case FieldKind::Text:
        d = QString("text up to %1, quoted").arg(f.maxLength);
        break;
    case FieldKind::HexMask:
        d = QString("0x mask up to 0x%1").arg(QString::number(f.max, 16).toUpper());
        break;
    case FieldKind::Address:
        d = QStringLiteral("a.b.c.d");
        break;
    case FieldKind::Identifier:
        d = QString("word up to %1").arg(f.maxLength);
        break;
    }
    for (const auto& a : f.aliases)
        d += QString(", %1 means %2").arg(a.first, a.second.isEmpty() ? QStringLiteral("\"\"") : a.second);
    if (f.keepIfEmpty)
        d += QLatin1String(", empty keeps");
    return d;
}

QString levelText(int minLevel, int maxLevel) {
    if (minLevel <= 2 && maxLevel >= 99)
        return QStringLiteral("all");
    if (maxLevel >= 99)
        return QString("%1+").arg(minLevel);
    if (minLevel <= 2)
        return QString("up to %1").arg(maxLevel);
    if (minLevel == maxLevel)
        return QString::number(minLevel);
    return QString("%1-%2").arg(minLevel).arg(maxLevel);
}

} // namespace

QString fieldDescription(const FieldSpec& field) {
    return describeField(field);
}

int firmwareLevelOf(const QString& softwareVersion) {
    const QStringList p = softwareVersion.split(QLatin1Char('.'));
    if (p.size() < 3)
        return 0;
    bool okA = false, okB = false, okC = false;
    const int a = p[0].toInt(&okA), b = p[1].toInt(&okB), c = p[2].toInt(&okC);
    if (!okA || !okB || !okC)
        return 0;
    if (a == 0)
        return 99;
    if (a == 1) {
        if (b >= 1 && b <= 3)
            return 3;
        if (b == 0 && c == 1)
            return 2;
        return 0;
    }
    if (a == 2) {
        if (b == 0)
            return c == 1 ? 5 : 4;
        if (b >= 1 && b <= 4)
            return b + 5;
        return 4;
    }
    if (a == 3)
        return 10;
    return 0;
}

QString softwareVersionForLevel(int level) {
    switch (level) {
    case 2:
        return QStringLiteral("1.0.1.13");
    case 3:
        return QStringLiteral("1.1.0.32");
    case 4:
        return QStringLiteral("2.0.2.0");
    case 5:
        return QStringLiteral("2.0.1.5");
    case 6:
        return QStringLiteral("2.1.0.4");
    case 7:
        return QStringLiteral("2.2.0.6");
    case 8:
        return QStringLiteral("2.3.0.0");
    case 9:
        return QStringLiteral("2.4.1.2");
    case 10:
        return QStringLiteral("3.0.2.1");
    case 99:
        return QStringLiteral("0.0.0.0");
    default:
        return QString();
    }
}

QList<int> firmwareLevels() {
    return {2, 3, 4, 5, 6, 7, 8, 9, 10, 99};
}

bool levelInRange(int level, int minLevel, int maxLevel) {
    return level >= minLevel && level <= maxLevel;
}

const QList<ParameterSpec>& parameterCatalogue() {
    return index().list;
}

const ParameterSpec* findParameter(const QString& name, int level) {
    const Index& idx = index();
    const auto it = idx.byName.constFind(name);
    if (it == idx.byName.constEnd())
        return nullptr;
    for (int k : *it)
        if (levelInRange(level, idx.list[k].minLevel, idx.list[k].maxLevel))
            return &idx.list[k];
    return nullptr;
}

bool isKnownParameterName(const QString& name) {
    return index().byName.contains(name);
}

int longestParameterName() {
    return index().longest;
}

const QStringList& lightNames() {
    return kLightNames;
}

QString commandCatalogueMarkdown() {
    QString out;
    out += QLatin1String("# The reader's command catalogue\n\n");
    out += QLatin1String(
        "Generated by `lumivex-sim --list-commands` from the simulated reader's parameter table "
        "(sim/catalogue.cpp). Firmware levels follow the software version (2 to 10, 99 for development "
        "readers, which have everything the newest generation has).\n\n"
        "A parameter is queried by its name alone and written by its name followed by every field. "
        "Writes need programming control; the reader checks the number of fields and every value and "
        "answers `!<KEYWORD> OK` or `!<KEYWORD> ERROR <code> <text>` (codes in docs/protocol.md). "
        "Keywords and words are case-insensitive; text fields keep their case and travel in double "
        "quotes.\n\n");
    out +=
        QLatin1String("## Parameters\n\n| Name | Levels | Fields (default) | Meaning |\n|---|---|---|---|\n");
    for (const ParameterSpec& p : parameterCatalogue()) {
        QStringList fs;
        for (int i = 0; i < p.fields.size(); ++i)
            fs << QString("%1: %2 (%3)").arg(i).arg(describeField(p.fields[i]), p.fields[i].defaultValue);
        QString meaning = p.summary;
        if (p.readOnly)
            meaning += QLatin1String(" (read only)");
        if (p.group == ParameterGroup::Decoder)
            meaning += QLatin1String(" [RESET DECODER]");
        else if (p.group == ParameterGroup::AppMode)
            meaning += QLatin1String(" [RESET APPMODE]");
        out += QString("| %1 | %2 | %3 | %4 |\n")
                   .arg(p.name, levelText(p.minLevel, p.maxLevel),
                        fs.join(QLatin1String("; ")).replace('|', "\\|"), meaning);
    }
    out += QLatin1String("\n## Commands\n\n| Command | Reply |\n|---|---|\n");
    const QList<QPair<const char*, const char*>> commands = {
        {"STATION <name>",
         "names the asking station (a host name, or a PC serial port name; 1 to 64 characters, quotes around "
         "it are dropped, an empty or longer name is refused with error 2)"},
        {"CONTROL", "takes programming control for the asking station, dropping any other station's"},
        {"RELEASE", "gives control back (only the holder's release has an effect)"},
        {"CONTROLLER", "`CONTROLLER \"<station>\"`, empty quotes when nobody holds control"},
        {"VERSION", "`VERSION a.b.c.d`"},
        {"NAME [\"<new>\"]", "`NAME \"<name>\"`; with a value renames the reader (control)"},
        {"SAVE", "writes the configuration to the reader's flash (control)"},
        {"RESET DECODER", "factory defaults of the decoder group (control)"},
        {"RESET APPMODE", "factory defaults of the application mode group (control)"},
        {"SHOW CONFIG", "every writable parameter as a command line, stable order, then `!SHOW OK`"},
        {"SHOW DEFAULTS", "the same listing with the factory values (name and address stay the unit's own)"},
        {"DIR", "`PIDn: <stored time>` per stored PID, then `DIR <count> PIDS`"},
        {"STORE n / LOAD n", "copies the configuration to / from PID n, 1 to 15 (control)"},
        {"STATS", "`STATS <triggers> <passes> <fails> <noreads> <overruns> <timeouts>`"},
        {"STATS RESET", "clears the counters (control)"},
        {"CAPTURE CAMERA / CAPTURE FILES",
         "image source: the camera, or the transferred files in turn (control)"},
        {"DRIVEDELETE FILES", "deletes the transferred files (control)"},
        {"VT <n> or the TRIG U string",
         "a virtual trigger (works without control; the string may end in CR alone)"},
        {"LEARN BOTH / LEARNEX <decoder> <photo> / LEARNASSIST <8 coords> <rows> <cols> <DL|LD>",
         "starts a learn on the next read cycle (control)"},
        {"LEARN CALIBRATE", "calibrates the current light on the next read cycle (control, level 9+)"},
        {"LEARNCANCEL / UNLEARN / PHOTO AUTO",
         "cancels a learn, restores learned decoder settings, automatic photometry"},
        {"CALIBRATED [light]", "`CALIBRATED TRUE|FALSE`, or `CALIBRATED <light> TRUE|FALSE` (level 9+)"},
        {"CALIBRATED_STRING [light] [\"text\"]",
         "the light's calibration text; with a text of up to 64 characters stores it (level 9+)"},
        {"CELL_UNIT / CONTRAST / CAL_MEAN_LIGHT",
         "the current light's calibration values (level 9+): the cell in pixels with two decimals; the "
         "target's contrast maximum, then its minimum, with one; its mean light with one. LEARN CALIBRATE "
         "measures them: a write is refused with error 8, its line in words saying so"},
        {"SETTINGS_HARDWARE / SETTINGS_CUSTOMER / SETTINGS_MANUFACTURING", "factory blocks, line by line"},
        {"OFFLINE / ONLINE", "stops / restarts read cycles (control)"},
        {"REPORTREQ <compression> <image> [NEXTFAIL]",
         "serial line: the next (failed) record as a #RECORD block"},
        {"REPORTCANCEL", "withdraws an outstanding REPORTREQ"},
    };
    for (const auto& c : commands)
        out += QString("| %1 | %2 |\n")
                   .arg(QString::fromLatin1(c.first).replace('|', "\\|"), QString::fromLatin1(c.second));
    return out;
}

} // namespace vm::sim
