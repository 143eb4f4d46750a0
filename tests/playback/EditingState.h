#pragma once

#include <initializer_list>
#include <utility>

#include "EditorState.h"
#include "Timeline.h"

namespace tamsel::test {

/// An editor that is editing an SRT document whose entries stand far from one another and from
/// the ends of the media, with the magnet off, so that every edit does exactly what it asks; in
/// a window whose video is 550 px high above a 1024-column strip.
inline EditorState Editing(
    std::initializer_list<std::pair<int32_t, int32_t>> times = {{1000, 1500}}) {
  EditorState st;
  st.ReadyState = 2;
  st.SubFormat = FORMAT_SRT;
  int32_t n = 0;
  for (auto [in, out] : times) {
    ++n;
    st.Subs.push_back({n, n, in, out, "Hello||World", false});
  }
  st.WavSel.assign(20000 + 1000, TWavSelect{false, -1});
  CreatSelAndInd(st.WavSel, st.Subs);
  for (auto& s : st.Subs) s.Changed = false;
  st.AiBegin.assign(20500, 0);
  st.AiEnd.assign(20500, 0);
  st.Ctrl.chkBoxAIenable = false;
  st.MediaLength = 20000;
  st.SubsInVideo = static_cast<int32_t>(st.Subs.size());
  st.SubCurr = 0;
  st.ActiveSub = 0;
  st.Panel1Left = 128;
  st.Panel1Width = 1024;
  st.Panel1Top = 580;
  st.PlayerHeight = 550;
  st.MouseX = 128 + 512;
  st.MouseY = 275;
  return st;
}

}  // namespace tamsel::test
