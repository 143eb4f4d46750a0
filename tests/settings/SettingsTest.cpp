#include "Settings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "TestSupport.h"

namespace tamsel {
namespace {

using test::CrLf;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(IniLoad, MissingFileGivesTheDefaults) {
  TempDir dir;
  IniFile ini(dir.Path("none.ini"));
  Controls c;
  c.TrackBarKeyStep = 7;
  IniLoad(ini, c);
  Controls d;
  EXPECT_EQ(c.TrackBarKeyStep, 3);
  EXPECT_EQ(c.CheckBoxInductorStretch, d.CheckBoxInductorStretch);
  EXPECT_EQ(c.TrackBarLoopTime, 2);
  EXPECT_EQ(c.RadioGroupPower, 1);
  EXPECT_EQ(c.TrackBarAutoVolCtrlSpeed, 3);
  EXPECT_EQ(c.TrackBarOutDelay, 3);
  EXPECT_EQ(c.SubFontName, "楷体");
  EXPECT_EQ(c.SubFontSize, 24);
  EXPECT_EQ(MinGap(c), 50);
}

TEST(IniLoad, ClampsEveryKeyToItsRange) {
  TempDir dir;
  WriteBytes(dir.Path("s.ini"), CrLf({"[Setup]", "KeyStep=12", "TimeEdge = -3", "MinTime=5",
                                      "PCPower=7", "CrashStyle=9", "MouseStep=abc",
                                      "ReadDelay=4", "NoiseStyle=0", "ShowAI=1",
                                      "InductorStretch=0", "SubFontSize=6", "WavOptimize=0",
                                      "SubFontName=宋体"}));
  IniFile ini(dir.Path("s.ini"));
  Controls c;
  IniLoad(ini, c);
  EXPECT_EQ(c.TrackBarKeyStep, 9);
  EXPECT_EQ(LabelKeyStep(c.TrackBarKeyStep), "键盘粒度：0.50 秒");
  EXPECT_EQ(c.TrackBarLoopTime, 0);
  EXPECT_EQ(MinGap(c), 100);
  EXPECT_EQ(c.RadioGroupPower, 2);
  EXPECT_EQ(ShowWavInterval(c.RadioGroupPower), 41);
  EXPECT_EQ(c.RadioGroupCrashStyle, 3);
  EXPECT_EQ(c.TrackBarMouseStep, 0);  // not a number: the default
  EXPECT_EQ(c.TrackBarOutDelay, 4);
  EXPECT_EQ(c.TrackBarAutoVolCtrlSpeed, 0);
  EXPECT_TRUE(c.CheckBoxShowAI);
  EXPECT_FALSE(c.CheckBoxInductorStretch);
  EXPECT_EQ(c.SubFontSize, 10);
  EXPECT_EQ(c.RadioGroupWavSize, 1);  // decided by the platform, not the file
  EXPECT_EQ(c.SubFontName, "宋体");
}

TEST(IniSave, WritesTheSavedKeysAndKeepsEverythingElse) {
  TempDir dir;
  const std::string path = dir.Path("s.ini");
  WriteBytes(path, CrLf({"; my notes", "[other]", "x=1", "", "[setup]", "KeyStep=1",
                         "SubFontSize=100", "ShowAI=1"}));
  IniFile ini(path);
  Controls c;
  IniLoad(ini, c);
  EXPECT_EQ(c.SubFontSize, 48);
  c.TrackBarKeyStep = 5;
  c.CheckBoxShowAI = false;
  IniSave(ini, c, 42);

  IniFile again(path);
  EXPECT_EQ(again.ReadInteger("setup", "KeyStep", -1), 5);
  EXPECT_EQ(again.ReadInteger("setup", "SubCurr", -1), 42);
  EXPECT_EQ(again.ReadInteger("other", "x", -1), 1);
  EXPECT_EQ(again.ReadInteger("setup", "ShowAI", -1), 1);        // never written
  EXPECT_EQ(again.ReadInteger("setup", "SubFontSize", -1), 100);  // never written
  const std::string text = ReadBytes(path);
  EXPECT_EQ(text.rfind("; my notes\r\n[other]\r\nx=1\r\n\r\n[setup]\r\nKeyStep=5\r\n", 0), 0u);
  for (const char* key : {"InductorStretch=", "PlayAtCenter=", "SoundPlayStyle=", "TimeEdge=",
                          "AIenable=", "ShowSub=", "PCPower=", "WavOptimize=", "NoiseStyle=",
                          "MouseStep=", "CrashStyle=", "MinTime=", "ReadDelay=", "SubCurr="}) {
    EXPECT_NE(text.find(std::string("\r\n") + key), std::string::npos) << key;
  }
  EXPECT_EQ(text.find("SubFontName"), std::string::npos);
}

TEST(ValueLabels, ShowTheValueOfEveryPosition) {
  struct Case {
    std::string (*label)(int);
    int position;
    const char* text;
  } cases[] = {
      {LabelLoopTime, 0, "首尾区间:0.5秒"},  {LabelLoopTime, 1, "首尾区间:1.0秒"},
      {LabelLoopTime, 2, "首尾区间:1.5秒"},  {LabelLoopTime, 5, "首尾区间:3.0秒"},
      {LabelOutDelay, 2, "出点后移:0.3秒"},  {LabelOutDelay, 3, "出点后移:0.4秒"},
      {LabelKeyStep, 0, "键盘粒度：0.05 秒"}, {LabelKeyStep, 1, "键盘粒度：0.10 秒"},
      {LabelKeyStep, 3, "键盘粒度：0.20 秒"}, {LabelKeyStep, 8, "键盘粒度：0.45 秒"},
      {LabelMouseStep, 0, "滚轮粒度：0.02 秒"}, {LabelMouseStep, 1, "滚轮粒度：0.04 秒"},
      {LabelMouseStep, 4, "滚轮粒度：0.10 秒"}, {LabelMouseStep, 9, "滚轮粒度：0.20 秒"},
      {LabelMinTime, 0, "最短时轴：0.5 秒"}, {LabelMinTime, 5, "最短时轴：1.0 秒"},
      {LabelAutoAdj, 1, "对齐区间：±0.2 秒"}, {LabelAutoAdj, 4, "对齐区间：±0.5 秒"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.label(c.position), c.text);
  EXPECT_EQ(ShowWavInterval(0), 28);
  EXPECT_EQ(ShowWavInterval(1), 33);
  EXPECT_EQ(SoundStyleText(true), "变调");
  EXPECT_EQ(SoundStyleText(false), "跳跃");
}

TEST(LayerBoxValue, NonNumbersReadAsZeroAndClosingThePagesKeepsTheLastDigit) {
  Controls c;
  struct Case {
    std::string text;
    int value;
    std::string normalised;
  } cases[] = {{"0", 0, "0"},  {"3", 3, "3"},  {"12", 12, "2"},  {"", 0, "0"},
               {"a", 0, "0"},  {"-1", 0, "0"}, {"007", 7, "7"},  {"1234567890", 0, "0"}};
  for (const auto& k : cases) {
    c.LabeledEditLayer = k.text;
    EXPECT_EQ(LayerBoxValue(c), k.value) << k.text;
    NormaliseLayerBox(c);
    EXPECT_EQ(c.LabeledEditLayer, k.normalised) << k.text;
  }
}

TEST(SettingsFilePath, BesideTheExecutableOrInTheUsersConfig) {
  TempDir dir;
  EXPECT_EQ(SettingsFilePath(dir.Path()), dir.Path("RuziRudoDudiro.ini"));
  setenv("XDG_CONFIG_HOME", dir.Path("cfg").c_str(), 1);
  EXPECT_EQ(SettingsFilePath(dir.Path("no-such-folder")), dir.Path("cfg") + "/tamsel/RuziRudoDudiro.ini");
  EXPECT_TRUE(std::filesystem::is_directory(ToPath(dir.Path("cfg") + "/tamsel")));
  unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace tamsel
