// The board's serial devices on this host. "/dev/ttyS4", the DIN MIDI UART,
// is the host MIDI port: a device path given by --midi-port, or by default a
// new pseudo-terminal whose other end another program opens through the
// link ROOT/.host/midi-port (printed with the terminal's name). The link
// keeps its name across restarts and goes when the port closes; with
// --midi-port no link is made and one an earlier run left is removed, so it
// never leads to another program's terminal. The path may be a serial device or pseudo-terminal (set to the
// UART's line settings), a raw MIDI device such as a USB interface's
// /dev/snd/midiC1D0 (bytes as they are, both ways), or a FIFO (bytes as they
// are, MIDI in only).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

// What "/dev/ttyS4" opens from now on: a path, or empty for a new
// pseudo-terminal on each open.
void setMidiPort(const std::string& path);
std::string midiPort();
// The end of the most recent pseudo-terminal that another program opens
// (empty when none was made).
std::string midiPortPeerName();

// Opens a device by its path on the board, read and write, never as the
// controlling terminal. Writes never block: when the device's buffer is
// full they come back short, or -1 with EAGAIN; a FIFO takes them all and
// keeps none. Returns -1 with errno set when there is no such device (a
// plain file is none: ENODEV).
int serialOpen(const char* path);
void serialClose(int fd);

enum SerialConfigResult { kSerialConfigured = 0, kSerialGetFailed = 1, kSerialSetFailed = 2 };
// Raw 8N1 at `baud` through the custom-rate interface; reads return as soon
// as one byte is there. A device that refuses the rate is told so on
// standard error and keeps its own rate; a device that is no terminal (raw
// MIDI, FIFO) is left as it is. On failure errno tells why.
int serialConfigure(int fd, uint32_t baud);

// Waits up to timeoutMs for input: 1 input ready, 0 timed out, -1 the wait
// failed (errno set), -2 the wait ended without input (hang-up or device
// error). A pseudo-terminal of the layer whose peer has gone counts as
// quiet: it waits out the time and returns 0. Offline it never waits.
int serialWaitInput(int fd, int timeoutMs);
ssize_t serialRead(int fd, void* buffer, size_t size);
ssize_t serialWrite(int fd, const void* buffer, size_t size);

}  // namespace host
