#include "gui/app/MainView.h"

#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/sheet/DeviceSheet.h"
#include "protocol/ResultCode.h"
#include "ui_MainView.h"

namespace mvx::gui {

MainView::MainView(ManagerApp& app, QWidget* parent)
    : QWidget(parent), app_(app), ui_(std::make_unique<Ui::MainView>()) {
    ui_->setupUi(this);
    ui_->deviceTree->setUp(DeviceTree::Browse);
    ui_->deviceTree->setToolTipSource(
        [&app](int code, int id) { return app.findDevice(code, id); });
    sheet_ = new DeviceSheet(app_, ui_->sheetFrame);
    ui_->sheetFrame->layout()->addWidget(sheet_);
    ui_->countLabel->setText(texts::foundCount(0));
    connect(ui_->deviceTree, &DeviceTree::deviceSelectionChanged, this,
            &MainView::onSelectionChanged);
}

MainView::~MainView() = default;

DeviceTree& MainView::tree() {
    return *ui_->deviceTree;
}

namespace {

// What a refresh found: the registry's list after its pings.
struct Listed {
    int result = Success;
    std::vector<DeviceSummary> devices;
};

}  // namespace

void MainView::refreshDeviceList(int code, int id, std::function<void()> shown) {
    emit aboutToRefresh();
    sheet_->expectRebuild();
    DeviceRegistry& registry = app_.registry();
    app_.jobs().command(
        this,
        [&registry] {
            Listed listed;
            if (registry.bus().isOpen()) {
                registry.refresh();  // its result is not examined
            }
            listed.devices = registry.snapshot();
            return listed;
        },
        [this, code, id, shown = std::move(shown)](const Listed& listed) {
            if (listed.result != Success) {
                // The job threw: the list stays as it was, and the common report follows.
                showDevices(app_.devices(), code, id, shown);
                app_.shell().reportBusFailure(listed.result);
                return;
            }
            showDevices(listed.devices, code, id, shown);
        });
}

void MainView::showDevices(std::vector<DeviceSummary> devices, int code, int id,
                           std::function<void()> shown) {
    app_.setDevices(std::move(devices));
    refreshing_ = 1;
    ui_->deviceTree->rebuildTree(app_.devices(), code, id);
    sheet_->showDevice(ui_->deviceTree->rememberedCode(), ui_->deviceTree->rememberedId(),
                       std::move(shown));
    ui_->countLabel->setText(texts::foundCount(static_cast<int>(app_.devices().size())));
    refreshing_ = 0;
    emit refreshed();
}

void MainView::onSelectionChanged() {
    if (refreshing_ != 0) {
        return;
    }
    sheet_->showDevice(ui_->deviceTree->rememberedCode(), ui_->deviceTree->rememberedId());
}

}  // namespace mvx::gui
