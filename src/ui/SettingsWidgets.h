#pragma once

#include <QColor>
#include <QString>
#include <optional>
#include <string>

class QLabel;
class QVBoxLayout;
class QWidget;

namespace velmarune {

// The building blocks every settings tab is laid out with, so the tabs look
// alike: a scrolling page of sections, each under a bold heading.

// A page that scrolls when the window is made smaller than its content;
// the returned layout is the page's column.
QVBoxLayout* settingsPage(QWidget* tab);
QLabel* sectionHeading(const QString& text, QWidget* parent);
// A label in the semi-bold weight of headings and chosen values.
QLabel* boldLabel(const QString& text, QWidget* parent);
// A wrapped explanation in the secondary colour and a smaller font.
QLabel* captionLabel(const QString& text, QWidget* parent);
// The colours of states the tabs show, readable on light and dark themes.
QColor secondaryColour(const QWidget* widget);
inline const QColor kErrorColour{0xc0, 0x1c, 0x28};
inline const QColor kWarningColour{0xe6, 0x61, 0x00};
inline const QColor kSuccessColour{0x26, 0xa2, 0x69};
// Sets a label's text colour.
void setTextColour(QLabel* label, const QColor& colour);
// Shows `text` in the label, or hides the label when the text is empty /
// absent.
void setTextOrHide(QLabel* label, const std::string& text);
void setTextOrHide(QLabel* label, const std::optional<std::string>& text);

}  // namespace velmarune
