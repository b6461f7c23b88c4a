// The firmware update wizard: five steps shown one at a time (warning, file choice, summary
// of the file and the devices to update, the download with its progress, the results) with
// Back, Next, Finish and Cancel buttons that each step enables for itself.
//
// Reading the file, the update list and the download are bus jobs (they use the registry); the
// download is a long one, and nothing ends the wizard while it runs: the download step has no
// enabled button, Escape and the window manager's close request are refused there and on the
// result step, where only Finish ends the wizard. On the first three steps they ask the quit
// question, as Cancel does.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class FirmwareWizard;
class StartStep;
class FileStep;
class SummaryStep;
class DownloadStep;
class ResultStep;
}  // namespace Ui

namespace mvx {
class DeviceRegistry;
struct UpdateList;
}  // namespace mvx

namespace mvx::gui {

class ManagerApp;
class RepeatingTimer;

// The summary of step 3 and the results of step 5, as the text boxes show them ("\r\n" ends
// each line). The summary builds the update list; both run inside jobs.
QString firmwareSummaryText(DeviceRegistry& registry, bool oldOnly);
QString firmwareResultText(const UpdateList& updates);

class FirmwareWizard : public QDialog {
    Q_OBJECT

public:
    enum Step { Start, ChooseFile, Summary, Download, Result };

    explicit FirmwareWizard(ManagerApp& app, QWidget* parent = nullptr);
    ~FirmwareWizard() override;

    int currentStep() const;
    bool downloading() const { return downloading_; }

public slots:
    void reject() override;
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum Button { Back = 1, Next = 2, Finish = 4, Cancel = 8 };

    void showStep(int step);
    void setButtons(int buttons);
    void askQuit();
    void onSearch();
    // Builds the summary in a job, the file read first when `load`.
    void showSummary(bool load);
    void startDownload();
    void onTick();
    void onDownloadEnded(int result);
    void showResults();

    ManagerApp& app_;
    std::unique_ptr<Ui::FirmwareWizard> ui_;
    std::unique_ptr<Ui::StartStep> start_;
    std::unique_ptr<Ui::FileStep> file_;
    std::unique_ptr<Ui::SummaryStep> summary_;
    std::unique_ptr<Ui::DownloadStep> download_;
    std::unique_ptr<Ui::ResultStep> result_;
    QString firmwarePath_;
    bool fileChosen_ = false;
    std::unique_ptr<RepeatingTimer> timer_;
    bool downloading_ = false;
    QString resultText_;
};

}  // namespace mvx::gui
