#pragma once

#include <QWidget>

#include "ui/AudioTabModel.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace velmarune {

// The Audio settings tab: input device picker, level meter, microphone mode
// and the microphone line. The meter runs only while the tab is on screen.
class AudioTab : public QWidget {
  public:
    // `model.soundSettings` and `model.launch` left empty are found and
    // filled in here (the desktop's settings program on PATH, a detached start).
    explicit AudioTab(AudioTabModel::Dependencies deps, QWidget* parent = nullptr);
    ~AudioTab() override;

    AudioTabModel& model() { return m_model; }
    QComboBox* devicePicker() const { return m_devices; }

    // The desktop's sound settings program on this machine, if any.
    static std::optional<std::vector<std::string>> installedSoundSettings();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void refresh();
    void refreshLevel();

    AudioTabModel m_model;
    std::vector<AudioTabModel::DeviceRow> m_shownRows;
    QComboBox* m_devices = nullptr;
    QLabel* m_deviceID = nullptr;
    QLabel* m_fallback = nullptr;
    QProgressBar* m_meter = nullptr;
    QLabel* m_levelText = nullptr;
    QLabel* m_mode = nullptr;
    QPushButton* m_openSettings = nullptr;
    QLabel* m_settingsError = nullptr;
    QLabel* m_micIcon = nullptr;
    QLabel* m_micStatus = nullptr;
    QLabel* m_micFix = nullptr;
};

}  // namespace velmarune
