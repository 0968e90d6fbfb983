// SPDX-License-Identifier: MIT
#include "history/history_page.h"

#include "ui/network_text.h"
#include "ui/report_list_view.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QStringEncoder>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace zpmoni {

namespace {

constexpr ListColumn kColumns[] = {
    {"ユーザー名", Qt::AlignLeft, 90},
    {"IPアドレス", Qt::AlignLeft, 100},
    {"ログオン", Qt::AlignLeft, 130},
    {"ログオフ", Qt::AlignLeft, 130},
    {"機体", Qt::AlignLeft, 200},
};

}  // namespace

HistoryPage::HistoryPage(std::string path, const Clock& clock, QWidget* parent)
    : QWidget(parent), path(std::move(path)), clock(clock), box(new QLineEdit(this)), note(new QLabel(this)),
      rows(new ReportRows(kColumns, this))
{
    auto* host = new QWidget(this);
    list = ReportListView::FillPage(host, rows, kColumns, 0);
    list->SetSortColumn(0);  // newest first, by no column of the list
    box->setPlaceholderText(QString::fromUtf8("ユーザー名 (*で部分一致) または IPアドレス[/ビット数]"));
    box->setMaxLength(64);
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box);
    layout->addWidget(host, 1);
    layout->addWidget(note);
    connect(box, &QLineEdit::returnPressed, this, [this] { Search(box->text()); });
    connect(list, &ReportListView::rowMenuRequested, this, &HistoryPage::ShowMenu);
}

HistoryPage::~HistoryPage() = default;

void HistoryPage::ShowMenu(const QPoint& globalPos)
{
    QMenu menu(this);
    menu.addAction(QString::fromUtf8("この名前をアクセス禁止"), this, &HistoryPage::BanSelectedName)
        ->setEnabled(banName && !list->SelectedRows().isEmpty());
    menu.exec(globalPos);
}

void HistoryPage::BanSelectedName()
{
    const QList<int> selected = list->SelectedRows();
    if (selected.isEmpty() || !banName)
        return;
    // The name as the server sent it, not as shown: a Shift_JIS name must match the history.
    const std::string name = list->model()->index(selected.first(), 0).data(kBytesRole).toByteArray().toStdString();
    const Result<size_t> banned = banName(name);
    // Not modal to the event loop: the monitor goes on while the box is up.
    auto* box = new QMessageBox(banned ? QMessageBox::Information : QMessageBox::Warning,
                                QString::fromUtf8("アクセス禁止"),
                                banned ? QString::fromUtf8("%1: %2 件のアドレスをアクセス禁止にしました")
                                             .arg(NetworkText(name))
                                             .arg(*banned)
                                       : QString::fromStdString(banned.error()),
                                QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void HistoryPage::Search(const QString& text)
{
    rows->Remove(0, rows->rowCount() - 1);
    note->clear();
    // Names are stored as the bytes the server sent: what was typed is looked for as UTF-8 and,
    // unless it is ASCII, as Shift_JIS as well (the simulator's own character set).
    std::vector<QByteArray> spellings{text.toUtf8()};
    if (QStringEncoder sjis("Shift_JIS", QStringEncoder::Flag::Stateless); sjis.isValid()) {
        QByteArray encoded = sjis(text);
        if (!sjis.hasError() && encoded != spellings.front())
            spellings.push_back(encoded);
    }
    std::optional<HistoryQuery> query;
    std::vector<StoredSession> found;
    for (const QByteArray& typed : spellings) {
        query = ParseHistorySearch(std::string_view(typed.constData(), static_cast<size_t>(typed.size())));
        if (!query)
            return;
        if (!store) {
            auto opened = HistoryStore::Open(path);
            if (!opened)
                return note->setText(QString::fromStdString(opened.error()));
            store = std::move(opened.value());
        }
        auto some = store->Search(*query);
        if (!some)
            return note->setText(QString::fromStdString(some.error()));
        found.insert(found.end(), some->begin(), some->end());
    }
    std::ranges::sort(found, std::greater(), [](const StoredSession& s) { return std::pair(s.record.logon, s.id); });
    found.resize(std::min(found.size(), static_cast<size_t>(kDefaultSearchLimit)));
    auto time = [&](int64_t t) { return t ? FormatTime(clock.LocalTime(t), "%Y/%m/%d %H:%M:%S") : std::string(); };
    for (const StoredSession& s : found) {
        std::string flown;
        for (const FlownAircraft& a : s.record.aircraft)
            flown += (flown.empty() ? "" : ", ") + a.aircraft;
        const std::string cells[] = {s.record.user, s.record.address.ToString(), time(s.record.logon),
                                     time(s.record.logoff), flown};
        rows->Insert(rows->rowCount(), cells, static_cast<int>(s.id));
    }
    QString summary = QString::fromUtf8("%1 件").arg(found.size());
    if (!query->user.empty() && query->match == HistoryQuery::NameMatch::Prefix) {
        // Other names seen from the addresses used with the name typed, when it is a whole name.
        if (auto others = store->OtherNamesOf(query->user); others && !others->empty()) {
            summary += QString::fromUtf8("  同じアドレスの別名:");
            for (const SeenWith& o : *others)
                summary += QStringLiteral(" ") + NetworkText(o.user) + QStringLiteral(" (") +
                           QString::fromStdString(o.address.ToString()) + QStringLiteral(")");
        }
    }
    note->setText(summary);
}

}  // namespace zpmoni
