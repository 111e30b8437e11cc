#pragma once

#include <QWidget>
#include <filesystem>
#include <memory>

namespace velmarune {

class AcknowledgementsWindow;

// The application's name, version and build, what it is, its privacy
// promise, and the licences of what it is built from.
class AboutTab : public QWidget {
  public:
    struct Dependencies {
        std::filesystem::path licencesFolder;  // the resources' licences/
    };

    explicit AboutTab(Dependencies deps, QWidget* parent = nullptr);
    ~AboutTab() override;

    // Shows (or brings to the front) the acknowledgements window.
    void showAcknowledgements();
    AcknowledgementsWindow* acknowledgementsWindow() const { return m_acknowledgements.get(); }

  private:
    Dependencies m_deps;
    std::unique_ptr<AcknowledgementsWindow> m_acknowledgements;
};

// The third-party components in a list; the one chosen shows its licence.
class AcknowledgementsWindow : public QWidget {
  public:
    explicit AcknowledgementsWindow(const std::filesystem::path& licencesFolder);
};

}  // namespace velmarune
