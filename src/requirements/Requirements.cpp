#include "requirements/Requirements.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

#include "foundation/Log.h"

namespace velmarune {

namespace {

using nlohmann::json;

// The rules are a few kilobytes; anything much larger is not our file.
constexpr std::streamsize kMaxFileBytes = 1 << 20;

[[noreturn]] void fail(const std::string& path, const std::string& problem) {
    throw RequirementsDecodeError(path + ": " + problem);
}

std::string join(const std::string& path, const char* key) {
    return path.empty() ? key : path + "." + key;
}

const json& member(const json& object, const std::string& path, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) {
        fail(join(path, key), "missing");
    }
    return *it;
}

const json& objectAt(const json& object, const std::string& path, const char* key) {
    const json& value = member(object, path, key);
    if (!value.is_object()) {
        fail(join(path, key), "expected an object");
    }
    return value;
}

int64_t integerValue(const json& value, const std::string& path) {
    if (!value.is_number_integer()) {
        fail(path, "expected an integer");
    }
    if (value.is_number_unsigned() &&
        value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        fail(path, "too large");
    }
    return value.get<int64_t>();
}

// Sizes and thresholds: a negative one would quietly turn a rule around.
int64_t sizeAt(const json& object, const std::string& path, const char* key) {
    const int64_t value = integerValue(member(object, path, key), join(path, key));
    if (value < 0) {
        fail(join(path, key), "must not be negative");
    }
    return value;
}

std::optional<int64_t> optionalSizeAt(const json& object, const std::string& path,
                                      const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return std::nullopt;
    }
    return sizeAt(object, path, key);
}

std::string stringAt(const json& object, const std::string& path, const char* key) {
    const json& value = member(object, path, key);
    if (!value.is_string()) {
        fail(join(path, key), "expected a string");
    }
    return value.get<std::string>();
}

std::vector<std::string> stringsAt(const json& object, const std::string& path, const char* key) {
    const json& value = member(object, path, key);
    if (!value.is_array()) {
        fail(join(path, key), "expected a list of strings");
    }
    std::vector<std::string> result;
    for (const json& item : value) {
        if (!item.is_string()) {
            fail(join(path, key), "expected a list of strings");
        }
        result.push_back(item.get<std::string>());
    }
    return result;
}

Requirements::OutcomeLists outcomeListsAt(const json& object, const std::string& path,
                                          const char* key) {
    const json& lists = objectAt(object, path, key);
    const std::string here = join(path, key);
    return {stringsAt(lists, here, "ok"), stringsAt(lists, here, "warn"),
            stringsAt(lists, here, "block")};
}

Requirements::ModelPair pairAt(const json& object, const std::string& path, const char* key) {
    const json& pair = objectAt(object, path, key);
    const std::string here = join(path, key);
    return {stringAt(pair, here, "hebrew"), stringAt(pair, here, "multilingual")};
}

}  // namespace

std::vector<std::string> Requirements::modelIDs() const {
    std::vector<std::string> ids;
    auto add = [&ids](const std::string& id) {
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
            ids.push_back(id);
        }
    };
    std::for_each(disk.blockModelSet.begin(), disk.blockModelSet.end(), add);
    std::for_each(disk.warnModelSet.begin(), disk.warnModelSet.end(), add);
    for (const ModelPair* pair : {&okModels, &warnModels}) {
        add(pair->hebrew);
        add(pair->multilingual);
    }
    return ids;
}

Requirements decodeRequirements(std::string_view text) {
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded()) {
        throw RequirementsDecodeError("not valid JSON");
    }
    if (!root.is_object()) {
        throw RequirementsDecodeError("expected a JSON object");
    }
    Requirements rules;
    rules.schemaVersion = integerValue(member(root, "", "schemaVersion"), "schemaVersion");
    const json& platform = objectAt(root, "", "linux");
    const std::string path = "linux";
    rules.session = outcomeListsAt(platform, path, "session");
    rules.processor = outcomeListsAt(platform, path, "processor");

    const json& ram = objectAt(platform, path, "ram");
    rules.ram.okAtLeastGB = sizeAt(ram, "linux.ram", "okAtLeastGB");
    rules.ram.warnBelowGB = optionalSizeAt(ram, "linux.ram", "warnBelowGB");
    rules.ram.blockBelowGB = optionalSizeAt(ram, "linux.ram", "blockBelowGB");

    const json& disk = objectAt(platform, path, "disk");
    rules.disk.marginBytes = sizeAt(disk, "linux.disk", "marginBytes");
    rules.disk.blockBelowBytes = sizeAt(disk, "linux.disk", "blockBelowBytes");
    rules.disk.blockModelSet = stringsAt(disk, "linux.disk", "blockModelSet");
    rules.disk.warnBelowBytes = sizeAt(disk, "linux.disk", "warnBelowBytes");
    rules.disk.warnModelSet = stringsAt(disk, "linux.disk", "warnModelSet");

    const json& models = objectAt(platform, path, "models");
    rules.okModels = pairAt(models, "linux.models", "ok");
    rules.warnModels = pairAt(models, "linux.models", "warn");
    return rules;
}

std::optional<Requirements> loadRequirements(const std::filesystem::path& file,
                                             const ModelCatalog& catalog) {
    const Logger log{"Requirements"};
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        log.error("requirements.json is missing from %{public}s; hardware check fails open",
                  file.parent_path().string());
        return std::nullopt;
    }
    std::string text(static_cast<size_t>(kMaxFileBytes) + 1, '\0');
    in.read(text.data(), kMaxFileBytes + 1);
    text.resize(static_cast<size_t>(in.gcount()));
    try {
        if (in.gcount() > kMaxFileBytes) {
            throw RequirementsDecodeError("larger than 1 MiB");
        }
        if (in.bad()) {
            throw RequirementsDecodeError("unreadable");
        }
        Requirements rules = decodeRequirements(text);
        for (const std::string& id : rules.modelIDs()) {
            if (!catalog.entry(id)) {
                log.error("requirements.json names the unknown model %{public}s; it is ignored",
                          id);
            }
        }
        return rules;
    } catch (const RequirementsDecodeError& error) {
        log.error("requirements.json did not decode (%{public}s); hardware check fails open",
                  std::string(error.what()));
        return std::nullopt;
    }
}

}  // namespace velmarune
