// SPDX-License-Identifier: MIT
#include "server/server_start_page.h"

#include "base/ipv4_address.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTimer>

#include <array>

namespace zpmoni {

namespace {

// A check box for a settings key or, without one, for a value of the main window.
struct Flag {
    const char* name;  // the control's object name
    const char* label;
    std::string_view key;
    int32_t ServerStartValues::*window = nullptr;
};

// In the order they stand on the page; the cheat warning is exchanged but never shown.
constexpr std::array kFlags{
    Flag{"resolveName", "ホスト名を解決する", "ResolveName"},
    Flag{"closeErrorDialog", "エラーダイアログを自動で閉じる", "CloseErrorDialog"},
    Flag{"startUp", "Monitor起動時にZEPHRINEを起動する", "StartUp"},
    Flag{"minimizeZP", "ZEPHRINEを最小化", "MinimizeZP"},
    Flag{"checkRunning", "ダウンした場合再起動する", "CheckRunning"},
    Flag{"checksum", "チェックサムを計算", "Checksum"},
    Flag{"displayLogin", "Login ログを表示", {}, &ServerStartValues::displayLogin},
    Flag{"displayJoin", "Join ログを表示", {}, &ServerStartValues::displayJoin},
    Flag{"createLogfile", "ログファイルを作成", {}, &ServerStartValues::createLogfile},
    Flag{"chatLog", "チャットログを作成", "ChatLog"},
    Flag{"cheatCheck", "チート警告を表示", "CheatCheck"},
};
constexpr size_t kCloseErrorDialog = 1;
constexpr int kInterfaceEntries = 4;

bool FlagOn(const ServerStartValues& v, const Flag& f)
{
    return (f.window ? v.*f.window : SettingNumber(v.settings, Setting(f.key))) != 0;
}

void SetFlag(ServerStartValues& v, const Flag& f, bool on)
{
    if (f.window)
        v.*f.window = on ? 1 : 0;
    else
        SetSettingNumber(v.settings, Setting(f.key), on ? 1 : 0);
}

// A text key's edit: the bytes as given while the text still reads as they were shown.
void ReadText(MonitorSettings& s, const MonitorSettings& given, const QLineEdit* edit, std::string_view key)
{
    const SettingKey& k = Setting(key);
    SetSettingText(s, k, SettingsPage::EditBytes(edit->text(), SettingText(given, k)));
}

QLineEdit* Edit(const char* objectName, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    return edit;
}

}  // namespace

ServerStartPage::ServerStartPage(const ServerStartValues& values, std::vector<uint32_t> addresses, QWidget* parent)
    : SettingsPage(QString::fromUtf8("起動設定"), parent), values(values), addresses(std::move(addresses))
{
}

void ServerStartPage::BuildControls()
{
    auto* grid = new QGridLayout(this);
    folder = Edit("folderPath", this);
    auto* browse = new QPushButton(QStringLiteral("..."), this);
    browse->setObjectName(QStringLiteral("browse"));
    browse->setFixedWidth(32);
    grid->addWidget(new QLabel(QString::fromUtf8("ZP フォルダパス"), this), 0, 0);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder, 1);
    folderRow->addWidget(browse);
    grid->addLayout(folderRow, 0, 1, 1, 3);

    auto* frame = new QGroupBox(this);
    auto* radios = new QHBoxLayout(frame);
    exeTypes = new QButtonGroup(this);
    const char* kExeTypes[] = {"OpenGL", "Non-OpenGL", "DirectX", "Console"};
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(QString::fromLatin1(kExeTypes[i]), frame);
        exeTypes->addButton(radio, i);
        radios->addWidget(radio);
    }
    grid->addWidget(frame, 1, 0, 1, 4);

    name = Edit("handleName", this);
    grid->addWidget(new QLabel(QString::fromUtf8("ユーザーネーム"), this), 2, 0);
    grid->addWidget(name, 2, 1, 1, 3);

    interfaces = new QComboBox(this);
    interfaces->setObjectName(QStringLiteral("interfaces"));
    port = Edit("port", this);
    port->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), port));
    grid->addWidget(new QLabel(QString::fromUtf8("IPアドレス"), this), 3, 0);
    grid->addWidget(interfaces, 3, 1);
    grid->addWidget(new QLabel(QString::fromUtf8("ポート"), this), 3, 2);
    grid->addWidget(port, 3, 3);

    int row = 4;
    for (const Flag& f : kFlags) {
        auto* box = new QCheckBox(QString::fromUtf8(f.label), this);
        box->setObjectName(QString::fromLatin1(f.name));
        checks.push_back(box);
        grid->addWidget(box, row++, 0, 1, 2);
    }
    checks.back()->setVisible(false);
    // The watch period stands beside its check box.
    period = Edit("closeSeconds", this);
    auto* periodRow = new QHBoxLayout;
    periodRow->addWidget(period);
    periodRow->addWidget(new QLabel(QString::fromUtf8("秒毎にダイアログを監視"), this));
    grid->addLayout(periodRow, 4 + static_cast<int>(kCloseErrorDialog), 2, 1, 2);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    connect(browse, &QPushButton::clicked, this, &ServerStartPage::OnBrowse);
    connect(interfaces, &QComboBox::activated, this, &ServerStartPage::OnInterfaceChosen);
    connect(checks[kCloseErrorDialog], &QCheckBox::toggled, period, &QWidget::setEnabled);

    Fill();
    for (int i = 0; i < kInterfaceEntries && i < static_cast<int>(addresses.size()); ++i)
        interfaces->addItem(
            QString::fromStdString(Ipv4Address::FromNetworkOrder(addresses[static_cast<size_t>(i)]).ToString()));
    if (interfaces->count() == 0) {
        interfaces->addItem(QStringLiteral("IP address not found"));
        interfaces->setCurrentIndex(0);
    } else {
        // Limited to the four entries; an entry the table does not have stays unselected, and
        // the check below says so at once.
        interfaces->setCurrentIndex(std::clamp(values.settings.interfaceNumber, 0, kInterfaceEntries - 1));
    }
    period->setEnabled(checks[kCloseErrorDialog]->isChecked());
    QTimer::singleShot(0, this, [this] { ReadBack(); });
}

void ServerStartPage::Fill()
{
    const MonitorSettings& s = values.settings;
    folder->setText(Shown(SettingText(s, Setting("FolderPath"))));
    name->setText(Shown(SettingText(s, Setting("HandleName"))));
    port->setText(QString::number(SettingNumber(s, Setting("Port"))));
    period->setText(QString::number(values.closeSeconds, 'g', 15));
    for (size_t i = 0; i < kFlags.size(); ++i)
        checks[i]->setChecked(FlagOn(values, kFlags[i]));
    if (QAbstractButton* chosen = exeTypes->button(static_cast<int>(SettingNumber(s, Setting("ExeType")))))
        chosen->setChecked(true);
}

bool ServerStartPage::ReadBack()
{
    ServerStartValues v = values;
    const SettingKey& portKey = Setting("Port");
    const SettingKey& interfaceKey = Setting("InterfaceNumber");
    int64_t number = 0;
    double seconds = 0;
    if (!CheckInt(port, portKey.min, portKey.max, number))
        return false;
    SetSettingNumber(v.settings, portKey, number);
    if (interfaces->currentIndex() < interfaceKey.min || interfaces->currentIndex() > interfaceKey.max)
        return RangeMessage(interfaces, QStringLiteral("Please enter an integer between %1 and %2.")
                                            .arg(interfaceKey.min).arg(interfaceKey.max));
    SetSettingNumber(v.settings, interfaceKey, interfaces->currentIndex());
    if (!CheckDouble(period, 0.001, 2000000, seconds))
        return false;
    v.closeSeconds = seconds;
    ReadText(v.settings, values.settings, folder, "FolderPath");
    ReadText(v.settings, values.settings, name, "HandleName");
    for (size_t i = 0; i < kFlags.size(); ++i)
        SetFlag(v, kFlags[i], checks[i]->isChecked());
    // No button chosen (a stored type outside 0 to 3): the stored value stays.
    if (exeTypes->checkedId() >= 0)
        SetSettingNumber(v.settings, Setting("ExeType"), exeTypes->checkedId());
    values = v;
    return true;
}

bool ServerStartPage::Validate()
{
    return !Created() || ReadBack();
}

std::string ServerStartPage::FolderText() const
{
    return Created() ? EditBytes(folder->text(), values.settings.folderPath) : values.settings.folderPath;
}

void ServerStartPage::OnInterfaceChosen(int index)
{
    if (interfaces->itemText(index) == QStringLiteral("127.0.0.1")) {
        Message(QString::fromUtf8("ループバックIPアドレスは指定できません"));
        interfaces->setCurrentIndex(0);
    }
}

void ServerStartPage::OnBrowse()
{
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QString::fromUtf8("起動するZPフォルダを選択"), folder->text(), QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty())
        folder->setText(chosen);
}

}  // namespace zpmoni
