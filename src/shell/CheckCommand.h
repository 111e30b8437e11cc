#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/Paths.h"
#include "foundation/UserDefaults.h"
#include "models/ModelCatalog.h"
#include "platform/MachineFacts.h"
#include "system/BackendChoice.h"

namespace velmarune {

// `velmarune check`: whether this computer can run Velmarune, and which
// models it will use. Needs no display, so it works over ssh too.
class CheckCommand {
  public:
    // Exit statuses.
    static constexpr int kPass = 0;
    static constexpr int kWarn = 1;
    static constexpr int kBlock = 2;
    static constexpr int kUsage = 64;

    struct Environment {
        Paths paths;
        UserDefaults& defaults;
        std::ostream& out;
        std::ostream& err;
        MachineFacts& facts;
        std::filesystem::path rulesFile;
        ModelCatalog catalog = ModelCatalog::standard();
        // Which backend would serve each desktop service in this session;
        // no section when absent.
        std::function<std::vector<ServiceChoice>()> desktopBackends = {};
    };

    explicit CheckCommand(Environment environment);

    // `args` follow the word "check".
    int run(const std::vector<std::string>& args);

    // Runs with the real machine, settings and rules file.
    static int main(const std::vector<std::string>& args);

  private:
    Environment m_env;
};

}  // namespace velmarune
