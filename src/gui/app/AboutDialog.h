// The about box: the program's icon, name and version.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDialog;
}

namespace mvx::gui {

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

private:
    std::unique_ptr<Ui::AboutDialog> ui_;
};

}  // namespace mvx::gui
