#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "models/ModelEntry.h"
#include "models/Sha256.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace velmarune::testing {

// The loopback_server.py beside this file, serving `folder`; it prints its
// port first. Stopped with the object.
class LoopbackHttpServer {
  public:
    explicit LoopbackHttpServer(const std::filesystem::path& folder)
        : m_folder(folder),
          m_process(
              {"python3",
               std::string(VELMARUNE_SOURCE_DIR) + "/tests/integration/models/loopback_server.py",
               folder.string()},
              {}, (m_dir / "port").string()) {
        // Bounded: the interpreter starts in well under a second.
        if (waitUntil([&] { return readFile(m_dir / "port").find('\n') != std::string::npos; },
                      10.0)) {
            m_port = std::stoi(readFile(m_dir / "port"));
        } else {
            ADD_FAILURE() << "The loopback HTTP server did not start; it needs python3 "
                             "(Debian package python3).";
        }
    }

    bool running() const { return m_port != 0; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + "/" + path;
    }
    // A catalogue entry whose file `<id>.bin` holds `body` and is sent the way
    // `route` says; its digest and size match the body.
    ModelEntry serve(const std::string& id, const std::string& body,
                     const std::string& route = "files", const std::string& tag = "he") const {
        const std::string name = id + ".bin";
        const auto file = m_folder / name;
        writeFile(file, body);
        return {id,  id,  "", url(route + "/" + name), sha256HexOfFile(file), std::ssize(body),
                tag, name};
    }

  private:
    std::filesystem::path m_folder;
    TempDir m_dir{"velmarune-http"};
    ChildProcess m_process;
    int m_port = 0;
};

}  // namespace velmarune::testing
