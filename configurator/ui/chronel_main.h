#pragma once
// ChronelMain, the configurator's main window: six tabs, the menus and the
// transfer display, each control named as the system names it
// (txtConfigModuleName, chkSsPcEnable, …; the eight point rows are control
// arrays sharing one name with their row in the "index" property). The window
// holds no logic of its own: every control is bound to the ChronelModel in
// both directions, and menu entries are routed to handlers that the
// activities install.
#include "core/flash/flash_model.h"
#include "core/model/chronel_model.h"

#include <QHash>
#include <QMainWindow>
#include <functional>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QTimer;

namespace chronel {

class ChronelMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int TabCount = 6;

    // Creates the window, its model and the six channels (through `factory`).
    // Nothing is sent until startUp().
    explicit ChronelMain(const ControlFactory& factory = {}, QWidget* parent = nullptr);
    ~ChronelMain() override;

    ChronelModel& model() { return *model_; }
    FlashModel& flash() { return *flash_; }

    // The start-up order; the caller may set the IP fields before.
    void startUp();

    // Routes the menu entry `actionName` ("mnuTransferUpload", …) to
    // `handler`. Entries without a handler say in the status bar that they
    // are not available yet.
    void setMenuHandler(const QString& actionName, std::function<void()> handler);
    QAction* menuAction(const QString& actionName) const;

    QTabWidget* tabs() const { return tabs_; }

    // Before the window's unsaved edits are dropped (exit, File > Open): asks
    // Save / Discard / Cancel. True when the caller may go on: nothing was
    // unsaved, the user discarded the edits, or File > Save saved them.
    bool maybeSaveEdits();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    // The tabs, each in a file of its own: configuration_tab.cpp,
    // ser_setup_tab.cpp, time_setup_tab.cpp, flash_tab.cpp (a widget),
    // ser_data_tab.cpp and gps_data_tab.cpp.
    QWidget* buildConfigurationTab();
    QWidget* buildSerSetupTab();
    QWidget* buildTimeSetupTab();
    QWidget* buildFlashTab();
    QWidget* buildSerDataTab();
    QWidget* buildGpsDataTab();
    QLineEdit* textField(const QString& name, QWidget* parent, bool displayOnly = false);
    QLabel* indicator(const QString& name, QWidget* parent);

    void bindSettings();
    void bindPointRows(); // SER Setup
    void refreshSettings();
    void refreshPointPage();   // SER Setup
    void refreshPointStatus(); // Retrieve SER Data
    void refreshTransfer();
    void refreshWindowItems();
    void refreshFieldNotes();
    void refreshEditState();
    void runMenu(const QString& actionName);
    void showAbout();

    std::unique_ptr<ChronelModel> model_;
    std::unique_ptr<FlashModel> flash_;
    QTabWidget* tabs_ = nullptr;
    QProgressBar* transferProgress_ = nullptr;
    QLabel* transferLabel_ = nullptr;

    QHash<QString, QLineEdit*> settingFields_; // by control name, octets included
    QHash<QString, QCheckBox*> checkBoxes_;
    QHash<QString, QComboBox*> lists_;
    QButtonGroup* eventBufferGroup_ = nullptr;
    QButtonGroup* tcpipModeGroup_ = nullptr;
    QButtonGroup* tcpipSpeedGroup_ = nullptr;
    QButtonGroup* ethernetCommGroup_ = nullptr;

    struct RowControls {
        QLabel* pointNum;
        QCheckBox* enable;
        QLineEdit* filter;
        QLineEdit* debounce;
        QLineEdit* chatter;
        QLineEdit* description;
        QLineEdit* off;
        QLineEdit* on;
    };
    int pointRowsThatFit() const;

    std::array<RowControls, PointPage::MaxRows> rows_{};
    QGroupBox* pointFrame_ = nullptr;
    QGridLayout* pointGrid_ = nullptr;
    QScrollBar* pointScroll_ = nullptr;
    std::array<QLabel*, 32> pointStatus_{};

    QHash<QString, QAction*> actions_;
    QHash<QString, std::function<void()>> handlers_;
    bool refreshing_ = false;
};

} // namespace chronel
