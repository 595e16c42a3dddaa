#include "playback/qtaudiobackend.h"

#include "playback/qtaudiosink.h"
#include "playback/soundserver.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QMediaDevices>

QtAudioBackend::QtAudioBackend() = default;

QtAudioBackend::~QtAudioBackend() = default;

QAudioFormat QtAudioBackend::formatFor(const QAudioDevice &device)
{
    const QAudioFormat preferred = device.preferredFormat();
    QAudioFormat format;
    const int rate = preferred.sampleRate();
    format.setSampleRate(rate >= 8000 && rate <= 192000 ? rate : 48000);
    const int channels = preferred.channelCount();
    if (channels >= 8) {
        format.setChannelConfig(QAudioFormat::ChannelConfigSurround7Dot1);
    } else if (channels >= 6) {
        format.setChannelConfig(QAudioFormat::ChannelConfigSurround5Dot1);
    } else if (channels == 1) {
        format.setChannelConfig(QAudioFormat::ChannelConfigMono);
    } else {
        format.setChannelConfig(QAudioFormat::ChannelConfigStereo);
    }
    format.setSampleFormat(QAudioFormat::Float);
    if (!device.isFormatSupported(format))
        format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

AudioSink *QtAudioBackend::defaultOutput()
{
    if (!soundserver::reachable()) {
        description = QStringLiteral("no sound server");
        return nullptr;
    }
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        description = QStringLiteral("no output device");
        return nullptr;
    }
    description = device.description();
    auto found = sinks.find(device.id());
    if (found != sinks.end() && !found->second->hasFailed())
        return found->second.get();
    if (found != sinks.end()) {
        retired.push_back(std::move(found->second));
        sinks.erase(found);
    }
    auto sink = std::make_unique<QtAudioSink>(device, formatFor(device));
    QtAudioSink *made = sink.get();
    sinks.emplace(device.id(), std::move(sink));
    return made;
}

QString QtAudioBackend::describe() const
{
    return description;
}
