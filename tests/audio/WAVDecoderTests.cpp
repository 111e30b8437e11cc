#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>

#include "audio/WAVDecoder.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

void writeSound(const std::filesystem::path& file, int format, int rate, int channels,
                const std::vector<float>& interleaved) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* handle = sf_open(file.c_str(), SFM_WRITE, &info);
    ASSERT_NE(handle, nullptr) << sf_strerror(nullptr);
    sf_writef_float(handle, interleaved.data(),
                    static_cast<sf_count_t>(interleaved.size()) / channels);
    sf_close(handle);
}

TEST(WAVDecoder, ConvertsAnyReadableFileToSixteenKilohertzFirstChannel) {
    testing::TempDir dir;
    struct Case {
        const char* name;
        int format;
        int rate;
        int channels;
    };
    const std::vector<Case> cases{
        {"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2},
        {"b.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 16000, 1},
        {"c.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 22050, 1},
        {"d.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2},
    };
    for (const auto& c : cases) {
        // One second: channel 0 a 0.5 DC-free tone, channel 1 silence.
        std::vector<float> data(static_cast<size_t>(c.rate * c.channels), 0.0f);
        for (int i = 0; i < c.rate; ++i) {
            data[static_cast<size_t>(i * c.channels)] =
                0.5f * static_cast<float>(std::sin(2 * 3.14159265 * 300 * i / c.rate));
        }
        writeSound(dir / c.name, c.format, c.rate, c.channels, data);
        const auto samples = WAVDecoder::decode(dir / c.name);
        // Flushed in one pass: the whole second comes out.
        EXPECT_NEAR(static_cast<double>(samples.size()), 16000.0, 2.0) << c.name;
        double sum = 0;
        for (size_t i = 2000; i < 14000; ++i) {
            sum += samples[i] * samples[i];
        }
        EXPECT_NEAR(std::sqrt(sum / 12000), 0.5 / std::sqrt(2.0), 0.02) << c.name;
    }
}

TEST(WAVDecoder, BadFilesFailWithTheirTexts) {
    testing::TempDir dir;
    writeSound(dir / "empty.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, {});
    // A few kilobytes whose header claims one sample a second: 5.6 hours.
    writeSound(dir / "long.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 1,
               std::vector<float>(20'000));
    testing::writeFile(dir / "notes.txt", "this is not audio, just words\n");
    struct Case {
        std::filesystem::path file;
        std::string text;
    };
    const std::vector<Case> cases{
        {dir / "empty.wav", "File contained zero audio frames"},
        {dir / "long.wav", "Audio file is too long: 5.6 hours (the limit is 60 minutes)"},
        {dir / "missing.wav", "Cannot open audio file at " + (dir / "missing.wav").string()},
        {dir / "notes.txt", "Cannot open audio file at " + (dir / "notes.txt").string()},
        {dir.path(), "Cannot open audio file at " + dir.path().string()},
    };
    for (const auto& c : cases) {
        try {
            WAVDecoder::decode(c.file);
            ADD_FAILURE() << c.file << " decoded";
        } catch (const WAVDecoderError& error) {
            EXPECT_EQ(std::string(error.what()), c.text);
        }
    }
}

}  // namespace
}  // namespace velmarune
