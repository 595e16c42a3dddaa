#include "subtitles/subtitlefiles.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// Extensions we can read, richest format first.
const QStringList extensions = {QStringLiteral("ass"), QStringLiteral("ssa"),
                                QStringLiteral("srt"), QStringLiteral("vtt")};

bool labelIsForced(const QString &label)
{
    const QStringList words = label.toLower().split(QLatin1Char('.'), Qt::SkipEmptyParts);
    return words.contains(QStringLiteral("forced"));
}

} // namespace

QList<SubtitleFileCandidate> matchSubtitleFiles(const QString &videoPath, const QStringList &fileNames)
{
    const QFileInfo video(videoPath);
    const QString base = video.completeBaseName();
    const QDir folder = video.absoluteDir();

    struct Ranked {
        SubtitleFileCandidate candidate;
        int extensionRank;
    };
    std::vector<Ranked> found;
    for (const QString &name : fileNames) {
        const QFileInfo file(name);
        const int extensionRank = int(extensions.indexOf(file.suffix().toLower()));
        if (extensionRank < 0)
            continue;
        const QString stem = file.completeBaseName();
        if (!stem.startsWith(base, Qt::CaseInsensitive))
            continue;
        QString label;
        if (stem.size() > base.size()) {
            // "film.zh" belongs to "film", "filmmaker" does not.
            if (stem.at(base.size()) != QLatin1Char('.'))
                continue;
            label = stem.mid(base.size() + 1);
        }
        SubtitleFileCandidate candidate;
        candidate.path = folder.filePath(name);
        candidate.label = label;
        candidate.language = SubtitleLanguage::guess(label);
        candidate.forced = labelIsForced(label);
        found.push_back({candidate, extensionRank});
    }

    std::stable_sort(found.begin(), found.end(), [](const Ranked &a, const Ranked &b) {
        const auto key = [](const Ranked &r) {
            return std::make_tuple(r.candidate.forced, !r.candidate.label.isEmpty());
        };
        if (key(a) != key(b))
            return key(a) < key(b);
        const int byLabel = a.candidate.label.compare(b.candidate.label, Qt::CaseInsensitive);
        if (byLabel != 0)
            return byLabel < 0;
        if (a.extensionRank != b.extensionRank)
            return a.extensionRank < b.extensionRank;
        return a.candidate.path < b.candidate.path;
    });

    QList<SubtitleFileCandidate> result;
    for (const Ranked &ranked : found)
        result << ranked.candidate;
    return result;
}

QList<SubtitleFileCandidate> findSubtitleFiles(const QString &videoPath)
{
    const QDir folder = QFileInfo(videoPath).absoluteDir();
    const QStringList names = folder.entryList(QDir::Files | QDir::Readable | QDir::Hidden);
    return matchSubtitleFiles(videoPath, names);
}
