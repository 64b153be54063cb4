#include "report/emf/EmfTextSearch.h"

#include "report/emf/EmfPlayback.h"

namespace lv26 {

using namespace emf;

std::vector<EmfTextRun> emfTextRuns(const QByteArray& bytes) {
    const EmfHeaderInfo header = readFramedMetafile(bytes);
    std::vector<EmfTextRun> runs;
    try {
        Playback playback(header, nullptr, QTransform());
        playback.collectTexts(&runs);
        playback.run(bytes);
    } catch (const MalformedRecord&) {
        throw EMetafileError();
    }
    return runs;
}

QString foldedForSearch(const QString& text, std::vector<qsizetype>* origins) {
    QString folded;
    folded.reserve(text.size());
    if (origins)
        origins->clear();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size();
        const QString unit = text.mid(i, pair ? 2 : 1);
        for (QChar c : unit.normalized(QString::NormalizationForm_KD).toCaseFolded()) {
            if (c.category() == QChar::Mark_NonSpacing)
                continue;
            folded += c;
            if (origins)
                origins->push_back(i);
        }
        if (pair)
            ++i;
    }
    return folded;
}

std::vector<QRectF> findInEmf(const QByteArray& bytes, const QString& needle) {
    const QString wanted = foldedForSearch(needle.trimmed());
    std::vector<QRectF> found;
    const std::vector<EmfTextRun> runs = emfTextRuns(bytes);
    if (wanted.isEmpty())
        return found;
    for (const EmfTextRun& run : runs) {
        std::vector<qsizetype> origins;
        const QString text = foldedForSearch(run.text, &origins);
        for (qsizetype at = text.indexOf(wanted); at >= 0;
             at = text.indexOf(wanted, at + wanted.size())) {
            const qsizetype first = origins[size_t(at)];
            const qsizetype last = origins[size_t(at + wanted.size() - 1)];
            QRectF box;
            for (qsizetype i = first; i <= last && size_t(i) < run.boxes.size(); ++i)
                box |= run.boxes[size_t(i)];
            found.push_back(box);
        }
    }
    return found;
}

} // namespace lv26
