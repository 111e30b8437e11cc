#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace velmarune::testing {

// The diagnostic CSV never quotes: its writer replaces commas in values.
inline std::vector<std::string> splitCsvLine(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, ',')) fields.push_back(field);
    if (!line.empty() && line.back() == ',')
        fields.emplace_back();
    return fields;
}

// A row read by column name; `columns` is its number of fields.
struct CsvRow {
    CsvRow(const std::string& header, const std::string& line) {
        const auto names = splitCsvLine(header);
        const auto values = splitCsvLine(line);
        columns = values.size();
        for (size_t i = 0; i < names.size() && i < values.size(); ++i) byName[names[i]] = values[i];
    }
    const std::string& operator[](const std::string& name) const { return byName.at(name); }

    std::map<std::string, std::string> byName;
    size_t columns = 0;
};

}  // namespace velmarune::testing
