#include "dose_legend.h"

#include <QPainter>

namespace {

constexpr int margin = 6;
constexpr int spacing = 3;
constexpr int swatchGap = 6;

} // namespace

DoseLegend::DoseLegend(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("doseLegend"));
    // The map under it still pans and inspects.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    setFont(small);
    resize(sizeHint());
}

void DoseLegend::setScale(const DoseScale& scale)
{
    doseScale = scale;
    resize(sizeHint());
    update();
}

QString DoseLegend::title() const
{
    return QStringLiteral("Dose rate, ") + DoseScale::unit();
}

QSize DoseLegend::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int line = metrics.height();
    QFont bold = font();
    bold.setBold(true);
    int width = QFontMetrics(bold).horizontalAdvance(title());
    const QVector<DoseScale::LegendRow> rows = doseScale.legend();
    for (const DoseScale::LegendRow& row : rows)
        width = std::max(width, line + swatchGap + metrics.horizontalAdvance(row.range));
    const int height = line + rows.size() * (line + spacing);
    return QSize(width + 2 * margin, height + 2 * margin);
}

void DoseLegend::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(90, 90, 90));
    painter.setBrush(QColor(255, 255, 255, 225));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);

    const QFontMetrics metrics(font());
    const int line = metrics.height();
    int y = margin;
    painter.setPen(Qt::black);
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(QRect(margin, y, width() - 2 * margin, line), Qt::AlignLeft | Qt::AlignVCenter,
                     title());
    painter.setFont(font());
    y += line + spacing;
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const DoseScale::LegendRow& row : doseScale.legend()) {
        const QRect swatch(margin + 2, y + 2, line - 4, line - 4);
        painter.setPen(QColor(60, 60, 60));
        painter.setBrush(row.colour);
        painter.drawRect(swatch);
        painter.setPen(Qt::black);
        painter.drawText(QRect(margin + line + swatchGap, y, width(), line),
                         Qt::AlignLeft | Qt::AlignVCenter, row.range);
        y += line + spacing;
    }
}
