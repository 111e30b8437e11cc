#include "models/ModelCatalog.h"

#include <algorithm>

namespace velmarune {

ModelCatalog::ModelCatalog(std::vector<ModelEntry> entries) : m_entries(std::move(entries)) {}

const ModelCatalog& ModelCatalog::standard() {
    // Each address is pinned to a commit so that the file always matches its digest.
    static const ModelCatalog catalog({
        {"ivrit-ai-large-v3", "ivrit-ai large-v3",
         "Best Hebrew accuracy. Full precision, 3.1 GB. Recommended.",
         "https://huggingface.co/ivrit-ai/whisper-large-v3-ggml/resolve/"
         "9ead614052ce13dfe5f8d0f6cd3e36787a9cf60c/ggml-model.bin",
         "09e66ec67b2e00c6933afab6684cbf78fe023e8ad153c1848f62000e4335a07f", 3095033483, "he",
         "ivrit-ai-large-v3.bin"},
        {"ivrit-ai-large-v3-turbo", "ivrit-ai large-v3-turbo",
         "Hebrew, faster and lighter. Full precision, 1.6 GB. For computers with 8 GB of memory.",
         "https://huggingface.co/ivrit-ai/whisper-large-v3-turbo-ggml/resolve/"
         "2130c78e4a9cb4914cc4df91a1c3031407789705/ggml-model.bin",
         "c8090411113357097bfafc2b8e228ec1639fa7f5fe4ecb5d054ac0ccef8641b1", 1624555275, "he",
         "ivrit-ai-large-v3-turbo.bin"},
        {"whisper-large-v3-turbo-q5", "whisper-large-v3-turbo Q5",
         "Multilingual, plus language detection. Compressed, 574 MB. Required for Auto mode.",
         "https://huggingface.co/ggerganov/whisper.cpp/resolve/"
         "5359861c739e955e79d9a303bcbc70fb988958b1/ggml-large-v3-turbo-q5_0.bin",
         "394221709cd5ad1f40c46e6031ca61bce88931e6e088c188294c6d5a55ffa7e2", 574041195,
         "multilingual", "ggml-large-v3-turbo-q5_0.bin"},
    });
    return catalog;
}

std::vector<ModelEntry> ModelCatalog::entries(ModelSlot slot) const {
    std::vector<ModelEntry> result;
    const std::string tag = modelSlotLanguageTag(slot);
    std::copy_if(m_entries.begin(), m_entries.end(), std::back_inserter(result),
                 [&](const ModelEntry& e) { return e.languageTag == tag; });
    return result;
}

std::optional<ModelEntry> ModelCatalog::entry(std::string_view id) const {
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const ModelEntry& e) { return e.id == id; });
    if (it == m_entries.end()) {
        return std::nullopt;
    }
    return *it;
}

}  // namespace velmarune
