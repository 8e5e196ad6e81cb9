// The parameter dialog: a parameter tree with buttons that save its values to
// a file and load them from one, in any registered format.
#pragma once

#include "params_serializers.h"
#include "params_tree.h"

#include <QDialog>
#include <QHash>

#include <memory>

class Ui_ParamsDialog;

class ParamsDialog : public QDialog
{
    Q_OBJECT

public:
    typedef ParamsTree::ExclusiveGroup ExclusiveGroup;

    // The buttons argument.
    enum Buttons { SaveButton = 1, LoadButton = 2, NoCancelButton = 4 };

    // A file format: makes a serializer for a file name (an empty one for an
    // empty name); `mask` 1: can save, 2: can load.
    struct Exporter
    {
        std::shared_ptr<ParamsSerializer> (*factory)(const QString& fileName) = nullptr;
        QString description;
        int mask = 0;
    };

    explicit ParamsDialog(const QString& title, const QString& settingsName = QString(),
                          int buttons = 0, QWidget* parent = nullptr);
    ~ParamsDialog() override;

    void setCaption(const QString& caption);
    ParamsTree* tree() const;
    // Registers a file format under a file suffix ("txt" is there from the start).
    void setExporter(const QString& suffix, const Exporter& exporter);

    ParamsDialog& up();
    ParamsDialog& asSection(bool expanded = true);
    ParamsDialog& addSection(const QString& label, bool expanded = true);
    ParamsDialog& addSection(const QString& label, const QString& name, bool expanded = true);
    ParamsDialog& addSection(const QString& label, const char* name, bool expanded = true)
    {
        return addSection(label, QString::fromUtf8(name), expanded);
    }
    ParamsDialog& readOnly();
    ParamsDialog& addParam(const QString& label, unsigned int index, const QStringList& items);
    ParamsDialog& addParam(const QString& label, const QString& name, unsigned int index,
                           const QStringList& items);
    ParamsDialog& addParam(const QString& label, const QString& value, const QString& mask);
    ParamsDialog& addParam(const QString& label, const QString& name, const QString& value,
                           const QString& mask);
    ParamsDialog& addParam(const QString& label, const QString& value, const char* mask);
    ParamsDialog& addParam(const QString& label, const QString& value, const QValidator& validator);
    ParamsDialog& addParam(const QString& label, const QString& name, const QString& value,
                           const QValidator& validator);
    ParamsDialog& addParam(const QString& label, bool checked, ExclusiveGroup group);
    ParamsDialog& addParam(const QString& label, const QString& name, bool checked,
                           ExclusiveGroup group);
    ParamsDialog& addParam(const QString& label, const QVariant& value, const QVariant& min,
                           const QVariant& max, int decimals);
    ParamsDialog& addParam(const QString& label, const QString& name, const QVariant& value,
                           const QVariant& min, const QVariant& max, int decimals);

    QVariant value(const QString& label, const QString& section, long long defaultValue) const;
    QVariant value(const QString& label, const QString& section, int defaultValue) const;
    QVariant value(const QString& label, const QString& section, unsigned int defaultValue) const;
    QVariant value(const QString& label, const QString& section, unsigned short defaultValue) const;
    QVariant value(const QString& label, const QString& section, unsigned char defaultValue) const;
    QVariant value(const QString& label, const QString& section, float defaultValue) const;
    QVariant value(const QString& label, const QString& section, const QString& defaultValue) const;
    QVariant value(const QString& label, const QString& section, bool defaultValue) const;

signals:
    void valueChanged(QString what, QVariant value);

public slots:
    void changeValue(QString what, QVariant value);
    // Each returns whether the chosen file was written or read; false also
    // when no file was chosen.
    bool saveValues();
    bool loadValues();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QString fileFilter(int capability) const;
    QString startPath() const;
    void rememberDirectory(const QString& fileName) const;
    QString windowGroup() const;
    void keepOnScreen();

    QHash<QString, Exporter> exporters;
    Ui_ParamsDialog* form;
    QString settingsName;
};
