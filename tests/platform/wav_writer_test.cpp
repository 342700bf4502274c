// The capture file's format, read back by libsndfile and by sox.
#include "platform/WavWriter.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

std::string soxiWithErrors(const std::string& option, const std::string& path) {
    return testsupport::shellOutput("soxi " + option + " '" + path + "' 2>&1");
}

TEST(WavWriter, SamplesReadBackWithoutAWarning) {
    const std::string path = testsupport::tempDir() + "wav-writer-small.wav";
    host::WavWriter w;
    ASSERT_TRUE(w.open(path, 8, 48000));
    std::vector<float> samples(8 * 1000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(i % 8) * 0.1f - float(i / 8) * 1e-4f;
    ASSERT_TRUE(w.write(samples.data(), samples.size()));
    w.close();

    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.frames, 1000);
    EXPECT_EQ(info.channels, 8);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    std::vector<float> back(samples.size());
    EXPECT_EQ(sf_readf_float(f, back.data(), 1000), 1000);
    sf_close(f);
    EXPECT_EQ(back, samples);
    // Nothing but the number: no "missing extended part" warning.
    EXPECT_EQ(soxiWithErrors("-s", path), "1000\n");
}

// Reads a WAV header's chunks as the RF64 rules lay them out: the form, then
// per chunk its id, and the three 64-bit sizes of "ds64".
constexpr const char* kChunkReader = R"(import struct, sys
b = open(sys.argv[1], "rb").read(4096)
out = [b[0:4].decode(), str(struct.unpack_from("<I", b, 4)[0]), b[8:12].decode()]
p = 12
while p + 8 <= len(b):
    cid, n = b[p:p + 4], struct.unpack_from("<I", b, p + 4)[0]
    out.append(cid.decode().strip())
    if cid == b"ds64":
        out += [str(v) for v in struct.unpack_from("<QQQ", b, p + 8)]
    if cid == b"data":
        out.append(str(n))
        break
    p += 8 + n + (n & 1)
print(" ".join(out))
)";

// 50 minutes of eight channels is 4.6 GB: the header turns RF64. A sparse
// file of that length (no data written) is read back by libsndfile and by a
// reader of the chunks themselves; sox is no reader here, as it counts the
// length by reading every byte of the data (40 s).
TEST(WavWriter, PastFourGibibytesTheHeaderIsRf64WithTheWholeLength) {
    const uint64_t dataBytes = 3000ull * 48000 * 8 * 4;
    auto small = host::WavWriter::header(8, 48000, 1000 * 32);
    EXPECT_EQ(std::string(small.begin(), small.begin() + 4), "RIFF");
    auto h = host::WavWriter::header(8, 48000, dataBytes);
    ASSERT_EQ(std::string(h.begin(), h.begin() + 4), "RF64");
    EXPECT_EQ(std::string(h.begin() + 12, h.begin() + 16), "ds64");

    const std::string path = testsupport::tempDir() + "wav-writer-rf64.wav";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, h.data(), h.size()), ssize_t(h.size()));
    ASSERT_EQ(ftruncate(fd, off_t(h.size() + dataBytes)), 0);
    close(fd);
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_close(f);
    EXPECT_EQ(info.frames, 144000000);
    EXPECT_EQ(info.channels, 8);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
    const std::string script = testsupport::tempDir() + "wav-chunks.py";
    std::ofstream(script) << kChunkReader;
    const std::string riffSize = std::to_string(h.size() + dataBytes - 8);
    EXPECT_EQ(testsupport::shellOutput("python3 '" + script + "' '" + path + "' 2>&1"),
              "RF64 4294967295 WAVE ds64 " + riffSize + " " + std::to_string(dataBytes) + " 144000000 fmt fact data 4294967295\n");
    unlink(path.c_str());

    // Right at the limit the plain header still holds the size.
    const uint64_t lastPlain = host::WavWriter::kRiffLimit - (host::WavWriter::kHeaderBytes - 8);
    EXPECT_EQ(host::WavWriter::header(8, 48000, lastPlain)[0], 'R');
    EXPECT_EQ(host::WavWriter::header(8, 48000, lastPlain)[1], 'I');
    EXPECT_EQ(host::WavWriter::header(8, 48000, lastPlain + 32)[1], 'F');
}

// A run continuing the stream in a file drops the frame a crash cut short
// and counts what came before it with what it adds.
TEST(WavWriter, AContinuedFileKeepsItsWholeFramesAndCountsThemAll) {
    const std::string path = testsupport::tempDir() + "wav-writer-continued.wav";
    const std::vector<float> frames(2 * 10, 0.25f);
    {
        host::WavWriter w;
        ASSERT_TRUE(w.open(path, 2, 48000));
        ASSERT_TRUE(w.write(frames.data(), frames.size()));
        ASSERT_TRUE(w.updateHeader());
    }
    {
        std::ofstream(path, std::ios::app | std::ios::binary) << "cut";  // a frame cut short
    }
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    host::WavWriter again;
    ASSERT_TRUE(again.openDescriptor(fd, 2, 48000, true));
    close(fd);
    ASSERT_TRUE(again.write(frames.data(), frames.size()));
    again.close();

    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.frames, 20);
    std::vector<float> back(40);
    EXPECT_EQ(sf_readf_float(f, back.data(), 20), 20);
    sf_close(f);
    EXPECT_EQ(back, std::vector<float>(40, 0.25f));
}

}  // namespace
