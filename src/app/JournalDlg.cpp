#include "app/JournalDlg.h"

#include "app/ServerDlg.h"
#include "journal/ServerJournal.h"

#include "app/CompareDlg.h"
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
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

// ---- the table ----

void JournalModel::SetEntries(std::vector<JournalEntry> entries) {
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
}

void JournalModel::Reset() {
    beginResetModel();
    endResetModel();
}

const JournalEntry* JournalModel::EntryAt(int row) const {
    if (row < 0 || row >= static_cast<int>(m_entries.size())) return nullptr;
    return &m_entries[static_cast<std::size_t>(row)];
}

int JournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
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
        if (IsUnsaved(e.action)) return e.resultText;
        return QStringLiteral("%1 %2").arg(e.result).arg(e.resultText);
    // A record never saved went nowhere: the port and addresses then in the window say nothing.
    case Port:
        return IsUnsaved(e.action) ? QString() : e.port;
    case Addresses:
        if (IsUnsaved(e.action)) return {};
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

// ---- the filter ----

JournalFilter::JournalFilter(JournalModel& entries) : m_entries(entries) {
    setSourceModel(&entries);
}

void JournalFilter::SetFilter(const QString& account, const QString& text) {
    m_account = account;
    m_text = text.trimmed();
    // Filtered again through a reset of the entries: the table starts over at once instead of
    // being told of each of thousands of rows going out of view or coming back.
    m_entries.Reset();
}

const JournalEntry* JournalFilter::EntryAt(int row) const {
    return m_entries.EntryAt(mapToSource(index(row, 0)).row());
}

bool JournalFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    const JournalEntry* e = m_entries.EntryAt(sourceRow);
    if (!e || (!m_account.isEmpty() && e->account != m_account)) return false;
    if (m_text.isEmpty() || e->title.contains(m_text, Qt::CaseInsensitive)) return true;
    for (int c = 0; c < JournalModel::ColumnCount; ++c)
        if (JournalModel::CellText(*e, c).contains(m_text, Qt::CaseInsensitive)) return true;
    return false;
}

// ---- the objects ----

namespace {

QString EntryTime(const std::optional<JournalEntry>& e) {
    return e ? JournalModel::CellText(*e, JournalModel::Time) : QString();
}

} // namespace

void JournalObjectsModel::SetObjects(const std::vector<JournalObject>& objects,
                                     const QString& account) {
    beginResetModel();
    m_objects.clear();
    for (const JournalObject& o : objects)
        if (account.isEmpty() || o.account == account) m_objects.push_back(o);
    endResetModel();
}

const JournalObject* JournalObjectsModel::ObjectAt(int row) const {
    if (row < 0 || row >= static_cast<int>(m_objects.size())) return nullptr;
    return &m_objects[static_cast<std::size_t>(row)];
}

const JournalEntry* JournalObjectsModel::EntryAt(const QModelIndex& index) const {
    const JournalObject* o = ObjectAt(index.row());
    if (!o) return nullptr;
    const JournalEntry* write = o->write ? &*o->write : nullptr;
    const JournalEntry* read = o->read ? &*o->read : nullptr;
    switch (index.column()) {
    case WriteTime:
    case WriteBy:
        return write;
    case ReadTime:
    case ReadBy:
        return read;
    default:
        if (!write || !read) return write ? write : read;
        return write->time > read->time ? write : read;
    }
}

int JournalObjectsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_objects.size());
}

int JournalObjectsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant JournalObjectsModel::data(const QModelIndex& index, int role) const {
    const JournalObject* o = ObjectAt(index.row());
    if (!o || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    switch (index.column()) {
    case Account:
        return o->account;
    case WriteTime:
        return EntryTime(o->write);
    case WriteBy:
        return o->write ? o->write->installer : QString();
    case ReadTime:
        return EntryTime(o->read);
    case ReadBy:
        return o->read ? o->read->installer : QString();
    case Agree:
        return AgreementText(o->Agree());
    default:
        return {};
    }
}

QVariant JournalObjectsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kHeaders[ColumnCount] = {"Номер объекта", "Последняя загрузка",
                                                      "Загрузил",      "Последнее чтение",
                                                      "Считал",        "Совпадают"};
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
    : QDialog(parent), m_journal(journal), m_actions(std::move(actions)), m_filter(m_model) {
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

    const auto makeTable = [this](QAbstractItemModel* model) {
        auto* table = new QTableView(this);
        table->setModel(model);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setWordWrap(false);
        table->verticalHeader()->hide();
        // Uniform rows: a long journal lists at once.
        table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
        table->horizontalHeader()->setStretchLastSection(true);
        return table;
    };
    m_table = makeTable(&m_filter);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    static const int kWidths[JournalModel::ColumnCount] = {140, 400, 190, 80, 170, 110, 120, 100};
    for (int c = 0; c < JournalModel::ColumnCount; ++c)
        m_table->setColumnWidth(c, kWidths[c]);
    // A cell of "Объекты" chooses the write or the read it shows.
    m_objectsTable = makeTable(&m_objects);
    m_objectsTable->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_objectsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    static const int kObjectWidths[JournalObjectsModel::ColumnCount] = {110, 170, 140,
                                                                        170, 140, 90};
    for (int c = 0; c < JournalObjectsModel::ColumnCount; ++c)
        m_objectsTable->setColumnWidth(c, kObjectWidths[c]);
    m_tabs = new QTabWidget(this);
    m_tabs->addTab(m_table, QStringLiteral("Строки журнала"));
    m_tabs->addTab(m_objectsTable, QStringLiteral("Объекты"));
    m_tabs->setTabToolTip(1, QStringLiteral("Последняя загрузка и последнее чтение каждого "
                                            "объекта и совпадают ли их настройки"));
    layout->addWidget(m_tabs, 1);

    auto* buttons = new QHBoxLayout;
    m_openButton = new QPushButton(QStringLiteral("Открыть"), this);
    m_saveButton = new QPushButton(QStringLiteral("Сохранить как…"), this);
    m_compareButton = new QPushButton(QStringLiteral("Сравнить…"), this);
    m_compareButton->setToolTip(QStringLiteral("С настройками в памяти или с файлом; две "
                                               "выделенные строки (Ctrl+щелчок) — друг с другом"));
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
    connect(m_account, &QLineEdit::textChanged, this, [this] {
        if (m_journal.Server()) return Reload();
        UpdateObjects();
        ApplyFilter();
    });
    connect(m_text, &QLineEdit::textChanged, this, &CJournalDlg::ApplyFilter);
    for (QTableView* table : {m_table, m_objectsTable}) {
        connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &CJournalDlg::UpdateButtons);
        connect(table, &QTableView::doubleClicked, this, &CJournalDlg::OnOpenEntry);
    }
    connect(m_tabs, &QTabWidget::currentChanged, this, &CJournalDlg::UpdateButtons);

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
    // Worked out once per listing: typing an account number only picks from them.
    m_allObjects = JournalObjects(m_model.Entries());
    UpdateObjects();
    const auto address = server ? ParseServerAddress(JournalServerAddress()) : std::nullopt;
    m_where->setText(
        address && server->Unreachable()
            ? QStringLiteral("Сервер журнала команды %1 сейчас недоступен: показаны "
                             "строки журнала этого компьютера; они будут отправлены, когда "
                             "сервер станет доступен.")
                  .arg(address->Shown())
        : address ? QStringLiteral("Журнал команды на сервере %1; строки журнала "
                                   "хранятся и на этом компьютере.")
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
    CServerDlg dialog(JournalServerAddress(), this);
    if (dialog.exec() == QDialog::Accepted) ApplyServerAddress(dialog.Address());
}

void CJournalDlg::ApplyFilter() {
    m_filter.SetFilter(m_account->text(), m_text->text());
    QString count =
        m_filter.rowCount() == m_filter.Total()
            ? QStringLiteral("Строк: %1").arg(m_filter.Total())
            : QStringLiteral("Строк: %1 из %2").arg(m_filter.rowCount()).arg(m_filter.Total());
    if (m_journal.Server() && m_filter.Total() >= kServerListed)
        count += QStringLiteral(" (последние на сервере)");
    m_count->setText(count);
    if (m_filter.rowCount() > 0) m_table->selectRow(0);
    UpdateButtons();
}

void CJournalDlg::UpdateObjects() {
    m_objects.SetObjects(m_allObjects, m_account->text());
}

bool CJournalDlg::ObjectsShown() const {
    return m_tabs->currentWidget() == m_objectsTable;
}

std::vector<const JournalEntry*> CJournalDlg::Selected() const {
    std::vector<const JournalEntry*> out;
    if (ObjectsShown()) {
        for (const QModelIndex& index : m_objectsTable->selectionModel()->selectedIndexes())
            if (const JournalEntry* e = m_objects.EntryAt(index)) out.push_back(e);
        return out;
    }
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        if (const JournalEntry* e = m_filter.EntryAt(index.row())) out.push_back(e);
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

std::optional<JournalEntry> CJournalDlg::WithRecord(const JournalEntry& listed,
                                                    SettingsRecord& record) {
    // The list holds no records: the entry is fetched whole, by the name that means the same
    // whether the team's server answers or not, and its record checked.
    const JournalLookup found = m_journal.Lookup(listed.uuid);
    QString why = found.why;
    if (found.status == JournalFound::Found && RecordFromEntry(*found.entry, record, &why))
        return found.entry;
    if (why.isEmpty()) why = QStringLiteral("Строка журнала не найдена.");
    Message m = Info(why, MessageIcon::Error);
    m.caption = kCaptionOshibka;
    ThePlatform().ShowMessage(this, m);
    return std::nullopt;
}

bool CJournalDlg::SelectedRecord(const JournalEntry*& entry, SettingsRecord& record) {
    const auto selected = Selected();
    if (selected.empty() || !WithRecord(*selected[0], record)) return false;
    entry = selected[0];
    return true;
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

namespace {

QString EntryName(const JournalEntry& e) {
    return QStringLiteral("Строка журнала от %1")
        .arg(JournalModel::CellText(e, JournalModel::Time));
}

} // namespace

void CJournalDlg::CompareEntries(const JournalEntry& x, const JournalEntry& y) {
    const bool xFirst = x.time <= y.time;
    const JournalEntry& first = xFirst ? x : y;
    const JournalEntry& second = xFirst ? y : x;
    CompareSide a{EntryName(first)}, b{EntryName(second)};
    if (!WithRecord(first, a.record) || !WithRecord(second, b.record)) return;
    ShowDifferences(a, b, HalfWrittenNotes({&first, &second}));
}

void CJournalDlg::OnCompareEntry() {
    const auto selected = Selected();
    if (selected.size() == 2) {
        CompareEntries(*selected[0], *selected[1]);
        return;
    }
    const JournalEntry* entry = nullptr;
    CompareSide side;
    if (!SelectedRecord(entry, side.record)) return;
    side.name = EntryName(*entry);
    std::vector<MenuItem> items = {
        MenuItem{kCompareMemory, QStringLiteral("С настройками в памяти")},
        MenuItem{kCompareFile, QStringLiteral("С файлом настроек…")}};
    const JournalObject* object =
        ObjectsShown() ? m_objects.ObjectAt(m_objectsTable->currentIndex().row()) : nullptr;
    if (object && object->write && object->read)
        items.push_back(
            MenuItem{kCompareWriteRead, QStringLiteral("Последнюю загрузку с последним чтением")});
    const int choice = ThePlatform().TrackPopupMenu(
        this, items, m_compareButton->mapToGlobal(QPoint(0, m_compareButton->height())));
    if (choice == kCompareMemory) {
        const SettingsRecord* memory = m_actions.inMemory ? m_actions.inMemory() : nullptr;
        if (!memory) {
            ThePlatform().ShowMessage(this, Info(QStringLiteral("В памяти нет настроек.")));
            return;
        }
        ShowDifferences(side, CompareSide{QStringLiteral("Настройки в памяти"), *memory},
                        HalfWrittenNotes({entry}));
    } else if (choice == kCompareFile) {
        const auto file = ThePlatform().OpenFileDialog(this);
        if (!file) return;
        CompareSide other{QStringLiteral("Файл %1").arg(file->name), side.record};
        const FileResult loaded = LoadSettingsFile(ToFileName(file->path), other.record);
        if (!loaded.ok()) {
            Message m = Info(QString::fromStdString(loaded.message), MessageIcon::None);
            ThePlatform().ShowMessage(this, m);
            return;
        }
        ShowDifferences(side, other, HalfWrittenNotes({entry}));
    } else if (choice == kCompareWriteRead && object) {
        CompareEntries(*object->write, *object->read);
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

void CJournalDlg::ShowDifferences(const CompareSide& a, const CompareSide& b,
                                  const QStringList& notes) {
    ShowComparison(this, a, b, notes, m_actions.comparisonShown);
}
