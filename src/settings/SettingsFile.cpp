#include "settings/SettingsFile.h"
FileResult SaveSettingsFile(const std::string&, const SettingsRecord&) { return {}; }
FileResult LoadSettingsFile(const std::string&, SettingsRecord&) { return {}; }
std::string FileNameOf(const std::string& path) { return path; }
