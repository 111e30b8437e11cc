// Writes a tiny whisper model for tests, or random weights of a real size
// for benchmarks. Nothing it writes is ever committed.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "TestModel.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: make-test-model OUTPUT [--transcript TEXT] [--language CODE]\n"
                 "                       [--size tiny|base|small|large-v3|large-v3-turbo]\n"
                 "                       [--weights f16|q5_0] [--seed N]\n"
                 "  --transcript  known-transcript model: every decode yields TEXT\n"
                 "                (start it with a space, as whisper tokens do)\n"
                 "  --language    the language detection picks (with --transcript)\n"
                 "  --size        the dimensions of that model (random weights unless\n"
                 "                --transcript)\n"
                 "  --weights     how the large matrices are stored (default f16)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velmarune::testmodel;
    if (argc < 2) {
        return usage();
    }
    Options options;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return usage();
        }
        const std::string value = argv[++i];
        if (arg == "--transcript") {
            options.transcript = value;
        } else if (arg == "--language") {
            options.biasedLanguage = value;
        } else if (arg == "--size") {
            auto dims = dimensionsNamed(value);
            if (!dims) {
                return usage();
            }
            options.dims = *dims;
        } else if (arg == "--weights" && (value == "f16" || value == "q5_0")) {
            options.weights = value == "f16" ? WeightType::f16 : WeightType::q5_0;
        } else if (arg == "--seed") {
            options.seed = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else {
            return usage();
        }
    }
    try {
        writeModel(argv[1], options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
