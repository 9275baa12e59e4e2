#include "app/CompareDlg.h"

#include "fields/RecordFields.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

QString HtmlCell(const QString& text, bool bold, const char* tag = "td") {
    const QString escaped = text.toHtmlEscaped();
    return QStringLiteral("<%1>%2</%1>")
        .arg(QLatin1String(tag), bold ? "<b>" + escaped + "</b>" : escaped);
}

} // namespace

CCompareDlg::CCompareDlg(const CompareSide& left, const CompareSide& right,
                         const QStringList& notes, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Сравнение настроек"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    auto* layout = new QVBoxLayout(this);

    const std::vector<Difference> rows = SideBySide(left.record, right.record);
    QStringList summary = notes;
    summary << (rows.empty() ? QStringLiteral("Различий нет.")
                             : QStringLiteral("Различий: %1").arg(rows.size()));
    m_summary = new QLabel(summary.join('\n'), this);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_summary);

    m_table = new QTableWidget(static_cast<int>(rows.size()), ColumnCount, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Настройка"), left.name, right.name});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const Difference& d = rows[static_cast<std::size_t>(row)];
        const std::pair<int, const Shown*> cells[] = {{Left, &d.a}, {Right, &d.b}};
        m_table->setItem(row, Setting, new QTableWidgetItem(QString::fromStdString(d.label)));
        for (const auto& [column, shown] : cells) {
            auto* item = new QTableWidgetItem(QString::fromStdString(shown->text));
            // Out-of-range values stand out, as on the card.
            if (!shown->valid) {
                QFont font = item->font();
                font.setBold(true);
                item->setFont(font);
            }
            item->setToolTip(item->text());
            m_table->setItem(row, column, item);
        }
    }
    m_table->setColumnWidth(Setting, 260);
    m_table->setColumnWidth(Left, 330);
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table, 1);

    auto* buttons = new QHBoxLayout;
    m_copyButton = new QPushButton(QStringLiteral("Копировать"), this);
    m_copyButton->setToolTip(QStringLiteral("Все строки в буфер обмена"));
    m_printButton = new QPushButton(QStringLiteral("Печать…"), this);
    auto* closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    for (QPushButton* b : {m_copyButton, m_printButton}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);
    connect(m_copyButton, &QPushButton::clicked, this, &CCompareDlg::OnCopy);
    connect(m_printButton, &QPushButton::clicked, this, &CCompareDlg::OnPrint);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
    resize(1000, 600);
}

QString CCompareDlg::Text() const {
    QString text = m_summary->text() + '\n';
    for (int row = -1; row < m_table->rowCount(); ++row) {
        QStringList cells;
        for (int c = 0; c < ColumnCount; ++c)
            cells << (row < 0 ? m_table->horizontalHeaderItem(c)->text()
                              : m_table->item(row, c)->text());
        text += cells.join('\t') + '\n';
    }
    return text;
}

std::unique_ptr<QTextDocument> CCompareDlg::Document() const {
    QString html = QStringLiteral("<html><body><p><b>%1</b></p><p>%2</p>")
                       .arg(windowTitle().toHtmlEscaped(),
                            m_summary->text().toHtmlEscaped().replace('\n', "<br>"));
    html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" "
                           "width=\"100%\"><thead><tr>");
    for (int c = 0; c < ColumnCount; ++c)
        html += HtmlCell(m_table->horizontalHeaderItem(c)->text(), true, "th");
    html += QStringLiteral("</tr></thead>");
    for (int row = 0; row < m_table->rowCount(); ++row) {
        html += QStringLiteral("<tr>");
        for (int c = 0; c < ColumnCount; ++c) {
            const QTableWidgetItem* item = m_table->item(row, c);
            html += HtmlCell(item->text(), item->font().bold());
        }
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table></body></html>");
    auto doc = std::make_unique<QTextDocument>();
    doc->setMetaInformation(QTextDocument::DocumentTitle, windowTitle());
    doc->setHtml(html);
    return doc;
}

void CCompareDlg::OnCopy() {
    QApplication::clipboard()->setText(Text());
}

void CCompareDlg::OnPrint() {
    const auto doc = Document();
    ThePlatform().PrintPreview(this, *doc);
}

void ShowComparison(QWidget* owner, const CompareSide& left, const CompareSide& right,
                    const QStringList& notes, const std::function<void(CCompareDlg&)>& shown) {
    CCompareDlg dlg(left, right, notes, owner);
    if (shown)
        QMetaObject::invokeMethod(
            &dlg, [shown, &dlg] { shown(dlg); }, Qt::QueuedConnection);
    dlg.exec();
}
