// SPDX-License-Identifier: MIT
#include "app/main_window.h"

#include "server/find_window_dialog.h"
#include "app/monitor_controller.h"
#include "app/monitor_app.h"
#include "capture/connections_page.h"
#include "capture/event_list_page.h"
#include "client/chat_page.h"
#include "history/history_page.h"
#include "platform/system_clock.h"
#include "ui/report_list_view.h"
#include "platform/termination_signals.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QIcon>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWindow>

// The resources live in a static library: the linker keeps them only when asked to. The macro
// declares a global function, so it is called outside the namespace.
static void InitResources() { Q_INIT_RESOURCE(zpmoni); }

namespace zpmoni {

namespace {
constexpr std::string_view kPosition = "Position";

QIcon AppIcon()
{
    return QIcon(QStringLiteral(":/zpmoni/zpmoni.png"));
}
}  // namespace

MainWindow::MainWindow(MonitorApp& app, QWidget* parent) : QMainWindow(parent), app(app)
{
    ::InitResources();
    setWindowTitle(QString::fromUtf8(kTitle));
    setWindowIcon(AppIcon());
}

MainWindow::~MainWindow()
{
    ShutDown();
}

const QString& MainWindow::StatusLine() const
{
    return controller->StatusLine();
}

void MainWindow::Initialize()
{
    // Pages first, then position, then the status timer, the client and the capture (the
    // controller's order).
    chatPage = new ChatPage(QString::fromStdString(app.workdir + "/Log"));
    controller = new MonitorController(app, *chatPage, this);
    connectPage = new ConnectionsPage(app.capture.Table(), app.profile, app.clock);
    monitorPage = new EventListPage(app.profile, controller->listLine);
    tabs = new QTabWidget(this);
    tabs->addTab(connectPage, QString::fromUtf8("接続状況"));
    tabs->addTab(monitorPage, QString::fromUtf8("ログ"));
    tabs->addTab(chatPage, QString::fromUtf8("チャット"));
    auto* historyPage = new HistoryPage(app.workdir + "/" + std::string(kHistoryFileName), app.clock);
    historyPage->SetBanName([this](const std::string& name) {  // the last 30 days' addresses, without end
        return app.access.BanName("window", name, 30, name, std::chrono::seconds{0});
    });
    tabs->addTab(historyPage, QString::fromUtf8("履歴"));
    setCentralWidget(tabs);
    // The list of the page shown takes the keys, so Ctrl+C and Delete act on it at once.
    connect(tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 0)
            connectPage->List()->setFocus();
        else if (index == 1)
            monitorPage->List()->setFocus();
    });
    controller->Events().SetRowSink(monitorPage);
    auto deny = [this](const std::string& address, const std::string& comment) {
        (void)app.access.Ban("window", address, comment);  // told in the error and action logs
    };
    connectPage->SetDenyAccess(deny);
    monitorPage->SetDenyAccess(deny);
    BuildMenus();

    ProfileStore& ini = app.profile;
    // As stored, without any check against the screen; the size is the outer one, frame
    // included, like the position. The frame is known once shown (showEvent).
    move(ini.GetInt(kPosition, "Left", 100), ini.GetInt(kPosition, "Top", 100));
    outerSize = QSize(ini.GetInt(kPosition, "Width", 488), ini.GetInt(kPosition, "Height", 329));
    resize(outerSize);

    tray = new QSystemTrayIcon(AppIcon(), this);
    tray->setToolTip(QCoreApplication::applicationName());
    connect(tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
        // StatusNotifierItem desktops report any click as Trigger and never a double click.
        if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick) {
            RestoreFromTray();
        } else if (why == QSystemTrayIcon::Context) {
            raise();
            QMenu* menu = BuildFileMenu(this);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(QCursor::pos());
            tray->setToolTip(StatusLine());
        }
    });

    connect(controller, &MonitorController::statusLineChanged, this, &MainWindow::OnStatus);
    // Qt tells of no pointer over the icon: the tip follows every tick instead.
    connect(controller, &MonitorController::statusTicked, tray, &QSystemTrayIcon::setToolTip);
    controller->Initialize();

    // The menu bar's start item is greyed while the supervisor runs a server.
    QAction* start = menuBar()->actions().front()->menu()->actions().front();
    start->setEnabled(controller->Supervisor()->StartEnabled());
    connect(controller->Supervisor(), &ServerSupervisor::startEnabledChanged, start,
            &QAction::setEnabled);
}

void MainWindow::OnStatus(const QString& line)
{
    if (baseTitle.isEmpty())
        baseTitle = windowTitle();
    setWindowTitle(baseTitle + QStringLiteral("  ") + line);
}

QMenu* MainWindow::BuildFileMenu(QWidget* parent)
{
    auto* menu = new QMenu(QString::fromUtf8("ファイル(&F)"), parent);
    // Built afresh each time, so none of its items is greyed here.
    menu->addAction(QString::fromUtf8("ZP 起動(&B)"), this, [this] {
        if (ServerSupervisor* s = controller->Supervisor())
            s->Logic().StartServer();
    });
    menu->addAction(QString::fromUtf8("ZP 終了(&T)"), this, [this] {
        if (ServerSupervisor* s = controller->Supervisor())
            s->Logic().TerminateServer();
    });
    menu->addAction(QString::fromUtf8("ログフォルダを開く(&L)"), this,
                    [this] { chatPage->OpenLogFolder(); });
    menu->addAction(QString::fromUtf8("終了(&X)"), this, &QWidget::close);
    return menu;
}

void MainWindow::BuildMenus()
{
    menuBar()->addMenu(BuildFileMenu(this));
    QMenu* settings = menuBar()->addMenu(QString::fromUtf8("設定(&C)"));
    settings->addAction(QString::fromUtf8("モニター設定(&M)"), this, &MainWindow::OnMonitorSettings);
    settings->addAction(QString::fromUtf8("ZPウィンドウ検索(&W)"), this, [this] {
        if (controller->Supervisor())
            TakeControl(this, app.server);
        app.publishedSettings.Publish(app.settings);  // the executable type may have changed
    });
    QMenu* help = menuBar()->addMenu(QString::fromUtf8("ヘルプ(&H)"));
    help->addAction(QString::fromUtf8("ヘルプ(&H)"), this, &MainWindow::ShowHelp);
    help->addAction(QString::fromUtf8("バージョン情報(&V)"), this, &MainWindow::ShowAbout);
}

void MainWindow::ShowAbout()
{
    QMessageBox box(this);
    box.setWindowTitle(QString::fromUtf8("バージョン情報 Zpmoni"));
    box.setIconPixmap(AppIcon().pixmap(48, 48));
    box.setTextFormat(Qt::PlainText);
    box.setText(QStringLiteral("ZEPHRINE Server Monitor Version " ZPMONI_VERSION "\n"
                               "Zpmoni developers, MIT licence"));
    box.exec();
}

void MainWindow::ShowHelp()
{
    QDialog dialog(this);
    dialog.setWindowTitle(QString::fromUtf8("ヘルプ"));
    auto* browser = new QTextBrowser(&dialog);
    QFile page(QStringLiteral(":/zpmoni/help.html"));
    if (page.open(QIODevice::ReadOnly))
        browser->setHtml(QString::fromUtf8(page.readAll()));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(browser);
    layout->addWidget(buttons);
    dialog.resize(560, 480);
    dialog.exec();
}

void MainWindow::MinimizeToTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        showMinimized();  // no tray to go to: an ordinary minimise keeps the window reachable
        return;
    }
    tray->show();
    hide();
}

void MainWindow::RestoreFromTray()
{
    tray->hide();
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Once, and not when the size was set since.
    if (outerSize.isValid() && size() == outerSize && windowHandle()) {
        const QMargins frame = windowHandle()->frameMargins();
        resize(outerSize.shrunkBy(frame));
    }
    outerSize = QSize();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // A minimise hides the window behind the tray icon; the window itself is not minimised.
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        QSystemTrayIcon::isSystemTrayAvailable()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        MinimizeToTray();
    }
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape neither close the window nor press anything.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    ShutDown();
    event->accept();
}

void MainWindow::ShutDown()
{
    if (shutDown || !controller)
        return;
    shutDown = true;
    if (tray)
        tray->hide();
    ProfileStore& ini = app.profile;
    ProfileStore::Batch batch(ini);  // one rewrite of the file for all that follows
    const QRect outer = frameGeometry();
    ini.WriteInt(kPosition, "Left", outer.x());
    ini.WriteInt(kPosition, "Top", outer.y());
    ini.WriteInt(kPosition, "Width", outer.width());
    ini.WriteInt(kPosition, "Height", outer.height());
    // ZpmoniDlg, the capture stopped, then the pages in their order (the event-log page with
    // its settings), then the client connection (which writes its version).
    controller->Events().SetRowSink(nullptr);
    controller->Shutdown([this, &ini] {
        monitorPage->SaveState(ini);
        controller->SaveEventLogSettings();
        connectPage->SaveState(ini);
    });
}

int RunWindowed(int argc, char** argv, const std::string& workdir)
{
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zpmoni"));
    QApplication::setQuitOnLastWindowClosed(false);

    SystemClock clock;
    MonitorApp app(workdir, clock);
    MainWindow* window = nullptr;
    // A signal ends the run as the close box does: settings written, capture stopped, logs closed.
    OnTerminationSignals([&window] {
        if (window)
            window->close();
        QCoreApplication::quit();
    });
    app.StartUp([&](std::string_view message) {
        QMessageBox::warning(window, QString::fromUtf8(MainWindow::kTitle),
                             QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())));
    });
    {
        MainWindow dialog(app);
        window = &dialog;
        dialog.Initialize();
        dialog.show();
        QObject::connect(&dialog, &QObject::destroyed, &qapp, &QApplication::quit);
        // The window closes by its close event; the loop ends with it.
        struct Quit : QObject {
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::Close)
                    QMetaObject::invokeMethod(qApp, &QApplication::quit, Qt::QueuedConnection);
                return false;
            }
        } quit;
        dialog.installEventFilter(&quit);
        qapp.exec();
        dialog.removeEventFilter(&quit);
        app.server.StopSchedule();
        window = nullptr;
    }
    (void)app.access.RemoveAll();
    return 0;
}

}  // namespace zpmoni
