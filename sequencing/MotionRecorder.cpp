#include "sequencing/MotionRecorder.h"

#include "gui/MonoGFX.h"

void MotionRecorder::draw(MonoGFX& window, int x0, int y0) const {
    // A 16-pixel square with the current position as a dot.
    constexpr int kSize = 15;
    window.setColour(4);
    window.drawRect(x0, y0, x0 + kSize, y0 + kSize);
    window.setColour(touched ? 15 : 8);
    const float px = x, py = y;
    window.setPixel(x0 + int(px * float(kSize)), y0 + kSize - int(py * float(kSize)));
}
