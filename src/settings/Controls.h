#pragma once

#include <string>

namespace tamsel {

/// The values of the controls on the settings and tools pages. The window binds its widgets to
/// these fields; the core reads a setting here wherever the editor reads a control. Track bars
/// hold positions, radio groups item indexes, check boxes their checked state.
struct Controls {
  // 常用选项
  bool CheckBoxInductorStretch = true;  ///< "平缓的变速区"
  bool CheckBoxPlayAtCenter = false;    ///< "中央区x1播放"
  bool CheckBoxSoundStyle = true;       ///< "声音无级变调" (hidden; toggled from the status panel)
  int TrackBarLoopTime = 2;             ///< head/tail span, 0..5
  bool chkBoxAIenable = true;           ///< "使用“磁石”" (hidden)
  bool CheckBoxShowSub = true;          ///< "显示滚动字幕"
  bool CheckBoxShowAI = false;          ///< "显示A.I.数据" (hidden, never saved)
  int TrackBarOutDelay = 3;             ///< out-point delay, 0..5
  // 性能优化
  int RadioGroupPower = 1;              ///< 0 "神机", 1 "还好", 2 "伤不起"
  int RadioGroupWavSize = 1;            ///< 0 "解决XP无声", 1 "Win7、Win8"
  int TrackBarAutoVolCtrlSpeed = 3;     ///< "视频类型和语速：", 0..5; 0 = no volume adjustment
  // 键盘鼠标
  int TrackBarKeyStep = 3;              ///< 0..9
  int TrackBarMouseStep = 0;            ///< 0..9
  // 约束规则
  int RadioGroupCrashStyle = 0;         ///< collision rule, 0..3
  int TrackBarMinTime = 0;              ///< minimum subtitle length, 0..5
  // Not saved
  std::string LabeledEditLayer = "0";   ///< "ass字幕层：", digits only
  std::string EditConvert = "1.000000"; ///< frame-rate conversion factor
  bool ButtonConvert = false;           ///< "转 换" enabled
  int TrackBarAutoAdj = 1;              ///< alignment window, 0..4 (tools page 自动对齐)
  // Held for the subtitle lines; read from the settings file, never written.
  std::string SubFontName = "楷体";
  int SubFontSize = 24;
  // Tools page "导入导出、转换格式"
  bool ButtonSaveAs = false;
  bool ButtonSaveAsTxt = false;
  bool ButtonReLoadTxt = false;
  std::string ButtonSaveAsCaption = "转为ASS格式";
  // Tools page "自动对齐"
  bool ButtonAutoAdjBegin = false;
};

/// Minimum subtitle length in centiseconds: 0.5 s to 1.0 s.
inline int MinGap(const Controls& c) { return c.TrackBarMinTime * 10 + 50; }

/// The layer box read as an integer, 0 when it is not a number.
int LayerBoxValue(const Controls& c);
/// The layer box as the pages leave it when they close: its value written back as the last
/// digit only ("12" becomes "2", a text that is no number "0").
void NormaliseLayerBox(Controls& c);

/// The value label texts of the track bars, as shown beside them.
std::string LabelLoopTime(int position);
std::string LabelOutDelay(int position);
std::string LabelKeyStep(int position);
std::string LabelMouseStep(int position);
std::string LabelMinTime(int position);
std::string LabelAutoAdj(int position);

/// Interval of the waveform timer for a power class: 28, 33 or 41 ms.
int ShowWavInterval(int powerClass);
/// Text of status panel 0 for the sound style: "变调" or "跳跃".
std::string SoundStyleText(bool soundStyle);

}  // namespace tamsel
