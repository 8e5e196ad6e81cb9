#include "button_fit.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPushButton>
#include <QRegularExpression>

#include <algorithm>

namespace {

constexpr int minPadding = 3;
constexpr int minIcon = 16;
// Bold text at this size is still read at arm's length.
constexpr int minPointSize = 14;
// The style's own frame around the padding, top and bottom together.
constexpr int frameHeight = 6;

class ButtonFit : public QObject
{
public:
    ButtonFit(QPushButton* button) : QObject(button), button(button)
    {
        fullIcon = button->iconSize();
        fullFont = button->font();
        const QRegularExpression padding(QStringLiteral("padding:\\s*(\\d+)px"));
        styleSheet = button->styleSheet();
        const QRegularExpressionMatch match = padding.match(styleSheet);
        fullPadding = match.hasMatch() ? match.captured(1).toInt() : minPadding;
        currentPadding = fullPadding;
        QFont smallest = fullFont;
        smallest.setPointSize(std::min(minPointSize, fullFont.pointSize()));
        button->setMinimumHeight(QFontMetrics(smallest).height() + 2 * minPadding + frameHeight);
        button->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            fit();
        return false;
    }

private:
    void fit()
    {
        const int height = button->height();
        // The text gives way last, and only as far as it must.
        QFont font = fullFont;
        while (font.pointSize() > minPointSize &&
               QFontMetrics(font).height() + 2 * minPadding + frameHeight > height)
            font.setPointSize(font.pointSize() - 1);
        if (font.pointSize() != button->font().pointSize())
            button->setFont(font);
        const int text = QFontMetrics(font).height();
        const int content = std::max(text, std::min(fullIcon.height(), minIcon * 2));
        const int padding =
            std::clamp((height - frameHeight - content) / 2, minPadding, fullPadding);
        const int icon = std::clamp(height - frameHeight - 2 * padding, minIcon, fullIcon.height());
        const QSize iconSize(fullIcon.width() * icon / fullIcon.height(), icon);
        if (iconSize != button->iconSize())
            button->setIconSize(iconSize);
        if (padding != currentPadding) {
            currentPadding = padding;
            QString sheet = styleSheet;
            sheet.replace(QRegularExpression(QStringLiteral("padding:\\s*\\d+px")),
                          QStringLiteral("padding: %1px").arg(padding));
            button->setStyleSheet(sheet);
        }
    }

    QPushButton* button;
    QSize fullIcon;
    QFont fullFont;
    QString styleSheet;
    int fullPadding = 0;
    int currentPadding = 0;
};

} // namespace

void fitButtons(const QList<QPushButton*>& buttons)
{
    for (QPushButton* button : buttons)
        new ButtonFit(button);
}
