#pragma once

#include <string>

#include "Controls.h"
#include "IniFile.h"

namespace tamsel {

/// Name of the settings file and its one section.
inline constexpr const char* SETTINGS_FILE_NAME = "RuziRudoDudiro.ini";
inline constexpr const char* SETTINGS_SECTION = "setup";

/// Where the settings file lives: beside the executable when that folder is writable, else
/// in $XDG_CONFIG_HOME/tamsel/ (~/.config/tamsel/ without it), which is created.
std::string SettingsFilePath(const std::string& exeDir);

/// Reads every key into its control with its default, clamped to its range.
void IniLoad(const IniFile& ini, Controls& controls);

/// Writes the saved keys from their controls and "SubCurr", then the file. Throws FileError.
void IniSave(IniFile& ini, const Controls& controls, int subCurr);

}  // namespace tamsel
