#include "settings/ContactIdTable.h"

#include <algorithm>
#include <iterator>

namespace {

// Code order; both texts of every code are present (a single blank counts as present).
constexpr EventEntry kTable[] = {
    {0, " ", "Извещение не доставлять"},
    {110, "Fire Alarm", "Пожарная тревога"},
    {111, "Smoke", "Дым"},
    {112, "Combustion", "Возгорание"},
    {113, "Waterflow", "Поток воды"},
    {114, "Heat", "Высокая температура"},
    {115, "Pull station", "Кнопка вызова пожарных"},
    {116, "Duct", "Трубопровод"},
    {117, "Flame", "Огонь"},
    {118, "Near alarm", "Внимание"},
    {120, "Panic alarm", "Кнопка тревожной сигнализации"},
    {121, "Duress", "Принуждение"},
    {122, "Silent panic", "Тревога без оповещения"},
    {123, "Audible panic", "Тревога с оповещением"},
    {130, "Burglary", "Охранная тревога"},
    {131, "Perimeter burglary", "Тревога по периметру"},
    {132, "Interior burglary", "Тревога внутри охраняемого объекта"},
    {133, "24-hour burglary", "Тревога круглосуточного шлейфа"},
    {134, "Entry/Exit burglary", "Охранная тревога на входе/выходе"},
    {135, "Day/Night burglary", "Неисправность днём/ тревога ночью"},
    {136, "Outdoor", "Тревога вне охраняемого объекта"},
    {137, "Tamper", "Вскрытие"},
    {138, "Near alarm", "Внимание"},
    {140, "General alarm", "Общая тревога"},
    {141, "Polling loop open", "Обрыв сигнальной линии"},
    {142, "Polling loop short", "Замыкание сигнальной линии"},
    {143, "Expansion module failure", "Отказ модуля расширения"},
    {144, "Sensor tamper", "Датчик вскрытия"},
    {145, "Expansion module tamper", "Датчик вскрытия модуля расширения"},
    {150, "24-hour auxiliary", "Круглосуточная не охранная тревога"},
    {151, "Gas detected", "Обнаружен газ"},
    {152, "Refrigeration", "Переохлаждение"},
    {153, "Loss of heat", "Утечка тепла"},
    {154, "Water leakage", "Утечка воды"},
    {155, "Foil break", "Разрыв фольги"},
    {156, "Day trouble", "Дневная неисправность"},
    {157, "Low bottled gas level", "Низкий уровень в газовом баллоне"},
    {158, "High temperature", "Высокая температура"},
    {159, "Low temperature", "Низкая температура"},
    {161, "Loss of airflow", "Пропадение воздушного потока"},
    {200, "Fire supervisory", "Контроль над пожарным оборудованием"},
    {201, "Low H2O pressure", "Снижение давления воды"},
    {202, "Low CO2", "Снижение уровня CO2"},
    {203, "Gate valve sensor", "Блокировка датчика впускного клапана"},
    {204, "Low water level", "Снижение уровня воды"},
    {205, "Pump activated", "Запуск насоса"},
    {206, "Pump failure", "Неисправность насоса"},
    {300, "System trouble", "Системная неисправность"},
    {301, "AC loss", "Отключение электросети"},
    {302, "Low system battery", "Разряжен аккумулятор"},
    {303, "RAM checksum bad", "Ошибка контрольной суммы в ОЗУ"},
    {304, "ROM checksum bad", "Ошибка контрольной суммы в ПЗУ"},
    {305, "System reset", "Перезапуск системы"},
    {306, "Panel program changed", "Взлом программы"},
    {307, "Self-test failure", "Ошибка автоматического теста"},
    {308, "System shutdown", "Отключение системы"},
    {309, "Battery test failure", "Ошибка теста аккумулятора"},
    {310, "Ground fault", "Неисправность заземления панели"},
    {320, "Sounder/relay trouble", "Неисправность сирены/реле"},
    {321, "Trouble bell 1", "Обрыв телефонной линии 1"},
    {322, "Trouble bell 2", "Обрыв телефонной линии 2"},
    {323, "Trouble alarm relay", "Неисправность тревожного реле"},
    {324, "Trouble relay", "Неисправность аварийного реле"},
    {325, "Reversing relay", "Неисправность реверсивного реле"},
    {330, "System peripheral", "Неисправность системной периферии"},
    {331, "Polling loop open", "Обрыв сигнальной линии"},
    {332, "Polling loop short", "Замыкание сигнальной линии"},
    {333, "Expansion module failure", "Неисправность модуля расширения"},
    {334, "Repeater failure", "Неисправность ретранслятора"},
    {335, "Local printer: paperout", "Закончилась бумага в локальном принтере"},
    {336, "Local printer: failure", "Неисправность локального принтера"},
    {350, "Communication trouble", "Нарушение связи"},
    {351, "Telco fault 1", "Неисправность телефонной линии N 1"},
    {352, "Telco fault 2", "Неисправность телефонной линии N 2"},
    {353, "Long range radio transmitter fault", "Неисправность радиопередатчика"},
    {354, "Communication failure", "Неисправность связи"},
    {355, "Loss of radio supervising", "Пропадение контрольных радиосигналов"},
    {356, "Loss of central polling", "Пропадение сигнала централизованного опроса"},
    {370, "Protection loop", "Неисправность защитного контура"},
    {371, "Protection loop open", "Обрыв защитного контура"},
    {372, "Protection loop short", "Замыкание защитного контура"},
    {373, "Fire loop trouble", "Пожарная неисправность"},
    {380, "Sensor trouble", "Неисправность датчика"},
    {381, "Loss of supervising: RF", "Потеря радиодатчика"},
    {382, "Loss of supervising: RPM", "Потеря удалённого модуля"},
    {383, "RPM sensor tamper", "Вскрытие удалённого модуля"},
    {384, "RF transmitter low battery", "Разряд батареи в радиодатчике"},
    {400, "Open/Close", "Снятие/Взятие"},
    {401, "Open/Close by user", "Снятие/Взятие пользователем"},
    {402, "Group open/close", "Снятие/Взятие сектора"},
    {403, "Automatic open/close", "Снятие/Взятие автоматическое"},
    {404, "Late to open/close", "Задержка на взятие/снятие"},
    {405, "Deferred open/close", "Задержанное взятие/снятие"},
    {406, "Cancel by user", "Отмена пользователем взятия/снятия"},
    {407, "Remote arm/disarm", "Удалённое взятие/снятие"},
    {408, "Quick arm", "Быстрое взятие"},
    {409, "Keyswitch open/close", "Снятие/Взятие ключом"},
    {411, "Callback request", "Запрос ответа"},
    {412, "Download good", "Удачная удалённая загрузка"},
    {413, "Download no good", "Неудачная попытка удалённой загрузки"},
    {414, "System shutdown", "Система отключена"},
    {415, "Dialer shutdown", "Коммуникатор отключен"},
    {421, "Access denied", "Отказ в доступе к системе"},
    {422, "User access gained", "Получен доступ пользователем"},
    {520, "Sounder/Relay disable", "Отключение сирены/реле"},
    {521, "Bell 1 disable", "Отключение звонка 1"},
    {522, "Bell 2 disable", "Отключение звонка 2"},
    {523, "Alarm relay disable", "Отключение тревожного реле"},
    {524, "Trouble relay disable", "Отключение реле неисправности"},
    {525, "Reversing relay disable", "Отключение реверсивного реле"},
    {551, "Dialer disabled", "Отключение коммуникатора"},
    {552, "Radio transmitter disabled", "Отключение радиопередатчика"},
    {570, "Zone bypassed", "Игнорирование зоны"},
    {571, "Fire bypassed", "Игнорирование пожара"},
    {572, "24-hour zone bypassed", "Игнорирование круглосуточной зоны"},
    {573, "Burglary bypassed", "Игнорирование охранной зоны"},
    {574, "Group bypassed", "Игнорирование сектора"},
    {601, "Manual trigger test", "Ручной запуск теста"},
    {602, "Periodic test report", "Периодический тест"},
    {603, "Periodic RF transmit", "Периодический тест радиопередатчика"},
    {604, "Fire test", "Тест пожара"},
    {605, "Status to follow", " "},
    {607, "Walk test mode", "Режим обходной проверки"},
};

constexpr std::size_t kEntries = std::size(kTable);
static_assert(kEntries == 123);

constexpr bool InCodeOrder() {
    for (std::size_t i = 1; i < kEntries; ++i)
        if (kTable[i - 1].code >= kTable[i].code) return false;
    return kTable[0].code >= 0 && kTable[kEntries - 1].code <= 999;
}
static_assert(InCodeOrder(), "the lookup below relies on ascending, unique codes");

const EventEntry* FindEntry(int code) {
    const auto it = std::lower_bound(std::begin(kTable), std::end(kTable), code,
                                     [](const EventEntry& e, int c) { return e.code < c; });
    if (it == std::end(kTable) || it->code != code) return nullptr;
    return &*it;
}

const std::int8_t* TypeDigits(const SettingsRecord& record, int type) {
    if (type < 1 || type > kTypeCount) return nullptr;
    return record.eventCodes[type - 1];
}

} // namespace

std::optional<std::string_view> FindEventText(EventLanguage language, int code) {
    if (code < 0 || code > 999) return std::nullopt;
    const EventEntry* e = FindEntry(code);
    if (!e) return std::nullopt;
    const std::string_view text = language == EventLanguage::English ? e->english : e->russian;
    if (text.empty()) return std::nullopt;
    return text;
}

int TypeEventCode(const SettingsRecord& record, int type) {
    const std::int8_t* d = TypeDigits(record, type);
    if (!d) return -1;
    for (int i = 0; i < kCodeDigits; ++i)
        if (d[i] < 0 || d[i] > 9) return -1;
    return 100 * d[0] + 10 * d[1] + d[2];
}

std::string TypeCodeDigits(const SettingsRecord& record, int type) {
    const std::int8_t* d = TypeDigits(record, type);
    if (!d) return {};
    std::string out;
    for (int i = 0; i < kCodeDigits; ++i) {
        if (d[i] >= 0 && d[i] <= 9)
            out += static_cast<char>('0' + d[i]);
        else {
            // Appended piece by piece: GCC 12 at -O3 takes a temporary "[" + ... for an
            // overlapping copy and fails the Release build.
            out += '[';
            out += std::to_string(d[i]);
            out += ']';
        }
    }
    return out;
}

std::string TypeDescription(const SettingsRecord& record, int type) {
    if (type < 1 || type > kTypeCount) return "Тип " + std::to_string(type) + " (недопустимый)";
    if (const auto text = FindEventText(EventLanguage::Russian, TypeEventCode(record, type)))
        return std::string(*text);
    return "Код события : " + TypeCodeDigits(record, type);
}

std::string TypeDescription(int type) {
    return TypeDescription(TheSettings(), type);
}

std::size_t EventTableSize() {
    return kEntries;
}

const EventEntry& EventTableEntry(std::size_t index) {
    return kTable[std::min(index, kEntries - 1)];
}
