#pragma once

// A playback controller with a fake sound output that plays in real time (or none),
// and a record of every picture it handed out: what the engine tests drive.

#include "playback/playbackcontroller.h"
#include "support/fakeaudiosink.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>
#include <vector>

namespace testsupport {

// Stereo float at 48 kHz, as a PulseAudio sink usually offers.
QAudioFormat fakeOutputFormat();

struct Shown
{
    double atMs;   // when it was handed out, on the fake sink's clock
    qint64 ptsMs;
    QImage image;
};

struct PlaybackRig
{
    std::shared_ptr<FakeAudioSink> sink;
    std::unique_ptr<PlaybackController> player;
    std::vector<Shown> shown;

    explicit PlaybackRig(bool withSound = true);
    // Opens a generated test file; an empty `area` leaves the controller's own.
    bool load(const QString &name, QSize area = QSize(), bool cover = false);
};

} // namespace testsupport
