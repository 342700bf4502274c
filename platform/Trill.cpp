#include "platform/Trill.h"

#include "platform/devices/Board.h"

int Trill::setup(unsigned bus, Device device, uint8_t address) {
    address_ = 0;
    host::TrillModel* model = bus == 1 ? host::board().trill(address) : nullptr;
    if (!model || device != SQUARE)
        return -1;
    bus_ = bus;
    address_ = address;
    return 0;
}

int Trill::setNoiseThreshold(float threshold) {
    host::TrillModel* model = address_ ? host::board().trill(address_) : nullptr;
    if (!model)
        return -1;
    model->noiseThreshold = threshold;
    return 0;
}

int Trill::updateBaseline() {
    host::TrillModel* model = address_ ? host::board().trill(address_) : nullptr;
    if (!model)
        return -1;
    ++model->baselines;
    return 0;
}

int Trill::readI2C() {
    host::TrillModel* model = address_ ? host::board().trill(address_) : nullptr;
    if (!model)
        return -1;
    ++model->reads;
    vertical_ = model->vertical_ > kMaxTouches ? kMaxTouches : model->vertical_;
    horizontal_ = model->horizontal_ > kMaxTouches ? kMaxTouches : model->horizontal_;
    x_ = model->x_;
    y_ = model->y_;
    return 0;
}
