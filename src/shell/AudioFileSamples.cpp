#include "shell/AudioFileSamples.h"

#include <memory>
#include <string>

#include <sndfile.h>
#include <soxr.h>

#include "foundation/Error.h"

namespace velmarune {

namespace {

constexpr double kTargetRateHz = 16000.0;

}  // namespace

std::vector<float> readAudioFileSamples(const std::filesystem::path& file) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> sf(sf_open(file.c_str(), SFM_READ, &info),
                                                   sf_close);
    if (!sf) {
        throw Error("cannot read " + file.string() + ": " + sf_strerror(nullptr));
    }
    if (info.channels <= 0 || info.samplerate <= 0 || info.frames < 0) {
        throw Error("cannot read " + file.string() + ": no audio");
    }
    std::vector<float> interleaved(static_cast<size_t>(info.frames) *
                                   static_cast<size_t>(info.channels));
    const sf_count_t read = sf_readf_float(sf.get(), interleaved.data(), info.frames);
    std::vector<float> mono(static_cast<size_t>(std::max<sf_count_t>(read, 0)));
    for (size_t i = 0; i < mono.size(); ++i) {
        mono[i] = interleaved[i * static_cast<size_t>(info.channels)];
    }
    if (info.samplerate == static_cast<int>(kTargetRateHz) || mono.empty()) {
        return mono;
    }
    const double ratio = kTargetRateHz / info.samplerate;
    std::vector<float> out(static_cast<size_t>(static_cast<double>(mono.size()) * ratio) + 1024);
    size_t produced = 0;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_error_t error =
        soxr_oneshot(info.samplerate, kTargetRateHz, 1, mono.data(), mono.size(), nullptr,
                     out.data(), out.size(), &produced, &io, nullptr, nullptr);
    if (error) {
        throw Error("cannot convert " + file.string() + ": " + error);
    }
    out.resize(produced);
    return out;
}

}  // namespace velmarune
