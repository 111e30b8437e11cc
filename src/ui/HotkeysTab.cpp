#include "ui/HotkeysTab.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

#include "ui/SettingsWidgets.h"

namespace velmarune {

namespace {
// Platforms without native keysyms (the offscreen one in tests) give only
// Qt's key: enough to name the modifiers, Escape and plain characters.
uint32_t keysymOf(const QKeyEvent& event) {
    if (event.nativeVirtualKey() != 0) {
        return event.nativeVirtualKey();
    }
    switch (event.key()) {
        case Qt::Key_Shift:
            return 0xffe1;
        case Qt::Key_Control:
            return 0xffe3;
        case Qt::Key_Alt:
            return 0xffe9;
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
            return 0xffeb;
        case Qt::Key_Escape:
            return 0xff1b;
        default:
            return event.key() < 0x7f ? static_cast<uint32_t>(event.key()) : 0;
    }
}

QLabel* messageLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    setTextColour(label, kErrorColour);
    label->hide();
    return label;
}

// Holds a line to paste into a configuration file: selectable.
QLabel* adviceLabel(QWidget* parent) {
    auto* label = captionLabel(QString(), parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->hide();
    return label;
}
}  // namespace

bool HotkeysTab::grabKeyboardOfWindow(QWidget* widget) {
    widget->grabKeyboard();  // routes the window's key events to `widget`
    QWindow* window = widget->window()->windowHandle();
    // Asking again reports the display's answer; a grab we already hold succeeds.
    return window != nullptr && window->setKeyboardGrabEnabled(true);
}

HotkeysTab::HotkeysTab(Dependencies deps, QWidget* parent)
    : QWidget(parent),
      m_model(std::move(deps.model)),
      m_grab(deps.grabKeyboard ? std::move(deps.grabKeyboard) : &grabKeyboardOfWindow) {
    using Recording = HotkeysTabModel::Recording;
    QVBoxLayout* page = settingsPage(this);

    page->addWidget(sectionHeading(QStringLiteral("Dictation (Push-to-Talk)"), this));
    auto* dictationRow = new QHBoxLayout;
    m_dictationValue = boldLabel(QString(), this);
    dictationRow->addWidget(m_dictationValue, 1);
    m_recordDictation = new QPushButton(this);
    auto* resetDictation = new QPushButton(QStringLiteral("Reset to Default"), this);
    dictationRow->addWidget(m_recordDictation);
    dictationRow->addWidget(resetDictation);
    page->addLayout(dictationRow);
    m_dictationHint = captionLabel(QString(), this);
    m_dictationMessage = messageLabel(this);
    m_dictationAdvice = adviceLabel(this);
    page->addWidget(m_dictationHint);
    page->addWidget(m_dictationMessage);
    page->addWidget(m_dictationAdvice);

    page->addWidget(sectionHeading(QStringLiteral("Paste Last Dictation"), this));
    page->addWidget(captionLabel(
        QStringLiteral("Pastes your last dictation into the app you're in, from Recent "
                       "Dictations."),
        this));
    m_pasteValue = boldLabel(QString(), this);
    page->addWidget(m_pasteValue);
    auto* pasteButtons = new QHBoxLayout;
    m_recordPaste = new QPushButton(this);
    auto* none = new QPushButton(QStringLiteral("None"), this);
    auto* resetPaste = new QPushButton(QStringLiteral("Reset to Default"), this);
    pasteButtons->addWidget(m_recordPaste);
    pasteButtons->addWidget(none);
    pasteButtons->addWidget(resetPaste);
    pasteButtons->addStretch(1);
    page->addLayout(pasteButtons);
    m_pasteHint = captionLabel(QString(), this);
    m_pasteMessage = messageLabel(this);
    m_pasteAdvice = adviceLabel(this);
    page->addWidget(m_pasteHint);
    page->addWidget(m_pasteMessage);
    page->addWidget(m_pasteAdvice);

    // A warning asks before storing: the shortcut works, but something else uses it too.
    m_warning = new QFrame(this);
    m_warning->setFrameShape(QFrame::StyledPanel);
    auto* warningLayout = new QVBoxLayout(m_warning);
    m_warningText = new QLabel(m_warning);
    m_warningText->setWordWrap(true);
    warningLayout->addWidget(m_warningText);
    auto* warningButtons = new QHBoxLayout;
    warningButtons->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), m_warning);
    auto* saveAnyway = new QPushButton(QStringLiteral("Save Anyway"), m_warning);
    warningButtons->addWidget(cancel);
    warningButtons->addWidget(saveAnyway);
    warningLayout->addLayout(warningButtons);
    page->addWidget(m_warning);
    page->addStretch(1);

    connect(m_recordDictation, &QPushButton::clicked, this, [this] {
        m_model.recording() == Recording::dictation ? m_model.cancelRecording()
                                                    : record(Recording::dictation);
    });
    connect(m_recordPaste, &QPushButton::clicked, this, [this] {
        m_model.recording() == Recording::paste ? m_model.cancelRecording()
                                                : record(Recording::paste);
    });
    connect(resetDictation, &QPushButton::clicked, this, [this] { m_model.resetDictationCombo(); });
    connect(none, &QPushButton::clicked, this, [this] { m_model.turnPasteShortcutOff(); });
    connect(resetPaste, &QPushButton::clicked, this, [this] { m_model.resetPasteShortcut(); });
    connect(saveAnyway, &QPushButton::clicked, this, [this] { m_model.saveAnyway(); });
    connect(cancel, &QPushButton::clicked, this, [this] { m_model.dismissWarning(); });

    m_model.onChanged = [this] { refresh(); };
    refresh();
}

HotkeysTab::~HotkeysTab() {
    m_model.onChanged = nullptr;
    if (m_grabbed) {
        releaseKeyboard();
    }
}

void HotkeysTab::record(HotkeysTabModel::Recording what) {
    m_model.cancelRecording();
    m_grabbed = m_grab(this);
    if (!m_grabbed) {
        releaseKeyboard();
    }
    m_model.startRecording(what, m_grabbed);
}

bool HotkeysTab::event(QEvent* event) {
    const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
    if (m_model.recording() != HotkeysTabModel::Recording::none) {
        // Every key belongs to the recording: no shortcut, Tab or Escape
        // handling of the window may take it first.
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();
            return true;
        }
        if (key) {
            auto* keyEvent = static_cast<QKeyEvent*>(event);
            if (!keyEvent->isAutoRepeat()) {
                m_model.keyEvent(keysymOf(*keyEvent), keyEvent->nativeScanCode(),
                                 event->type() == QEvent::KeyPress);
            }
            return true;
        }
    }
    return QWidget::event(event);
}

void HotkeysTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_model.reload();
}

void HotkeysTab::hideEvent(QHideEvent* event) {
    m_model.cancelRecording();
    QWidget::hideEvent(event);
}

void HotkeysTab::refresh() {
    using Recording = HotkeysTabModel::Recording;
    const Recording recording = m_model.recording();
    if (recording == Recording::none && m_grabbed) {
        m_grabbed = false;
        if (QWindow* window = this->window()->windowHandle()) {
            window->setKeyboardGrabEnabled(false);
        }
        releaseKeyboard();
    }
    m_dictationValue->setText(QString::fromStdString(m_model.dictationText()));
    m_pasteValue->setText(QString::fromStdString(m_model.pasteText()));
    m_recordDictation->setText(recording == Recording::dictation
                                   ? QStringLiteral("Cancel")
                                   : QStringLiteral("Record New Hotkey"));
    m_recordPaste->setText(recording == Recording::paste ? QStringLiteral("Cancel")
                                                         : QStringLiteral("Record New Shortcut"));
    setTextOrHide(m_dictationHint, m_model.dictationHint());
    setTextOrHide(m_pasteHint, m_model.pasteHint());
    setTextOrHide(m_dictationAdvice, m_model.dictationAdvice());
    setTextOrHide(m_pasteAdvice, m_model.pasteAdvice());
    setTextOrHide(m_dictationMessage, m_model.dictationMessage());
    setTextOrHide(m_pasteMessage, m_model.pasteMessage());
    const auto& warning = m_model.pendingWarning();
    m_warning->setVisible(warning.has_value());
    m_warningText->setText(warning ? QString::fromStdString(warning->message) : QString());
}

}  // namespace velmarune
