#include "subtitles/subtitlerenderer.h"

#include "subtitles/assrenderer.h"

#include <QLocale>
#include <QPainter>

#include <algorithm>

namespace {

// Pictures decoded ahead of the frames; the demuxer reads a few seconds ahead, and
// a picture track has at most a couple of display sets a second.
constexpr size_t MaxQueuedPictures = 64;

// How long libass keeps a text event whose stream gave no end, until the next one
// arrives and ends it: a hundred hours, longer than anything plays.
constexpr qint64 OpenTextDuration = 100LL * 3600 * 1000;

// Noto Sans CJK (Debian's fonts-noto-cjk) in the shapes of the track's language,
// or of the reader's when the track does not say.
QString cjkFamily(const SubtitleLanguage &language)
{
    QLocale::Language which = language.language;
    QLocale::Script script = language.script;
    if (which != QLocale::Chinese && which != QLocale::Japanese && which != QLocale::Korean) {
        const QLocale system = QLocale::system();
        which = system.language();
        script = system.script();
    }
    switch (which) {
    case QLocale::Japanese: return QStringLiteral("Noto Sans CJK JP");
    case QLocale::Korean: return QStringLiteral("Noto Sans CJK KR");
    case QLocale::Chinese:
        if (script == QLocale::TraditionalHanScript)
            return QStringLiteral("Noto Sans CJK TC");
        break;
    default:
        break;
    }
    return QStringLiteral("Noto Sans CJK SC");
}

QByteArray textKey(const SubtitleEvent &event)
{
    return QByteArray::number(event.startMs) + ':' + QByteArray::number(event.endMs) + ':' + event.assLine;
}

} // namespace

SubtitleRenderer::SubtitleRenderer() = default;

SubtitleRenderer::~SubtitleRenderer() = default;

void SubtitleRenderer::setTrack(const SubtitleFormat &newFormat)
{
    const std::lock_guard<std::mutex> guard(lock);
    pendingTrack = newFormat;
    pendingText.clear();
    pictures.clear();
}

void SubtitleRenderer::setVideoSize(const QSize &size)
{
    const std::lock_guard<std::mutex> guard(lock);
    sharedVideoSize = size;
}

void SubtitleRenderer::addFont(const QString &name, const QByteArray &data)
{
    const std::lock_guard<std::mutex> guard(lock);
    pendingFonts.append({name, data});
}

void SubtitleRenderer::addEvents(const QList<SubtitleEvent> &events)
{
    const std::lock_guard<std::mutex> guard(lock);
    for (const SubtitleEvent &event : events) {
        if (event.isText()) {
            pendingText << event;
            continue;
        }
        const auto after = std::upper_bound(pictures.begin(), pictures.end(), event.startMs,
            [](qint64 start, const QueuedPicture &queued) { return start < queued.event.startMs; });
        pictures.insert(after, QueuedPicture{nextSerial++, event});
        if (pictures.size() > MaxQueuedPictures)
            pictures.pop_front();
    }
}

void SubtitleRenderer::flush()
{
    const std::lock_guard<std::mutex> guard(lock);
    pictures.clear();
}

void SubtitleRenderer::prepare()
{
    applyPending();
    ensureAss();
    ass->prepareFonts();
}

void SubtitleRenderer::ensureAss()
{
    if (ass)
        return;
    ass = std::make_unique<AssRenderer>();
    ass->setFallbackFamily(cjkFamily(format.language));
}

bool SubtitleRenderer::render(QImage &frame, const QRect &videoRect, qint64 ptsMs)
{
    applyPending();
    if (format.kind == SubtitleFormat::Kind::Text && ass)
        return ass->render(frame, videoRect, ptsMs);
    if (format.kind != SubtitleFormat::Kind::Pictures)
        return false;
    std::optional<QueuedPicture> shown;
    {
        const std::lock_guard<std::mutex> guard(lock);
        // The picture showing is the last one begun; those before it are done with.
        while (pictures.size() >= 2 && pictures[1].event.startMs <= ptsMs)
            pictures.pop_front();
        if (!pictures.empty() && pictures.front().event.startMs <= ptsMs && ptsMs < pictures.front().event.endMs)
            shown = pictures.front(); // shares the images, copies no pixels
    }
    if (!shown || shown->event.pictures.isEmpty())
        return false;
    return drawPictures(frame, videoRect, *shown);
}

void SubtitleRenderer::applyPending()
{
    std::optional<SubtitleFormat> track;
    QList<SubtitleEvent> text;
    QList<QPair<QString, QByteArray>> fonts;
    {
        const std::lock_guard<std::mutex> guard(lock);
        track.swap(pendingTrack);
        text.swap(pendingText);
        fonts.swap(pendingFonts);
        videoSize = sharedVideoSize;
    }
    if (!fonts.isEmpty() || (track && track->kind == SubtitleFormat::Kind::Text)) {
        ensureAss();
        for (const auto &font : std::as_const(fonts))
            ass->addFont(font.first, font.second);
    }
    if (track)
        applyTrack(*track);
    if (format.kind != SubtitleFormat::Kind::Text || !ass)
        return;
    for (const SubtitleEvent &event : std::as_const(text))
        addText(event);
    if (videoSize.isValid())
        ass->setStorageSize(videoSize);
}

void SubtitleRenderer::applyTrack(const SubtitleFormat &newFormat)
{
    format = newFormat;
    seenText.clear();
    openText.clear();
    scaled.clear();
    scaledSerial = 0;
    if (!ass)
        return;
    if (format.kind == SubtitleFormat::Kind::Text) {
        ass->setFallbackFamily(cjkFamily(format.language));
        ass->startTrack(format.assHeader);
    } else {
        ass->dropTrack();
    }
}

void SubtitleRenderer::addText(const SubtitleEvent &event)
{
    const QByteArray key = textKey(event);
    if (seenText.contains(key))
        return;
    seenText.insert(key);
    // An event without an end lasts until the next one begins.
    openText.erase(std::remove_if(openText.begin(), openText.end(), [&](const OpenText &open) {
        if (open.startMs >= event.startMs)
            return false;
        ass->setDuration(open.index, event.startMs - open.startMs);
        return true;
    }), openText.end());
    const bool open = event.endMs == SubtitleEvent::OpenEnd;
    const qint64 duration = open ? OpenTextDuration : std::max<qint64>(0, event.endMs - event.startMs);
    const int index = ass->addEvent(event.startMs, duration, event.assLine);
    if (open && index >= 0)
        openText.push_back({index, event.startMs});
}

bool SubtitleRenderer::drawPictures(QImage &frame, const QRect &videoRect, const QueuedPicture &shown)
{
    if (frame.isNull() || videoRect.isEmpty())
        return false;
    if (shown.serial != scaledSerial || videoRect.size() != scaledFor) {
        scaled.clear();
        scaledSerial = shown.serial;
        scaledFor = videoRect.size();
        QSize canvas = shown.event.canvas;
        if (canvas.isEmpty())
            canvas = videoSize;
        if (canvas.isEmpty()) {
            // Neither the stream nor the player said: the pictures' own extent.
            QRect extent;
            for (const SubtitleEvent::Picture &picture : shown.event.pictures)
                extent |= QRect(QPoint(0, 0), QPoint(picture.position.x() + picture.image.width() - 1,
                                                     picture.position.y() + picture.image.height() - 1));
            canvas = extent.size();
        }
        const double sx = double(videoRect.width()) / canvas.width();
        const double sy = double(videoRect.height()) / canvas.height();
        for (const SubtitleEvent::Picture &picture : shown.event.pictures) {
            const QRectF target(picture.position.x() * sx, picture.position.y() * sy,
                                picture.image.width() * sx, picture.image.height() * sy);
            const QRect pixels = target.toAlignedRect();
            if (pixels.isEmpty())
                continue;
            QImage image = pixels.size() == picture.image.size()
                ? picture.image
                : picture.image.scaled(pixels.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            scaled.push_back({pixels.topLeft(), image});
        }
    }
    if (scaled.empty())
        return false;
    QPainter painter(&frame);
    for (const ScaledPicture &picture : scaled)
        painter.drawImage(videoRect.topLeft() + picture.offset, picture.image);
    return true;
}
