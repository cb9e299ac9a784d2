#include "sim/learn.h"

#include "sim/decoder.h"
#include "sim/imaging.h"
#include "sim/imagingparameters.h"

#include <cmath>

namespace vm::sim {

namespace {

bool fail(QString* error, const QString& text) {
    if (error)
        *error = text;
    return false;
}

} // namespace

std::optional<LearnRequest> parseLearnCommand(const QStringList& words, QString* error) {
    if (words.isEmpty()) {
        fail(error, QStringLiteral("empty command"));
        return std::nullopt;
    }
    const QString keyword = words.first().toUpper();
    LearnRequest request;
    if (keyword == QLatin1String("LEARN")) {
        if (words.size() != 2 || words.at(1).toUpper() != QLatin1String("BOTH")) {
            fail(error, QStringLiteral("LEARN takes BOTH or CALIBRATE"));
            return std::nullopt;
        }
        request.decoder = request.photometry = true;
        return request;
    }
    if (keyword == QLatin1String("LEARNEX")) {
        if (words.size() != 3) {
            fail(error, QStringLiteral("LEARNEX takes a decoder and a photometry field"));
            return std::nullopt;
        }
        const QString decoder = words.at(1).toUpper();
        const QString photo = words.at(2).toUpper();
        if ((decoder != QLatin1String("BOTH") && decoder != QLatin1String("NONE") &&
             decoder != QLatin1String("DM") && decoder != QLatin1String("BC")) ||
            (photo != QLatin1String("PHOTO") && photo != QLatin1String("NONE"))) {
            fail(error, QStringLiteral("LEARNEX takes BOTH, DM, BC or NONE, then PHOTO or NONE"));
            return std::nullopt;
        }
        request.decoder = decoder != QLatin1String("NONE");
        request.photometry = photo == QLatin1String("PHOTO");
        return request;
    }
    if (keyword == QLatin1String("LEARNASSIST")) {
        if (words.size() != 12) {
            fail(error, QStringLiteral("LEARNASSIST takes four corners, rows, columns and a polarity"));
            return std::nullopt;
        }
        for (int i = 0; i < 4; ++i) {
            bool okX = false, okY = false;
            const double x = words.at(1 + 2 * i).toDouble(&okX);
            const double y = words.at(2 + 2 * i).toDouble(&okY);
            if (!okX || !okY) {
                fail(error, QStringLiteral("LEARNASSIST corner %1 is not a pair of numbers").arg(i));
                return std::nullopt;
            }
            request.region << QPointF(x, y);
        }
        bool okR = false, okC = false;
        request.rows = words.at(9).toInt(&okR);
        request.cols = words.at(10).toInt(&okC);
        request.polarity = words.at(11).toUpper();
        if (!okR || !okC || request.rows < 8 || request.rows > 144 || request.cols < 8 ||
            request.cols > 144) {
            fail(error, QStringLiteral("LEARNASSIST rows and columns lie between 8 and 144"));
            return std::nullopt;
        }
        if (request.polarity != QLatin1String("DL") && request.polarity != QLatin1String("LD")) {
            fail(error, QStringLiteral("LEARNASSIST polarity is DL or LD"));
            return std::nullopt;
        }
        request.decoder = true;
        request.assisted = true;
        return request;
    }
    fail(error, QStringLiteral("not a learn command"));
    return std::nullopt;
}

LearnOutcome runLearn(const LearnRequest& request, const FieldReader& fields, const Shooter& shoot,
                      int currentExposure, int currentGain) {
    LearnOutcome outcome;
    // A photometry-only learn reports decoder status 0 so that its code reads 4.
    outcome.code = request.photometry ? 0 : -1;
    outcome.exposure = currentExposure;
    outcome.gain = currentGain;
    const DecoderSettings searching = [&] {
        DecoderSettings s = DecoderSettings::searchAll();
        if (request.assisted) {
            s.region = request.region;
            s.rows = request.rows;
            s.cols = request.cols;
            s.polarity = request.polarity;
            s.barcodes = false;
        }
        return s;
    }();

    bool photometryLearned = false;
    if (request.photometry) {
        // Sweep the exposure and keep the one that gives the located symbol the most
        // contrast. The symbol is what counts: a bright label elsewhere in the view may
        // clip without harm.
        int bestExposure = 0, bestGain = 0;
        double bestContrast = -1;
        const int minExposure = std::max(30, fields.number("PHOTOEX", 3));
        const bool powerStrobe = Camera::isPowerStrobe(fields.text("ILLUM", 0).toUpper());
        const int maxExposure =
            std::max(minExposure, std::min(powerStrobe ? 1000 : 20000, fields.number("PHOTOEX", 4)));
        for (int gain : {0, 160, 320, 640}) {
            for (double exposure = minExposure; exposure <= maxExposure * 1.001; exposure *= 1.6) {
                const QImage image = shoot(int(exposure), gain, nullptr);
                const DecodeOutcome decoded = decodeImage(image, searching);
                if (!decoded.found)
                    continue;
                const Photometry p = Camera::measure(image.copy(
                    QPolygonF(decoded.corners).boundingRect().toAlignedRect().intersected(image.rect())));
                if (p.saturated >= 0.01 || p.bright >= 250)
                    continue; // clipped ink or paper loses the symbol's own contrast
                const double contrast = std::abs(p.bright - p.dark) - gain / 64.0; // gain costs noise
                if (contrast > bestContrast) {
                    bestContrast = contrast;
                    bestExposure = int(exposure);
                    bestGain = gain;
                }
            }
            if (bestContrast >= 0)
                break;
        }
        if (bestContrast >= 0) {
            QStringList photo = fields.fields("PHOTOEX");
            photo[0] = QStringLiteral("MANUAL");
            photo[1] = QString::number(bestExposure);
            photo[2] = QString::number(bestGain);
            outcome.writes.append({QStringLiteral("PHOTOEX"), photo});
            outcome.exposure = bestExposure;
            outcome.gain = bestGain;
            photometryLearned = true;
        }
    }

    if (request.decoder) {
        bool good = false;
        const QImage image = shoot(outcome.exposure, outcome.gain, &good);
        const DecodeOutcome decoded = decodeImage(image, searching);
        if (!decoded.found) {
            outcome.code = 0;
        } else if (decoded.symbology == QLatin1String("Data Matrix") && decoded.grid.isValid()) {
            outcome.writes.append({QStringLiteral("NUMDM"), {QStringLiteral("1")}});
            outcome.writes.append({QStringLiteral("ROWS"), {QString::number(decoded.grid.rows)}});
            outcome.writes.append({QStringLiteral("COLS"), {QString::number(decoded.grid.cols)}});
            outcome.writes.append(
                {QStringLiteral("POL"), {decoded.lightOnDark ? QStringLiteral("LD") : QStringLiteral("DL")}});
            outcome.writes.append({QStringLiteral("STYLE"),
                                   {decoded.mirrored ? QStringLiteral("MIRROR") : QStringLiteral("NORMAL")}});
            outcome.code = 2;
        } else if (decoded.barcodeBit != 0) {
            outcome.writes.append({QStringLiteral("NUMBC"), {QStringLiteral("1")}});
            outcome.writes.append(
                {QStringLiteral("BARCODE ENABLE"),
                 {QStringLiteral("0x") + QString::number(decoded.barcodeBit, 16).toUpper()}});
            outcome.writes.append({QStringLiteral("BCPOL"),
                                   {decoded.lightOnDark ? QStringLiteral("LD") : QStringLiteral("DL")}});
            outcome.code = decoded.twoDimensional ? 2 : 1;
        } else {
            outcome.code = 0;
        }
    }
    if (photometryLearned)
        outcome.code += 4;
    return outcome;
}

QList<QPair<QString, QStringList>> unlearnWrites() {
    const QStringList automatic{QStringLiteral("AUTO")};
    return {{QStringLiteral("ROWS"), automatic},
            {QStringLiteral("COLS"), automatic},
            {QStringLiteral("POL"), automatic},
            {QStringLiteral("STYLE"), automatic},
            {QStringLiteral("BCPOL"), automatic}};
}

} // namespace vm::sim
