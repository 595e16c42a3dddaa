#pragma once

#include <QString>

class AudioSink;

// Where the audio worker gets its output from: the system's default output device,
// or nothing when the machine has no usable sound output.
//
// Thread: created, used and destroyed on the audio worker's thread only.
class AudioBackend
{
public:
    virtual ~AudioBackend() = default;

    // The sink of the current default output, or null when there is none. The backend
    // owns it and keeps one per device; asking again after the default output changed
    // gives the new device's sink.
    virtual AudioSink *defaultOutput() = 0;
    // A short description of the output last handed out, for the log.
    virtual QString describe() const = 0;
};
