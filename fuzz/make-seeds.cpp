// Writes the seed corpora of the fuzz targets into FOLDER/<target>/: small,
// valid inputs of each kind for the fuzzer to start from.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestModel.h"

namespace fs = std::filesystem;

namespace {

void write(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

void writeSound(const fs::path& file, int format, int rate, int channels, int frames) {
    fs::create_directories(file.parent_path());
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* handle = sf_open(file.c_str(), SFM_WRITE, &info);
    if (!handle) {
        std::fprintf(stderr, "make-seeds: %s: %s\n", file.c_str(), sf_strerror(nullptr));
        return;
    }
    std::vector<float> samples(static_cast<size_t>(frames * channels));
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.3F * std::sin(static_cast<float>(i) * 0.05F);
    }
    sf_writef_float(handle, samples.data(), frames);
    sf_close(handle);
}

// A literal with its NUL bytes.
template <size_t N>
std::string bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    const fs::path root = argv[1];

    const char* const settings[] = {
        R"({"pttLanguage": "he", "pttDwellMs": 40, "DiagnosticPasteLog": true})",
        R"({"pttBinding": {"modifiers": 393216, "keys": [1, 2, 3]}, "hebrewModelPath": "~/m.bin"})",
        R"({"a": 1e308, "b": -9223372036854775808, "c": 18446744073709551615, "d": 0.5})",
        R"({"s": "\u05e9\u05dc\u05d5\u05dd \ud83d\ude00 \"quoted\"", "n": null, "e": []})",
        R"([[[[[[[[[[[[[[[[{"deep": 1}]]]]]]]]]]]]]]]])",
        "{\"unterminated\": \"",
    };
    int n = 0;
    for (const char* text : settings) {
        write(root / "settings" / std::to_string(n++), text);
    }

    // Model: mode 31 generates (dimension bytes, then a transcript), 8 to 30
    // edit the base model, 0 to 7 take raw bytes.
    write(root / "model_file/generate", bytes("\x1f\x01\x02\x00\x01\x05\x09\x01\x03 Hi."));
    write(root / "model_file/edit-header", bytes("\x08\x10\x00\x00\x00\x00"));
    write(root / "model_file/edit-cut", bytes("\x08\x80"));
    {
        velmarune::testmodel::Options options;
        options.dims = {4, 2, 1, 1, 16};
        const fs::path file = root / "model.tmp";
        velmarune::testmodel::writeModel(file, options);
        std::ifstream in(file, std::ios::binary);
        const std::string model{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
        fs::remove(file);
        // The header, the start of the filters, and one tensor record.
        const std::string raw(1, '\0');
        write(root / "model_file/raw-header", raw + model.substr(0, 2048));
        const size_t tensor = model.find("encoder.positional_embedding") - 20;
        write(root / "model_file/raw-tensor",
              raw + model.substr(0, 64) + model.substr(tensor, 2048));
    }

    writeSound(root / "audio_file/pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, 1600);
    writeSound(root / "audio_file/float-stereo.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2,
               800);
    writeSound(root / "audio_file/u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8000, 1, 800);
    writeSound(root / "audio_file/short.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 22050, 1, 2000);
    writeSound(root / "audio_file/short.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 48000, 1, 480);
    writeSound(root / "audio_file/short.au", SF_FORMAT_AU | SF_FORMAT_ULAW, 8000, 1, 800);
    writeSound(root / "audio_file/short.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 16000, 1, 4000);

    const char* const transcripts[] = {
        "Hello world. Hello world. Hello world. Hello world.",
        "the the the the the the the the the the",
        "שלום עולם, שלום עולם, שלום עולם, שלום עולם",
        "............ ... .. .",
        "I think that I think that I think that we should go",
        "Velmarune, Claude Code, Cursor! 12 34 56 12 34 56 12 34 56",
    };
    n = 0;
    for (const char* text : transcripts) {
        write(root / "transcript" / std::to_string(n++), bytes("\x02\x03\xe8") + text);
    }

    const std::string rows[] = {
        bytes("0.1.0(1)\0xterm:12\0code, the editor\0Line\nbreak\0ctrl+shift\0restored"),
        bytes("b\0\"quoted\" app\0a\r\nb\0\xff\xfe invalid\0he\0multilingual\0\xe2\x82"),
        bytes("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"),
    };
    n = 0;
    for (const auto& row : rows) {
        write(root / "csv_row" / std::to_string(n++), row);
    }
    return 0;
}
