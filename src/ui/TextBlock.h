#pragma once

#include <QString>
#include <QWidget>
#include <vector>

namespace velmarune {

// A short text in at most a few lines of a given width, ending in "…" when
// cut. Each paragraph runs in its own direction: Hebrew from the right, with
// English words inside it in their order.
class TextBlock : public QWidget {
    Q_OBJECT
  public:
    explicit TextBlock(QWidget* parent = nullptr);
    void setText(const QString& text, int maxLines, int maxWidthPx);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    struct Line {
        QString text;
        bool rightToLeft = false;
    };
    void layoutLines();

    QString m_text;
    int m_maxLines = 1;
    int m_maxWidthPx = 100;
    std::vector<Line> m_lines;
    int m_widthPx = 0;
};

}  // namespace velmarune
