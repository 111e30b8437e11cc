#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/Paths.h"
#include "foundation/UserDefaults.h"
#include "models/ModelCatalog.h"
#include "models/ModelDownloadManager.h"

namespace velmarune {

// `velmarune models`: lists the catalogue and the slots, downloads a model
// with a progress bar, and assigns an installed model to its slot.
class ModelsCommand {
  public:
    struct Environment {
        Paths paths;
        UserDefaults& defaults;
        std::ostream& out;
        std::ostream& err;
        // A terminal gets a redrawn progress bar; a pipe gets a line per tenth.
        bool interactive = false;
        ModelCatalog catalog = ModelCatalog::standard();
        ModelDownloadManager::FreeSpaceProbe freeSpace = {};
    };

    explicit ModelsCommand(Environment environment);

    // `args` follow the word "models". Returns the process exit status:
    // 0 done, 1 the work failed, 2 a usage error or an unknown model, 130 cancelled.
    int run(const std::vector<std::string>& args);

    // Runs with the real settings, folders and terminal.
    static int main(const std::vector<std::string>& args);

  private:
    int list();
    int download(const std::string& id, const std::optional<std::string>& mirror);
    int use(const std::string& id);
    int usage(std::ostream& out, int status);
    int unknownModel(const std::string& id);

    Environment m_env;
};

}  // namespace velmarune
