#pragma once

#include <QWidget>
#include <vector>

#include "foundation/Subscription.h"
#include "models/ModelDownloadManager.h"

class QLabel;
class QPushButton;
class QProgressBar;

namespace velmarune {

// The first downloads of a new installation, one progress bar per model.
// Closing it hides the progress only; the downloads go on.
class ModelDownloadWindow : public QWidget {
  public:
    ModelDownloadWindow(ModelDownloadManager& manager, const ModelLocator& locator,
                        std::vector<ModelEntry> entries, std::string readyText);

  private:
    void refresh(const ModelDownloadManager::States& states);

    ModelDownloadManager& m_manager;
    const ModelLocator& m_locator;
    std::vector<ModelEntry> m_entries;
    std::string m_readyText;
    QLabel* m_headline = nullptr;
    std::vector<QLabel*> m_titles;
    std::vector<QProgressBar*> m_bars;
    std::vector<QLabel*> m_statuses;
    QPushButton* m_retry = nullptr;
    Subscription m_subscription;
};

}  // namespace velmarune
