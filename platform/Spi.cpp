#include "platform/Spi.h"

#include "platform/devices/Board.h"

#include <cerrno>

int Spi::setup(const Settings& settings) {
    cleanup();
    if (!host::board().spiDeviceExists(settings.device) || settings.numBits != 8) {
        errno = ENOENT;
        return -1;
    }
    settings_ = settings;
    open_ = true;
    return 0;
}

void Spi::cleanup() { open_ = false; }

int Spi::transfer(const uint8_t* tx, uint8_t* rx, size_t length) {
    if (!open_) {
        errno = EBADF;
        return -1;
    }
    // The speed goes with each transfer: the display and the converters share
    // the bus at different clocks.
    return host::board().spiTransfer(settings_.speed, tx, rx, length);
}
