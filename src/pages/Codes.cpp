#include "pages/Codes.h"

#include "platform/DataExchange.h"
#include "platform/Platform.h"
#include "settings/ContactIdTable.h"
#include "ui_Codes.h"

#include <QMouseEvent>

namespace {

constexpr int kRows = 4;
constexpr int kColumns = 4;

Message Info(const char* caption, std::string text) {
    return Message{MessageOwner::Window, caption, std::move(text), MessageIcon::Information,
                   MessageButtons::Ok};
}

Message Error(std::string text) {
    return Message{MessageOwner::Window, kCaptionOshibka, std::move(text), MessageIcon::Error,
                   MessageButtons::Ok};
}

bool IsThreeDigits(const QString& text) {
    if (text.size() != kCodeDigits) return false;
    for (const QChar c : text)
        if (c < u'0' || c > u'9') return false;
    return true;
}

} // namespace

CCodes::CCodes(QWidget* parent) : CPropertyPage(QStringLiteral("Коды событий"), parent) {}

CCodes::~CCodes() = default;

QSize CCodes::TemplateSize() const {
    return FormSize<Ui::CCodes>();
}

QLineEdit* CCodes::CodeEdit(int type) const {
    return type >= 1 && type <= kTypeCount ? m_edits[type - 1] : nullptr;
}

QLabel* CCodes::TypeLabel(int type) const {
    return type >= 1 && type <= kTypeCount ? m_labels[type - 1] : nullptr;
}

void CCodes::CreateControls() {
    m_ui = std::make_unique<Ui::CCodes>();
    m_ui->setupUi(this);
    QLabel* const labels[kTypeCount] = {m_ui->type1,  m_ui->type2,  m_ui->type3,  m_ui->type4,
                                        m_ui->type5,  m_ui->type6,  m_ui->type7,  m_ui->type8,
                                        m_ui->type9,  m_ui->type10, m_ui->type11, m_ui->type12,
                                        m_ui->type13, m_ui->type14, m_ui->type15, m_ui->type16};
    QLineEdit* const edits[kTypeCount] = {m_ui->code1,  m_ui->code2,  m_ui->code3,  m_ui->code4,
                                          m_ui->code5,  m_ui->code6,  m_ui->code7,  m_ui->code8,
                                          m_ui->code9,  m_ui->code10, m_ui->code11, m_ui->code12,
                                          m_ui->code13, m_ui->code14, m_ui->code15, m_ui->code16};
    for (int i = 0; i < kTypeCount; ++i) {
        m_labels[i] = labels[i];
        m_edits[i] = edits[i];
        // The labels take no mouse input, so a double-click on one reaches the page.
        m_labels[i]->setAttribute(Qt::WA_TransparentForMouseEvents);
        // A code from a foreign file with digits above 9 is shown whole.
        MakeDigitsOnly(m_edits[i], kCodeDigits);
    }
    m_ui->hint->setAttribute(Qt::WA_TransparentForMouseEvents);
    // The frame sits between the labels and the page; its double-clicks are the page's.
    m_ui->frame->installEventFilter(this);
    connect(m_ui->restoreButton, &QPushButton::clicked, this, [this] { RestoreDefaultCodes(); });
}

bool CCodes::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    ShowCodes();
    return true;
}

bool CCodes::DoDataExchange(bool save) {
    if (!m_ui) return true;
    for (int i = 0; i < kTypeCount; ++i)
        exchange::Text(save, m_edits[i], m_codes[i], kCodeDigits);
    return true;
}

void CCodes::ShowCodes() {
    if (!m_ui || !m_record) return;
    for (int i = 0; i < kTypeCount; ++i) {
        const std::int8_t* digits = m_record->eventCodes[i];
        m_codes[i] = QStringLiteral("%1%2%3").arg(digits[0]).arg(digits[1]).arg(digits[2]);
        bool foreign = false;
        for (int d = 0; d < kCodeDigits; ++d)
            foreign = foreign || digits[d] < 0 || digits[d] > 9;
        m_foreign[i] = foreign ? m_codes[i] : QString();
    }
    UpdateData(false);
}

bool CCodes::OnKillActive() {
    if (!m_ui || !m_record) return true; // never shown: nothing typed
    for (int t = 1; t <= kTypeCount; ++t) {
        const QString whole = m_edits[t - 1]->text();
        std::int8_t* digits = m_record->eventCodes[t - 1];
        if (!m_foreign[t - 1].isEmpty() && whole == m_foreign[t - 1])
            continue; // untouched foreign code: the stored digits stay as they came
        const QString text = whole.left(kCodeDigits);
        if (LeadingValue(text) == 0 && (text.isEmpty() || text.front().isDigit())) {
            digits[0] = digits[1] = digits[2] = 0;
            continue;
        }
        if (!IsThreeDigits(text)) {
            ThePlatform().ShowMessage(
                this, Error(QStringLiteral("Код события у %1 типа шлейфа должен содержать 3 цифры!")
                                .arg(t)
                                .toStdString()));
            return false;
        }
        for (int d = 0; d < kCodeDigits; ++d)
            digits[d] = static_cast<std::int8_t>(text[d].unicode() - u'0');
    }
    return CPropertyPage::OnKillActive();
}

void CCodes::RestoreDefaultCodes() {
    // The button belongs to the built page; a page never shown has nothing to restore.
    if (!m_ui) return;
    const Message question{MessageOwner::Window, "Запрос подтверждения",
                           "Вы уверены, что хотите восстановить \n коды событий для всех типов "
                           "шлейфов \n по умолчанию?",
                           MessageIcon::Question, MessageButtons::YesNo};
    if (!m_record || ThePlatform().ShowMessage(this, question) == MessageAnswer::No) return;
    for (int t = 1; t <= kTypeCount; ++t) {
        const int code = DefaultEventCode(t);
        m_record->eventCodes[t - 1][0] = static_cast<std::int8_t>(code / 100);
        m_record->eventCodes[t - 1][1] = static_cast<std::int8_t>(code / 10 % 10);
        m_record->eventCodes[t - 1][2] = static_cast<std::int8_t>(code % 10);
    }
    ShowCodes();
}

int CCodes::TypeAt(const QPoint& point) const {
    if (!m_ui) return 0;
    int column = -1;
    for (int c = 0; c < kColumns; ++c)
        if (m_labels[kRows * c]->mapTo(this, QPoint(0, 0)).x() <= point.x()) column = c;
    int row = -1;
    for (int r = 0; r < kRows; ++r)
        if (m_labels[r]->mapTo(this, QPoint(0, 0)).y() <= point.y()) row = r;
    if (column < 0 || row < 0) return 0;
    return kRows * column + row + 1;
}

void CCodes::DecodeEventCode(const QPoint& point) {
    const int t = TypeAt(point);
    if (t == 0) return;
    const QString whole = m_edits[t - 1]->text();
    const QString text = whole.left(kCodeDigits);
    const int v = LeadingValue(text);
    Platform& platform = ThePlatform();
    if (v == 0 && (text.isEmpty() || text.front().isDigit())) {
        platform.ShowMessage(this, Info("Расшифровка кода события",
                                        "Данный код события (000) выключает доставку извещения"));
        return;
    }
    // A foreign code shown with more than three characters is not read as its first three.
    if (!IsThreeDigits(text) || whole.size() > kCodeDigits) {
        platform.ShowMessage(this, Error("Код события должен содержать 3 цифры!"));
        return;
    }
    const auto english = FindEventText(EventLanguage::English, v);
    if (!english) {
        platform.ShowMessage(
            this,
            Info("Предупреждение",
                 "Данный код события не зарегистрирован в таблице кодов формата Contact ID."));
        return;
    }
    const auto russian = FindEventText(EventLanguage::Russian, v).value_or(std::string_view{});
    std::string message = "Код события " + text.toStdString() + " представляет извещение:\n\n\"";
    message.append(*english);
    message.append(" / ");
    message.append(russian);
    message.push_back('"');
    platform.ShowMessage(this, Info("Расшифровка кода события", std::move(message)));
}

void CCodes::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        DecodeEventCode(event->position().toPoint());
        event->accept();
        return;
    }
    CPropertyPage::mouseDoubleClickEvent(event);
}

bool CCodes::eventFilter(QObject* watched, QEvent* event) {
    if (m_ui && watched == m_ui->frame && event->type() == QEvent::MouseButtonDblClick) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            DecodeEventCode(m_ui->frame->mapTo(this, mouse->position().toPoint()));
            return true;
        }
    }
    return CPropertyPage::eventFilter(watched, event);
}
