#include "support/playbackrig.h"

#include "testsupport.h"

#include <QTest>

namespace testsupport {

QAudioFormat fakeOutputFormat()
{
    QAudioFormat format;
    format.setSampleRate(48000);
    format.setChannelConfig(QAudioFormat::ChannelConfigStereo);
    format.setSampleFormat(QAudioFormat::Float);
    return format;
}

PlaybackRig::PlaybackRig(bool withSound)
{
    if (withSound)
        sink = std::make_shared<FakeAudioSink>(fakeOutputFormat());
    PlaybackController::Options options;
    options.audioBackend = [sink = sink] { return std::make_unique<FakeAudioBackend>(sink); };
    player = std::make_unique<PlaybackController>(nullptr, options);
    QObject::connect(player.get(), &PlaybackController::frameReady, player.get(), [this](const QImage &image) {
        shown.push_back({FakeAudioSink::nowMs(), player->lastShownPts(), image});
    });
}

bool PlaybackRig::load(const QString &name, QSize area, bool cover)
{
    if (area.isValid())
        player->setVideoArea(area, cover);
    player->load(mediaPath(name));
    return QTest::qWaitFor([&] { return !player->isLoading(); }, 10000) && player->isOpen();
}

} // namespace testsupport
