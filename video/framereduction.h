#pragma once

#include <QImage>
#include <QSize>

// Shrinking a frame for display. The painter's smooth transform samples only the
// nearest 2x2 source pixels, so when a frame shrinks to less than half its size it
// skips pixels and fine detail shimmers. Averaging 2x2 blocks first, as often as the
// frame stays at least twice the target in both directions, leaves the painter a
// shrink between 1 and 1/2, where its result matches a full smooth scale.
namespace framereduction {

// How many times the frame can be halved and still cover the target in both directions.
int halvingsFor(QSize frame, QSize target);

// Each output pixel is the mean of a 2x2 block (within rounding); an odd last row or
// column is dropped. The result is RGB32; null for images smaller than 2x2.
QImage halved(const QImage &image);

// The frame halved halvingsFor(frame, target) times, ready to be drawn into target.
QImage reducedFor(const QImage &frame, QSize target);

} // namespace framereduction
