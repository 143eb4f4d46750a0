#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>

#include <functional>
#include <string>
#include <vector>

#include "Controls.h"

class QButtonGroup;

namespace tamsel {

/// A track bar with the label that shows its value: a change writes the position into the
/// control's field and rewrites the label.
struct ValueTrackBar {
  QSlider* bar = nullptr;
  QLabel* label = nullptr;
  int* field = nullptr;
  std::function<std::string(int)> text;
  void Show() const;  ///< the field's value on the bar and in the label
  /// Makes the bar (positions 0..`max`, `hint` as its tooltip when given) and its label on
  /// `page`, bound to `field` and labelled by `text`.
  void Make(QWidget* page, int max, int* field, std::function<std::string(int)> text,
            const char* hint);
};

/// The settings pages (`PageControlSetup`): "常用选项", "键盘鼠标", "约束规则", "性能优化". Every
/// control writes its value into `Controls` the moment it changes; nothing is saved here (the
/// window saves when the pages close).
class SetupPages : public QTabWidget {
 public:
  SetupPages(Controls& controls, QWidget* parent);

  /// Shows the values the controls hold (after loading the settings).
  void ShowValues();
  /// Called when the power class is picked (the waveform timer follows it).
  std::function<void()> onPowerClick;

  QCheckBox *CheckBoxInductorStretch, *CheckBoxPlayAtCenter, *CheckBoxShowSub;
  QCheckBox *CheckBoxSoundStyle, *chkBoxAIenable, *CheckBoxShowAI;  // hidden
  ValueTrackBar LoopTime, OutDelay, KeyStep, MouseStep, MinTime;
  QSlider* TrackBarAutoVolCtrlSpeed;
  QLineEdit* LabeledEditLayer;
  QButtonGroup *RadioGroupCrashStyle, *RadioGroupPower, *RadioGroupWavSize;
  QWidget *TabSheet11, *TabSheet12, *TabSheet13, *TabSheet14;

 private:
  Controls& m_c;
  std::vector<ValueTrackBar*> m_bars;
};

/// A radio group of `items` in a titled box; picks write the item index into `field`.
QButtonGroup* MakeRadioGroup(QWidget* page, const QString& title, const QStringList& items,
                             int* field, const QString& hint, QWidget** box);

}  // namespace tamsel
