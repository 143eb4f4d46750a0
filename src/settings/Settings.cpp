#include "Settings.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "FileIo.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tamsel {

namespace {

bool FolderWritable(const std::string& dir) {
  if (dir.empty()) return false;
#ifdef _WIN32
  return _waccess(ToPath(dir).c_str(), 2) == 0;
#else
  return ::access(dir.c_str(), W_OK) == 0;
#endif
}

/// An integer key with its default, clamped to 0 .. `clamp`.
int ReadClamped(const IniFile& ini, const char* key, int def, int clamp) {
  int v = ini.ReadInteger(SETTINGS_SECTION, key, def);
  return std::max(0, std::min(v, clamp));
}

}  // namespace

std::string SettingsFilePath(const std::string& exeDir) {
  if (FolderWritable(exeDir)) return FromPath(ToPath(exeDir) / SETTINGS_FILE_NAME);
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = ToPath(xdg);
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = ToPath(home) / ".config";
  } else if (const char* appData = std::getenv("APPDATA"); appData && *appData) {
    base = ToPath(appData);
  } else {
    base = std::filesystem::temp_directory_path();
  }
  base /= "tamsel";
  std::error_code ec;
  std::filesystem::create_directories(base, ec);
  return FromPath(base / SETTINGS_FILE_NAME);
}

void IniLoad(const IniFile& ini, Controls& c) {
  const char* S = SETTINGS_SECTION;
  c.CheckBoxInductorStretch = ini.ReadBool(S, "InductorStretch", true);
  c.CheckBoxPlayAtCenter = ini.ReadBool(S, "PlayAtCenter", false);
  c.CheckBoxSoundStyle = ini.ReadBool(S, "SoundPlayStyle", true);
  c.TrackBarLoopTime = ReadClamped(ini, "TimeEdge", 2, 5);
  c.chkBoxAIenable = ini.ReadBool(S, "AIenable", true);
  c.CheckBoxShowSub = ini.ReadBool(S, "ShowSub", true);
  c.RadioGroupPower = ReadClamped(ini, "PCPower", 1, 2);
  c.RadioGroupWavSize = ReadClamped(ini, "WavOptimize", 1, 2);
  c.TrackBarAutoVolCtrlSpeed = ReadClamped(ini, "NoiseStyle", 3, 5);
  c.CheckBoxShowAI = ini.ReadBool(S, "ShowAI", false);
  c.TrackBarKeyStep = ReadClamped(ini, "KeyStep", 3, 9);
  c.TrackBarMouseStep = ReadClamped(ini, "MouseStep", 0, 9);
  c.RadioGroupCrashStyle = ReadClamped(ini, "CrashStyle", 0, 3);
  c.TrackBarMinTime = ReadClamped(ini, "MinTime", 0, 5);
  c.TrackBarOutDelay = ReadClamped(ini, "ReadDelay", 3, 5);
  c.SubFontName = ini.ReadString(S, "SubFontName", "楷体");
  c.SubFontSize = std::max(10, std::min(ini.ReadInteger(S, "SubFontSize", 24), 48));
  // Every current system takes the sound converter's modern command lines; the stored
  // "WavOptimize" is kept in the file but does not decide this.
  c.RadioGroupWavSize = 1;
}

void IniSave(IniFile& ini, const Controls& c, int subCurr) {
  const char* S = SETTINGS_SECTION;
  ini.WriteBool(S, "InductorStretch", c.CheckBoxInductorStretch);
  ini.WriteBool(S, "PlayAtCenter", c.CheckBoxPlayAtCenter);
  ini.WriteBool(S, "SoundPlayStyle", c.CheckBoxSoundStyle);
  ini.WriteInteger(S, "TimeEdge", c.TrackBarLoopTime);
  ini.WriteBool(S, "AIenable", c.chkBoxAIenable);
  ini.WriteBool(S, "ShowSub", c.CheckBoxShowSub);
  ini.WriteInteger(S, "PCPower", c.RadioGroupPower);
  ini.WriteInteger(S, "WavOptimize", c.RadioGroupWavSize);
  ini.WriteInteger(S, "NoiseStyle", c.TrackBarAutoVolCtrlSpeed);
  ini.WriteInteger(S, "KeyStep", c.TrackBarKeyStep);
  ini.WriteInteger(S, "MouseStep", c.TrackBarMouseStep);
  ini.WriteInteger(S, "CrashStyle", c.RadioGroupCrashStyle);
  ini.WriteInteger(S, "MinTime", c.TrackBarMinTime);
  ini.WriteInteger(S, "ReadDelay", c.TrackBarOutDelay);
  ini.WriteInteger(S, "SubCurr", subCurr);
  ini.UpdateFile();
}

}  // namespace tamsel
