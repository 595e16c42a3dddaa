#include "subtitles/subtitleselection.h"

#include "subtitles/subtitlelanguage.h"

#include <functional>

namespace {

// The index of the best track that `rank` gives a positive rank, or -1.
int best(const QList<SubtitleChoice> &tracks, const std::function<int(const SubtitleChoice &)> &rank)
{
    int chosen = -1;
    int chosenRank = 0;
    for (int i = 0; i < tracks.size(); ++i) {
        const int r = rank(tracks.at(i));
        if (r > chosenRank) {
            chosen = i;
            chosenRank = r;
        }
    }
    return chosen;
}

} // namespace

int defaultSubtitleTrack(const QList<SubtitleChoice> &tracks, const QLocale &reader)
{
    // The tag first, the title after it: the tag names the language, the title
    // often adds the script ("chi" + "繁體").
    const auto suits = [&](const SubtitleChoice &track) {
        return SubtitleLanguage::guess(track.language + QLatin1Char(' ') + track.title).suitability(reader);
    };
    const auto known = [](const SubtitleChoice &track) {
        return SubtitleLanguage::guess(track.language + QLatin1Char(' ') + track.title).isKnown();
    };

    int chosen = best(tracks, [&](const SubtitleChoice &track) {
        if (!track.isExternal || track.isForced)
            return 0;
        if (const int s = suits(track))
            return 2 + s;
        return known(track) ? 1 : 2;
    });
    if (chosen < 0)
        chosen = best(tracks, [&](const SubtitleChoice &track) {
            return track.isDefault && !track.isForced && !track.isExternal ? 1 + suits(track) : 0;
        });
    if (chosen < 0)
        chosen = best(tracks, [&](const SubtitleChoice &track) {
            return track.isForced ? 0 : suits(track);
        });
    if (chosen < 0)
        chosen = best(tracks, [&](const SubtitleChoice &track) {
            if (!track.isForced)
                return 0;
            if (const int s = suits(track))
                return 1 + s;
            return known(track) ? 0 : 1;
        });
    return chosen;
}
