#include "gui/app/MainView.h"

#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/sheet/DeviceSheet.h"
#include "ui_MainView.h"

namespace mvx::gui {

MainView::MainView(ManagerApp& app, QWidget* parent)
    : QWidget(parent), app_(app), ui_(std::make_unique<Ui::MainView>()) {
    ui_->setupUi(this);
    ui_->deviceTree->setUp(DeviceTree::Browse, app_.registry());
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

void MainView::refreshDeviceList(int code, int id) {
    emit aboutToRefresh();
    if (app_.bus().isOpen()) {
        app_.registry().refresh();
    }
    refreshing_ = 1;
    ui_->deviceTree->rebuildTree(code, id);
    sheet_->showDevice(ui_->deviceTree->rememberedCode(), ui_->deviceTree->rememberedId());
    ui_->countLabel->setText(texts::foundCount(app_.registry().deviceCount()));
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
