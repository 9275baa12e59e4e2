#include "app/JournalDlg.h"

#include "app/ServerDlg.h"
#include "journal/ServerJournal.h"

#include "app/FileNames.h"
#include "card/SettingsCard.h"
#include "platform/Platform.h"
#include "settings/SettingsFile.h"

#include "fields/RecordFields.h"

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

std::vector<std::string> RecordDifferences(const SettingsRecord& a, const SettingsRecord& b) {
    return Differences(a, b);
}

// ---- the table ----

void JournalModel::SetEntries(std::vector<JournalEntry> entries) {
    beginResetModel();
    m_entries = std::move(entries);
    m_shown.resize(m_entries.size());
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        m_shown[i] = static_cast<int>(i);
    endResetModel();
}

void JournalModel::SetFilter(const QString& account, const QString& text) {
    beginResetModel();
    m_shown.clear();
    const QString needle = text.trimmed();
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const JournalEntry& e = m_entries[i];
        if (!account.isEmpty() && e.account != account) continue;
        if (!needle.isEmpty()) {
            bool found = e.title.contains(needle, Qt::CaseInsensitive);
            for (int c = 0; c < ColumnCount && !found; ++c)
                found = CellText(e, c).contains(needle, Qt::CaseInsensitive);
            if (!found) continue;
        }
        m_shown.push_back(static_cast<int>(i));
    }
    endResetModel();
}

const JournalEntry* JournalModel::EntryAt(int row) const {
    if (row < 0 || row >= static_cast<int>(m_shown.size())) return nullptr;
    return &m_entries[static_cast<std::size_t>(m_shown[static_cast<std::size_t>(row)])];
}

int JournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
}

int JournalModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString JournalModel::CellText(const JournalEntry& e, int column) {
    switch (column) {
    case Time:
        return e.time.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    case Action: {
        QString text = e.halfWritten ? QStringLiteral("Запись прервана: прибор, возможно, записан "
                                                      "частично (%1 из 512 блоков)")
                                           .arg(e.blocksDone)
                                     : ActionText(e.action);
        if (!e.refused.isEmpty())
            text += QStringLiteral(" — не принята сервером: %1").arg(e.refused);
        else if (e.unsent)
            text += QStringLiteral(" — не отправлена на сервер");
        return text;
    }
    case Result:
        if (e.action == JournalAction::UnsavedAtExit) return e.resultText;
        return QStringLiteral("%1 %2").arg(e.result).arg(e.resultText);
    case Port:
        return e.port;
    case Addresses:
        return QStringLiteral("ГРЕМУС %1, ТОРВИК-7 %2").arg(e.unitAddress).arg(e.lineAddress);
    case Account:
        return e.account;
    case Phone1:
        return e.phone1;
    case Installer:
        return e.installer;
    default:
        return {};
    }
}

QVariant JournalModel::data(const QModelIndex& index, int role) const {
    const JournalEntry* e = EntryAt(index.row());
    if (!e) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return CellText(*e, index.column());
    if (role == Qt::DecorationRole && index.column() == Action && e->halfWritten)
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    if (role == Qt::DecorationRole && index.column() == Time && e->unsent)
        return QApplication::style()->standardIcon(QStyle::SP_DriveNetIcon);
    return {};
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kHeaders[ColumnCount] = {"Время",     "Действие", "Результат",
                                                      "Порт",      "Адреса",   "Номер объекта",
                                                      "Телефон 1", "Монтажник"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(kHeaders[section])
                                                 : QVariant();
}

// ---- the dialog ----

namespace {

// The newest entries of a team's server that "Журнал" lists at once.
constexpr int kServerListed = 10000;

Message Info(const QString& text, MessageIcon icon = MessageIcon::Information) {
    Message m;
    m.owner = MessageOwner::Window;
    m.icon = icon;
    m.text = text.toStdString();
    return m;
}

} // namespace

CJournalDlg::CJournalDlg(Journal& journal, Actions actions, QWidget* parent)
    : QDialog(parent), m_journal(journal), m_actions(std::move(actions)) {
    setWindowTitle(QStringLiteral("Журнал обменов"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(this);

    auto* filters = new QHBoxLayout;
    filters->addWidget(new QLabel(QStringLiteral("Номер объекта:"), this));
    m_account = new QLineEdit(this);
    m_account->setMaxLength(4);
    m_account->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_account));
    m_account->setMaximumWidth(80);
    filters->addWidget(m_account);
    filters->addWidget(new QLabel(QStringLiteral("Поиск:"), this));
    m_text = new QLineEdit(this);
    m_text->setClearButtonEnabled(true);
    filters->addWidget(m_text, 1);
    m_count = new QLabel(this);
    filters->addWidget(m_count);
    layout->addLayout(filters);

    m_table = new QTableView(this);
    m_table->setModel(&m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    // Uniform rows: a long journal lists at once.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(true);
    static const int kWidths[JournalModel::ColumnCount] = {140, 400, 190, 80, 170, 110, 120, 100};
    for (int c = 0; c < JournalModel::ColumnCount; ++c)
        m_table->setColumnWidth(c, kWidths[c]);
    layout->addWidget(m_table, 1);

    auto* buttons = new QHBoxLayout;
    m_openButton = new QPushButton(QStringLiteral("Открыть"), this);
    m_saveButton = new QPushButton(QStringLiteral("Сохранить как…"), this);
    m_compareButton = new QPushButton(QStringLiteral("Сравнить…"), this);
    m_serverButton = new QPushButton(QStringLiteral("Сервер…"), this);
    auto* closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    for (QPushButton* b :
         {m_openButton, m_saveButton, m_compareButton, m_serverButton, closeButton}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->insertStretch(3, 1);
    // The entry's card straight from its row, as the main window prints the record in memory.
    m_printButton = new QPushButton(QStringLiteral("Печать…"), this);
    m_pdfButton = new QPushButton(QStringLiteral("PDF…"), this);
    m_printButton->setToolTip(
        QStringLiteral("Карточка настроек строки журнала: просмотр и печать"));
    m_pdfButton->setToolTip(QStringLiteral("Карточка настроек строки журнала в файл PDF"));
    m_printButton->setAutoDefault(false);
    m_pdfButton->setAutoDefault(false);
    buttons->insertWidget(3, m_printButton);
    buttons->insertWidget(4, m_pdfButton);
    layout->addLayout(buttons);
    m_where = new QLabel(this);
    layout->insertWidget(1, m_where);
    resize(1250, 560);

    connect(m_openButton, &QPushButton::clicked, this, &CJournalDlg::OnOpenEntry);
    connect(m_saveButton, &QPushButton::clicked, this, &CJournalDlg::OnSaveEntry);
    connect(m_compareButton, &QPushButton::clicked, this, &CJournalDlg::OnCompareEntry);
    connect(m_printButton, &QPushButton::clicked, this, [this] { OnCardEntry(false); });
    connect(m_pdfButton, &QPushButton::clicked, this, [this] { OnCardEntry(true); });
    connect(m_serverButton, &QPushButton::clicked, this, &CJournalDlg::OnServerSettings);
    m_serverButton->setVisible(kServerJournalBuilt);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    // A team's server is asked for the account's entries itself; this computer's journal is
    // filtered in memory.
    connect(m_account, &QLineEdit::textChanged, this,
            [this] { m_journal.Server() ? Reload() : ApplyFilter(); });
    connect(m_text, &QLineEdit::textChanged, this, &CJournalDlg::ApplyFilter);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CJournalDlg::UpdateButtons);
    connect(m_table, &QTableView::doubleClicked, this, &CJournalDlg::OnOpenEntry);

    Reload();
}

void CJournalDlg::Reload() {
    const ServerJournal* server = m_journal.Server();
    JournalQuery query;
    if (server) {
        // A team's journal may hold millions of entries: the newest are listed, and an account
        // number typed in the filter is looked up on the server.
        query.account = m_account->text();
        query.limit = kServerListed;
    }
    m_model.SetEntries(m_journal.List(query));
    const auto address = server ? ParseServerAddress(JournalServerAddress()) : std::nullopt;
    m_where->setText(address && server->Unreachable()
                         ? QStringLiteral("Сервер журнала команды %1 сейчас недоступен: показаны "
                                          "записи этого компьютера; они будут отправлены, когда "
                                          "сервер станет доступен.")
                               .arg(address->Shown())
                     : address
                         ? QStringLiteral("Журнал команды на сервере %1; записи хранятся и на "
                                          "этом компьютере.")
                               .arg(address->Shown())
                     : kServerJournalBuilt
                         ? QStringLiteral("Журнал хранится на этом компьютере.")
                         : QStringLiteral("Журнал хранится только на этом компьютере: эта "
                                          "сборка не связывается с сервером журнала команды."));
    ApplyFilter();
}

bool CJournalDlg::ApplyServerAddress(const QString& address) {
    QString why;
    if (!SetJournalServerAddress(address, &why)) {
        Message m = Info(QStringLiteral("Адрес сервера журнала не принят: %1.").arg(why),
                         MessageIcon::Error);
        m.caption = kCaptionOshibka;
        ThePlatform().ShowMessage(this, m);
        return false;
    }
    m_journal.ReloadServer();
    Reload();
    return true;
}

void CJournalDlg::OnServerSettings() {
    if (IsServerAddress(QString::fromLocal8Bit(qgetenv("TORVIK7_JOURNAL")))) {
        ThePlatform().ShowMessage(
            this,
            Info(QStringLiteral("Сервер журнала задан переменной окружения TORVIK7_JOURNAL.")));
        return;
    }
    CServerDlg dialog(m_journal, JournalServerAddress(), this);
    if (dialog.exec() == QDialog::Accepted) ApplyServerAddress(dialog.Address());
}

void CJournalDlg::ApplyFilter() {
    m_model.SetFilter(m_account->text(), m_text->text());
    QString count =
        m_model.rowCount() == m_model.Total()
            ? QStringLiteral("Записей: %1").arg(m_model.Total())
            : QStringLiteral("Записей: %1 из %2").arg(m_model.rowCount()).arg(m_model.Total());
    if (m_journal.Server() && m_model.Total() >= kServerListed)
        count += QStringLiteral(" (последние на сервере)");
    m_count->setText(count);
    if (m_model.rowCount() > 0) m_table->selectRow(0);
    UpdateButtons();
}

std::vector<const JournalEntry*> CJournalDlg::Selected() const {
    std::vector<const JournalEntry*> out;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        if (const JournalEntry* e = m_model.EntryAt(index.row())) out.push_back(e);
    return out;
}

void CJournalDlg::UpdateButtons() {
    const auto selected = Selected();
    const bool one = selected.size() == 1;
    const bool withRecord = one && selected[0]->RecordKept();
    m_openButton->setEnabled(withRecord);
    m_saveButton->setEnabled(withRecord);
    m_printButton->setEnabled(withRecord);
    m_pdfButton->setEnabled(withRecord);
    m_compareButton->setEnabled(withRecord || (selected.size() == 2 && selected[0]->RecordKept() &&
                                               selected[1]->RecordKept()));
}

bool CJournalDlg::SelectedRecord(const JournalEntry*& entry, SettingsRecord& record) {
    const auto selected = Selected();
    if (selected.empty()) return false;
    // The list holds no records: fetch the entry whole, with its record, and check it.
    const auto full = m_journal.Find(selected[0]->uuid);
    QString why;
    if (!full) {
        why = m_journal.Problem().isEmpty() ? QStringLiteral("Строка журнала не найдена.")
                                            : m_journal.Problem();
    } else if (RecordFromEntry(*full, record, &why)) {
        entry = selected[0];
        return true;
    }
    Message m = Info(why, MessageIcon::Error);
    m.caption = kCaptionOshibka;
    ThePlatform().ShowMessage(this, m);
    return false;
}

void CJournalDlg::OnOpenEntry() {
    const JournalEntry* entry = nullptr;
    SettingsRecord record;
    if (!SelectedRecord(entry, record)) return;
    const JournalEntry chosen = *entry;
    accept();
    if (m_actions.open) m_actions.open(chosen, record);
}

void CJournalDlg::OnSaveEntry() {
    const JournalEntry* entry = nullptr;
    SettingsRecord record;
    if (!SelectedRecord(entry, record)) return;
    if (m_actions.saveAs) m_actions.saveAs(record);
}

void CJournalDlg::OnCardEntry(bool pdf) {
    const JournalEntry* entry = nullptr;
    SettingsRecord record;
    if (!SelectedRecord(entry, record)) return;
    if (m_actions.card) m_actions.card(*entry, record, pdf);
}

void CJournalDlg::OnCompareEntry() {
    const auto selected = Selected();
    if (selected.size() == 2) {
        // Older first, so the list reads as what changed from one to the other.
        SettingsRecord a, b;
        QString why;
        const auto older = m_journal.Find(QString::number(selected[1]->id));
        const auto newer = m_journal.Find(QString::number(selected[0]->id));
        const bool olderFirst = older && newer && older->time <= newer->time;
        const auto& first = olderFirst ? older : newer;
        const auto& second = olderFirst ? newer : older;
        if (!first || !second || !RecordFromEntry(*first, a, &why) ||
            !RecordFromEntry(*second, b, &why)) {
            Message m = Info(why.isEmpty() ? QStringLiteral("Строка журнала не найдена.") : why,
                             MessageIcon::Error);
            m.caption = kCaptionOshibka;
            ThePlatform().ShowMessage(this, m);
            return;
        }
        ShowDifferences(QStringLiteral("Строка журнала от %1 и строка журнала от %2")
                            .arg(JournalModel::CellText(*first, JournalModel::Time),
                                 JournalModel::CellText(*second, JournalModel::Time)),
                        a, b, HalfWrittenNotes({&*first, &*second}));
        return;
    }
    const JournalEntry* entry = nullptr;
    SettingsRecord record;
    if (!SelectedRecord(entry, record)) return;
    const QString when = JournalModel::CellText(*entry, JournalModel::Time);
    const int choice = ThePlatform().TrackPopupMenu(
        this,
        {MenuItem{kCompareMemory, QStringLiteral("С настройками в памяти")},
         MenuItem{kCompareFile, QStringLiteral("С файлом настроек…")}},
        m_compareButton->mapToGlobal(QPoint(0, m_compareButton->height())));
    if (choice == kCompareMemory) {
        const SettingsRecord* memory = m_actions.inMemory ? m_actions.inMemory() : nullptr;
        if (!memory) {
            ThePlatform().ShowMessage(this, Info(QStringLiteral("В памяти нет настроек.")));
            return;
        }
        ShowDifferences(QStringLiteral("Строка журнала от %1 и настройки в памяти").arg(when),
                        record, *memory, HalfWrittenNotes({entry}));
    } else if (choice == kCompareFile) {
        const auto file = ThePlatform().OpenFileDialog(this);
        if (!file) return;
        SettingsRecord other = record;
        const FileResult loaded = LoadSettingsFile(ToFileName(file->path), other);
        if (!loaded.ok()) {
            Message m = Info(QString::fromStdString(loaded.message), MessageIcon::None);
            ThePlatform().ShowMessage(this, m);
            return;
        }
        ShowDifferences(QStringLiteral("Строка журнала от %1 и файл %2").arg(when, file->name),
                        record, other, HalfWrittenNotes({entry}));
    }
}

QStringList CJournalDlg::HalfWrittenNotes(const std::vector<const JournalEntry*>& entries) {
    QStringList notes;
    for (const JournalEntry* e : entries)
        if (e && e->halfWritten)
            notes << QString::fromStdString(HalfWrittenText(e->blocksDone)) +
                         QStringLiteral(" (строка журнала от %1)")
                             .arg(JournalModel::CellText(*e, JournalModel::Time));
    return notes;
}

void CJournalDlg::ShowDifferences(const QString& what, const SettingsRecord& a,
                                  const SettingsRecord& b, const QStringList& notes) {
    const std::vector<std::string> lines = RecordDifferences(a, b);
    QString text = what + ":\n";
    for (const QString& note : notes)
        text += note + "\n";
    if (lines.empty()) {
        text += QStringLiteral("различий нет.");
    } else {
        // A whole loop table can differ; the box shows the first lines and counts the rest.
        constexpr std::size_t kShown = 40;
        text += QStringLiteral("различий: %1\n").arg(lines.size());
        for (std::size_t i = 0; i < lines.size() && i < kShown; ++i)
            text += "\n" + QString::fromStdString(lines[i]);
        if (lines.size() > kShown)
            text += QStringLiteral("\n… и ещё %1").arg(lines.size() - kShown);
    }
    ThePlatform().ShowMessage(this, Info(text));
}
