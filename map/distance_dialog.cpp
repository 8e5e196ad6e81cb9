#include "distance_dialog.h"

#include "orvisk.h"
#include "ui_distance_dialog.h"

namespace {

const char* const buttonStyle = "padding: 10px;Text-align:left;";

} // namespace

DistanceDialog::DistanceDialog(TOrvisk* map, QWidget* parent)
    : QDialog(parent), ui(new Ui_DistanceDialog), map(map)
{
    ui->setupUi(this);
    const std::pair<QPushButton*, const char*> icons[] = {
        {ui->btn_clear, ":/icons/clear.png"},
        {ui->btn_point1, ":/icons/point.png"},
        {ui->btn_point2, ":/icons/point.png"},
        {ui->btn_exit, ":/icons/quit.png"},
    };
    for (const auto& [button, icon] : icons) {
        button->setIcon(QIcon(QString::fromLatin1(icon)));
        button->setStyleSheet(QString::fromLatin1(buttonStyle));
    }
    connect(map, &TOrvisk::pointPicked, this, [this](QPointF scenePos) {
        if (pendingPoint < 0)
            return;
        this->map->setMeasurePoint(std::exchange(pendingPoint, -1), scenePos);
        comeBack();
    });
    connect(map, &TOrvisk::pickCancelled, this, [this] {
        if (pendingPoint < 0)
            return;
        pendingPoint = -1;
        comeBack();
    });
}

DistanceDialog::~DistanceDialog()
{
    if (pendingPoint >= 0)
        map->cancelPointPick();
    delete ui;
}

void DistanceDialog::done(int result)
{
    // Closed while stepped aside: QDialog ends its modal run only when it
    // hides the dialog itself, so come back first.
    if (pendingPoint >= 0) {
        pendingPoint = -1;
        map->cancelPointPick();
        show();
    }
    QDialog::done(result);
}

void DistanceDialog::on_btn_clear_clicked()
{
    map->clearMeasurement();
}

void DistanceDialog::on_btn_point1_clicked()
{
    pickPoint(0);
}

void DistanceDialog::on_btn_point2_clicked()
{
    pickPoint(1);
}

void DistanceDialog::on_btn_exit_clicked()
{
    accept();
}

void DistanceDialog::pickPoint(int index)
{
    pendingPoint = index;
    // Step aside so the map can take the click. QDialog's own hide would end
    // the modal run; the widget-level hide keeps it going.
    QWidget::setVisible(false);
    map->startPointPick();
}

void DistanceDialog::comeBack()
{
    show();
    raise();
    activateWindow();
}
