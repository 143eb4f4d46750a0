#include "Controls.h"

#include <cstdio>

namespace tamsel {

namespace {

/// The shortest decimal text of a value as the labels show it: 15 significant digits, no
/// trailing zeros, "." as the separator.
std::string ValueText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

std::string First(const std::string& s, size_t n) { return s.substr(0, n); }

}  // namespace

int LayerBoxValue(const Controls& c) {
  const std::string& t = c.LabeledEditLayer;
  if (t.empty() || t.size() > 9) return 0;
  int n = 0;
  for (char ch : t) {
    if (ch < '0' || ch > '9') return 0;
    n = n * 10 + (ch - '0');
  }
  return n;
}

void NormaliseLayerBox(Controls& c) {
  c.LabeledEditLayer = std::string(1, std::to_string(LayerBoxValue(c)).back());
}

std::string LabelLoopTime(int p) {
  return "首尾区间:" + First(ValueText(p * 5 / 10.0 + 0.5) + ".0", 3) + "秒";
}

std::string LabelOutDelay(int p) {
  return "出点后移:" + First(ValueText(p / 10.0 + 0.1), 3) + "秒";
}

std::string LabelKeyStep(int p) {
  return "键盘粒度：" + First(ValueText(p / 20.0 + 0.05) + "0", 4) + " 秒";
}

std::string LabelMouseStep(int p) {
  return "滚轮粒度：" + First(ValueText(p / 50.0 + 0.02) + "0", 4) + " 秒";
}

std::string LabelMinTime(int p) {
  return "最短时轴：" + First(ValueText(p / 10.0 + 0.5) + ".0", 3) + " 秒";
}

std::string LabelAutoAdj(int p) {
  return "对齐区间：±" + First(ValueText(p / 10.0 + 0.1) + ".0", 3) + " 秒";
}

int ShowWavInterval(int powerClass) {
  switch (powerClass) {
    case 0: return 28;
    case 1: return 33;
    default: return 41;
  }
}

std::string SoundStyleText(bool soundStyle) { return soundStyle ? "变调" : "跳跃"; }

}  // namespace tamsel
