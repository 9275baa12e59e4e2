// How the record's fields become the General and Phones pages' members and back. The
// pages edit copies: what goes back into the record happens only when the sheet ends
// with OK, and it also brings every value back into its valid range.
#pragma once

#include "settings/SettingsRecord.h"

#include <QString>

class Devices;
class PhoneNums;

void CopyIntoGeneral(const SettingsRecord& record, Devices& page);
void CopyBackGeneral(const Devices& page, SettingsRecord& record);
void CopyIntoPhones(const SettingsRecord& record, PhoneNums& page);
void CopyBackPhones(const PhoneNums& page, SettingsRecord& record);

// The dial pause typed as text: its first two characters, read as a decimal number
// (5 when they hold none), kept within 1..59.
int PauseFromText(const QString& text);
