#include "ui/DesktopViews.h"

#include "app/AppState.h"
#include "foundation/UserDefaults.h"
#include "hotkeys/HotkeyBindings.h"
#include "ui/DesktopAnimations.h"
#include "ui/DidntPasteWindow.h"
#include "ui/HeadsUpDisplay.h"
#include "ui/HudWindow.h"
#include "ui/QueuePanelWindow.h"
#include "ui/QueueStatus.h"
#include "ui/StatusMenu.h"

namespace velmarune {

struct DesktopViews::Parts {
    explicit Parts(Dependencies& deps)
        : state(deps.state),
          queueWindow(placer),
          hudWindow(placer),
          didntPasteWindow(placer),
          queueStatus(std::make_shared<QueueStatus>(
              deps.queue,
              [this](const std::optional<std::string>& text) { queueWindow.showText(text); })),
          hud(std::make_shared<HeadsUpDisplay>(HeadsUpDisplay::Dependencies{
              deps.queue, hudWindow, [this] { return animations.enabled(); }, deps.copy})),
          menuModel(StatusMenuModel::Dependencies{
              *deps.state,
              [&defaults = deps.defaults] { return HotkeyBindings::load(defaults).pushToTalk; },
              [&defaults = deps.defaults] { return PasteShortcut::load(defaults); }}),
          statusMenu(menuModel, deps.quit) {
        hudWindow.setOnCopy([this] { hud->copy(); });
    }

    std::shared_ptr<AppState> state;
    DesktopAnimations animations;
    PanelPlacer placer;
    QueuePanelWindow queueWindow;
    HudWindow hudWindow;
    DidntPasteWindow didntPasteWindow;
    std::shared_ptr<QueueStatus> queueStatus;
    std::shared_ptr<HeadsUpDisplay> hud;
    StatusMenuModel menuModel;
    StatusMenu statusMenu;
};

DesktopViews::DesktopViews(Dependencies deps) : m_parts(std::make_unique<Parts>(deps)) {}

DesktopViews::~DesktopViews() = default;

void DesktopViews::start() {
    m_parts->animations.refresh();
    m_parts->queueStatus->start(*m_parts->state);
    m_parts->statusMenu.start();
}

HeadsUpDisplay& DesktopViews::hud() {
    return *m_parts->hud;
}

DidntPastePresenter& DesktopViews::didntPastePresenter() {
    return m_parts->didntPasteWindow;
}

StatusMenuModel& DesktopViews::menuModel() {
    return m_parts->menuModel;
}

StatusMenu& DesktopViews::statusMenu() {
    return m_parts->statusMenu;
}

}  // namespace velmarune
