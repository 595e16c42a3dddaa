#pragma once

#include "playback/audiobackend.h"

#include <QByteArray>

#include <map>
#include <memory>
#include <vector>

class QAudioDevice;
class QAudioFormat;
class QtAudioSink;

// The system's default sound output through Qt Multimedia's audio sink, which talks
// to the sound server directly (no media backend plug-in is involved).
//
// Thread: the audio worker's thread only. Qt's audio backend is first touched here,
// and only after the sound server has been found, so its reconnect machinery lives on
// this long-lived thread and a machine without sound never hears from it.
class QtAudioBackend : public AudioBackend
{
public:
    QtAudioBackend();
    ~QtAudioBackend() override;

    AudioSink *defaultOutput() override;
    QString describe() const override;

    // The format asked of a device: its own rate and channel layout (mono, stereo,
    // 5.1, 7.1), float samples where it takes them.
    static QAudioFormat formatFor(const QAudioDevice &device);

private:
    // One sink per device, kept for the life of the backend: Qt 6.4's sink can still
    // be reached by callbacks after it stopped, so it is deleted at shutdown only.
    std::map<QByteArray, std::unique_ptr<QtAudioSink>> sinks;
    std::vector<std::unique_ptr<QtAudioSink>> retired;
    QString description;
};
