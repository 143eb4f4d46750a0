#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include <functional>

#include "Controls.h"
#include "SetupPages.h"

namespace tamsel {

/// The tools pages (`PageControlTools`): "自动对齐", "转换帧率", "导入导出、转换格式". The buttons
/// call the window's handlers, which run the document's tools; which buttons are enabled and
/// what they say comes from `Controls` (ShowValues).
class ToolPages : public QTabWidget {
 public:
  ToolPages(Controls& controls, QWidget* parent);

  /// Shows what the controls hold: the buttons' enabling and captions, the factor, the radius.
  void ShowValues();
  /// The pages' buttons may be used (not while a video is being prepared).
  void SetUsable(bool usable);

  std::function<void()> onAutoAdj, onConvert, onConvertTextChanged, onSaveAs, onSaveAsTxt,
      onReLoadTxt, onPageShown;

  QWidget *TabSheet21, *TabSheet22, *TabSheet23;
  ValueTrackBar AutoAdj;
  QPushButton *ButtonAutoAdjBegin, *ButtonConvert, *ButtonSaveAs, *ButtonSaveAsTxt,
      *ButtonReLoadTxt;
  QLineEdit* EditConvert;

 private:
  Controls& m_c;
  bool m_usable = true;
};

}  // namespace tamsel
