#include "gui/dialogs/SettingsDifferencesDialog.h"

#include <QFileInfo>

#include "ui_SettingsDifferencesDialog.h"

namespace mvx::gui {

namespace {

constexpr int kColumnPadding = 16;
const QString kNetworkRowHint =
    QStringLiteral("Restored only with \"Also restore the network settings\" ticked");

// The value as `set` writes it, with its unit where it has one.
QString valueText(const SettingChange& change, int value) {
    const QString text = QString::fromStdString(settingValueText(*change.reg, value));
    if (change.reg->kind == ValueKind::Volts) {
        return text + QStringLiteral(" V");
    }
    if (change.reg->setting == Setting::TemperatureLimit) {
        return text + QStringLiteral(" \u2103");
    }
    return text;
}

}  // namespace

SettingsDifferencesDialog::SettingsDifferencesDialog(const QString& fileName,
                                                     std::vector<SettingChange> changes,
                                                     QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::SettingsDifferencesDialog>()),
      changes_(std::move(changes)) {
    ui_->setupUi(this);
    ui_->fileLabel->setText(QStringLiteral("Settings of %1 that differ from the movantrix:")
                                .arg(QFileInfo(fileName).fileName()));
    connect(ui_->networkCheck, &QCheckBox::toggled, this, &SettingsDifferencesDialog::showRows);
    connect(ui_->applyButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    showRows();
}

SettingsDifferencesDialog::~SettingsDifferencesDialog() = default;

std::vector<SettingChange> SettingsDifferencesDialog::chosenChanges() const {
    std::vector<SettingChange> chosen;
    for (const SettingChange& change : changes_) {
        if (!change.reg->network || ui_->networkCheck->isChecked()) {
            chosen.push_back(change);
        }
    }
    return chosen;
}

void SettingsDifferencesDialog::showRows() {
    const bool network = ui_->networkCheck->isChecked();
    QTableWidget* table = ui_->differencesTable;
    table->setRowCount(static_cast<int>(changes_.size()));
    for (int row = 0; row < table->rowCount(); ++row) {
        const SettingChange& change = changes_[static_cast<std::size_t>(row)];
        const QString cells[] = {QString::fromLatin1(change.reg->name),
                                 valueText(change, change.now), valueText(change, change.wanted)};
        for (int column = 0; column < 3; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            if (change.reg->network && !network) {
                // Listed, but greyed: Apply leaves it unless the box is ticked.
                item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
                item->setToolTip(kNetworkRowHint);
            }
            table->setItem(row, column, item);
        }
    }
    // Apply is offered only when it writes something.
    const bool anyChosen = !chosenChanges().empty();
    ui_->applyButton->setEnabled(anyChosen);
    ui_->hintLabel->setVisible(!anyChosen);
    // Room beside the longest name and value, so the current cell's frame does not touch them.
    table->resizeColumnsToContents();
    for (int column = 0; column < 2; ++column) {
        table->setColumnWidth(column, table->columnWidth(column) + kColumnPadding);
    }
}

}  // namespace mvx::gui
