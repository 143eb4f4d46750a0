// Long random edit sequences over real SRT and ASS documents: every timing edit, drag, key and
// wheel notch is thrown at the timeline in random order with random settings, and after every
// step the promises the edits make about the timeline, the coverage map, the indexes and the play
// edges are checked. Every so often the document is saved and loaded again into a fresh editor.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "BoundaryMove.h"
#include "DragGestures.h"
#include "EdgeTracking.h"
#include "KeyCommands.h"
#include "MagnetCut.h"
#include "SplitJoin.h"
#include "SubtitleLoad.h"
#include "SubtitleSave.h"
#include "TestSupport.h"
#include "TimeText.h"

namespace tamsel {

namespace {

using test::CrLf;
using test::Fixture;
using test::With;
using test::WriteBytes;

using Lines = std::vector<std::string>;

constexpr size_t SOUND_SLOTS = 30000;  // 300 s of sound; the map has 1000 spare cells more
constexpr int32_t MAP_CELLS = int32_t(SOUND_SLOTS) + 1000;
constexpr int32_t STRIP_WIDTH = 1280;  // pixel columns of the waveform strip
// The ASS notation H:MM:SS.cc has room for one hour digit: the loader reads times below 10 h.
constexpr int32_t ASS_TIME_LIMIT = 10 * 360000;

const Lines ASS_HEAD = test::AssScriptHead();

// Texts with every kind of place a split may cut at: separators, punctuation, plain runs.
const char* const WORDS[] = {"hello",        "one, two", "你好，世界", "甲乙丙丁戊",
                             "Why? Because", "a||b",     "x y z",      "好！走吧",
                             "left\\Nright", "单",       "abcdef",     "句子。另一句"};

struct Entry {
  int32_t in, out;
  std::string text;
};

std::string Describe(const EditorState& st) {
  std::ostringstream os;
  os << "ActiveSub " << st.ActiveSub << " SubCurr " << st.SubCurr << " PlayPos " << st.PlayPos
     << " SubsInVideo " << st.SubsInVideo << " MediaLength " << st.MediaLength << "\n";
  for (size_t i = 0; i < st.Subs.size(); ++i)
    os << "  " << i << ": " << st.Subs[i].TimeIn << " .. " << st.Subs[i].TimeOut << " ["
       << st.Subs[i].IndexBegin << "," << st.Subs[i].IndexEnd << "] " << st.Subs[i].Dialogue
       << "\n";
  return os.str();
}

/// One random run: a document, settings and a sequence of edits, all from one seed.
class EditSequence {
 public:
  EditSequence(uint32_t seed, bool ass) : m_rng(seed), m_seed(seed), m_ass(ass) {}

  /// Runs `steps` random steps; stops at the first broken promise (reported through gtest).
  void Run(int steps) {
    ASSERT_NO_FATAL_FAILURE(Setup());
    for (m_step = 0; m_step < steps; ++m_step) {
      ASSERT_NO_FATAL_FAILURE(Step()) << Where();
      if (HasFailure()) return;
    }
    ASSERT_NO_FATAL_FAILURE(SaveAndReload()) << Where();
  }

 private:
  static bool HasFailure() { return ::testing::Test::HasFailure(); }

  int32_t Rand(int32_t lo, int32_t hi) {  // inclusive, either way round
    if (lo > hi) std::swap(lo, hi);
    return std::uniform_int_distribution<int32_t>(lo, hi)(m_rng);
  }
  bool Chance(int percent) { return Rand(0, 99) < percent; }
  EditorState& St() { return m_f.st; }
  int32_t Count() { return int32_t(St().Subs.size()); }
  int32_t MinGapNow() { return MinGap(St().Ctrl); }

  std::string Where() {
    return "seed " + std::to_string(m_seed) + (m_ass ? " (ASS)" : " (SRT)") + ", step " +
           std::to_string(m_step) + ", op " + m_op + "\n" + Describe(St());
  }

  // --- set-up ------------------------------------------------------------------------------

  void Setup() {
    EditorState& st = St();
    Controls& c = st.Ctrl;
    c.RadioGroupCrashStyle = Rand(0, 3);
    c.TrackBarMinTime = Rand(0, 5);
    c.chkBoxAIenable = Chance(50);
    c.TrackBarKeyStep = Rand(0, 9);
    c.TrackBarMouseStep = Rand(0, 9);
    c.TrackBarLoopTime = Rand(0, 5);
    c.TrackBarAutoVolCtrlSpeed = Rand(0, 5);

    // The document: entries in order, each at least the minimum length, with free slots between.
    std::vector<Entry> entries;
    int32_t t = Rand(0, 400);
    const int n = Rand(8, 30);
    for (int i = 0; i < n && t < int32_t(SOUND_SLOTS) - 1000; ++i) {
      const int32_t len = MinGapNow() + Rand(0, 400);
      std::string text = WORDS[Rand(0, int32_t(std::size(WORDS)) - 1)];
      if (!m_ass) {
        // SRT has no hard line break of its own.
        for (size_t p; (p = text.find("\\N")) != std::string::npos;) text.replace(p, 2, " ");
      }
      entries.push_back({t, t + len, text});
      t += len + 2 + Rand(0, 300);
    }
    if (m_ass) {
      Lines events;
      for (const auto& e : entries) {
        std::string text = e.text;
        for (size_t p; (p = text.find("||")) != std::string::npos;) text.replace(p, 2, "\\N");
        events.push_back("Dialogue: 0," + IntToTimeAssStr(e.in) + "," + IntToTimeAssStr(e.out) +
                         ",Default,,0,0,0,," + text);
      }
      WriteBytes(m_f.File(".ass"), CrLf(With(ASS_HEAD, events)));
    } else {
      Lines lines;
      for (size_t i = 0; i < entries.size(); ++i) {
        lines.push_back(std::to_string(i + 1));
        lines.push_back(IntToTimeStr(entries[i].in) + " --> " + IntToTimeStr(entries[i].out));
        for (auto& l : SplitDisplayLines(entries[i].text)) lines.push_back(l);
        lines.emplace_back();
      }
      WriteBytes(m_f.File(".srt"), CrLf(lines));
    }
    ASSERT_TRUE(SubtitleLoad(st, 0)) << st.LastMessage;

    // Speech scores: mostly silence, with short runs of edges of random strength.
    st.AiBegin.assign(SOUND_SLOTS + 500, 0);
    st.AiEnd.assign(SOUND_SLOTS + 500, 0);
    for (auto* scores : {&st.AiBegin, &st.AiEnd})
      for (size_t s = 0; s < SOUND_SLOTS; s += size_t(Rand(5, 120))) {
        const int run = Rand(1, 6);
        for (int k = 0; k < run && s + size_t(k) < SOUND_SLOTS; ++k)
          (*scores)[s + size_t(k)] = uint8_t(Rand(1, 255));
      }

    // The video may end before the sound does, so that entries lie past its end.
    st.MediaLength = Rand(int32_t(SOUND_SLOTS) * 6 / 10, int32_t(SOUND_SLOTS));
    st.SubsInVideo = Count();
    RecountSubsInVideo(st);
    st.ReadyState = 2;
    st.PlayRate = Chance(80) ? 1.0 : -1.0;
    st.Panel1Top = 300;
    st.Panel1Left = 0;
    st.Panel1Width = STRIP_WIDTH;
    st.PlayerHeight = 280;
    st.FrameStep = 40;
    st.PlayPos = Count() > 0 ? st.Subs[0].TimeIn * 10 : 0;
    RefreshEdge(st);
    CheckEdge(st, st.PlayPos);
    ASSERT_NO_FATAL_FAILURE(CheckAll(/*mapRebuilt=*/true, /*forwardPromised=*/true));
  }

  // --- one step -----------------------------------------------------------------------------

  /// What the waveform strip does between events: the entry under the play cursor becomes the
  /// current one, and the pointer chooses the active one (or leaves it as it was).
  void StripTick() {
    EditorState& st = St();
    const int32_t slot = st.PlayPos / 10;
    if (slot >= 0 && slot < int32_t(st.WavSel.size()) && st.WavSel[size_t(slot)].Select)
      st.SubCurr = st.WavSel[size_t(slot)].SubIndex;
    if (Chance(70)) {
      if (Count() == 0)
        st.ActiveSub = -1;
      else if (Chance(50) && slot >= 0 && slot < int32_t(st.WavSel.size()) &&
               st.WavSel[size_t(slot)].Select)
        st.ActiveSub = st.WavSel[size_t(slot)].SubIndex;
      else
        st.ActiveSub = Chance(5) ? -1 : Rand(0, Count() - 1);
    }
  }

  int32_t RandomStep() {
    const int32_t sign = Chance(50) ? 1 : -1;
    switch (Rand(0, 4)) {
      case 0:
        return sign * Rand(0, 2);  // steps the magnet lets pass
      case 1:
        return sign * Rand(3, 20);
      case 2:
        return sign * Rand(20, 300);
      case 3:
        return sign * Rand(300, 5000);
      default:
        return sign * KeyStep(St());
    }
  }

  /// The play position placed at random: inside an entry, in a gap or anywhere in the sound.
  void RandomPlayPos() {
    EditorState& st = St();
    if (Count() > 0 && Chance(60)) {
      const TSub& s = st.Subs[size_t(Rand(0, Count() - 1))];
      st.PlayPos = std::clamp(Rand(s.TimeIn - 50, s.TimeOut + 50), 0, MAP_CELLS - 1) * 10;
    } else {
      st.PlayPos = Rand(0, MAP_CELLS * 10 - 1);
    }
  }

  /// The entries inside the video lie in the order the edits keep: ascending, apart by a free
  /// slot, each at least the minimum length and ending by the end of the video, and the active
  /// entry is one of them (or none). Entries past the end of the video are left out: the
  /// collision rules do not look at them, and an edit of the last entry inside the video may
  /// overlap them. A split of an ASS entry ends in a reload, which may leave entries touching.
  /// `inVideo` is the number of leading entries looked at.
  /// A split leaves two halves that may each be shorter than the minimum length (it needs only
  /// the minimum length and 0.1 s more), so after one the lengths are not looked at.
  bool InKeptOrder(int32_t inVideo, bool touchingAllowed = false, bool lengthsKept = true) {
    const EditorState& st = St();
    const int32_t apart = touchingAllowed ? 0 : 1;
    inVideo = std::min(inVideo, Count());
    for (int32_t i = 0; i < inVideo; ++i) {
      const TSub& s = st.Subs[size_t(i)];
      if (s.TimeIn < 0 || s.TimeOut > st.MediaLength) return false;
      if (lengthsKept && s.TimeOut - s.TimeIn < MinGapNow()) return false;
      if (i + 1 < inVideo && s.TimeOut + apart > st.Subs[size_t(i) + 1].TimeIn) return false;
    }
    return true;
  }

  /// Every entry ends at or after its start.
  bool AllForward() {
    for (const TSub& s : St().Subs)
      if (s.TimeOut < s.TimeIn) return false;
    return true;
  }

  void Step() {
    EditorState& st = St();
    StripTick();
    // The entries looked at are those inside the video before the edit; a split or a join of
    // one of them adds or removes one. (The recount after a split, join or move-here may bring
    // entries that lay past the end of the video, in any order, into the count.)
    const int32_t inVideo = std::min(st.SubsInVideo, Count());
    const bool ordered = InKeptOrder(inVideo) && st.ActiveSub < inVideo;
    bool splitOrJoin = false;
    const std::string before = Describe(st);
    // No edit turns an entry backwards, except a join of two entries that cuts had put out of
    // order: the joined entry takes the out point of the later one, wherever that lies.
    bool forwardPromised = AllForward();
    // A split of an ASS entry rewrites the file and loads it again: the loader's order.
    bool touchingAllowed = false;
    const size_t countBefore = st.Subs.size();
    bool mapRebuilt = false;
    // Moves, splits, joins and move-here keep the order they found (the cuts may overlap
    // neighbours, and queue and elastic drags shift without any collision rule).
    bool orderPromised = false;
    const int op = Rand(0, 99);
    if (op < 22) {
      const int32_t style = Chance(50) ? MoveWhole : MoveOutPoint;
      const int32_t step = RandomStep();
      m_op = "Move(" + std::to_string(style) + ", " + std::to_string(step) + ")";
      Move(st, style, step);
      orderPromised = ordered;
    } else if (op < 32) {
      const bool in = Chance(50);
      st.OverWave = Chance(50);
      int32_t point;
      if (st.OverWave) {
        st.ViewStart = 2 * Rand(0, MAP_CELLS - STRIP_WIDTH - 3);
        point = Rand(0, STRIP_WIDTH - 1);
      } else {
        point = Chance(50) && Count() > 0
                    ? std::clamp(st.Subs[size_t(Rand(0, Count() - 1))].TimeIn + Rand(-100, 300), 0,
                                 MAP_CELLS - 1)
                    : Rand(0, MAP_CELLS - 1);
      }
      m_op = std::string(in ? "CutInAt(" : "CutOutAt(") + std::to_string(point) +
             (st.OverWave ? ", over the strip)" : ")");
      if (in)
        CutInAt(st, point);
      else
        CutOutAt(st, point);
    } else if (op < 44) {
      mapRebuilt = Drag();
      orderPromised = ordered && m_op.rfind("plain", 0) == 0;
    } else if (op < 48) {
      // Callers shift only by amounts that keep every time at or after 0.
      const int32_t head = Rand(-1, Count());
      int32_t minIn = 0;
      for (int32_t i = std::max(head, 0); i < Count(); ++i)
        minIn = i == std::max(head, 0) ? st.Subs[size_t(i)].TimeIn
                                       : std::min(minIn, st.Subs[size_t(i)].TimeIn);
      const int32_t step = Rand(-std::min(minIn, 2000), 2000);
      m_op = "MoveBehind(" + std::to_string(head) + ", " + std::to_string(step) + ")";
      MoveBehind(st, head, step);
      // Also an empty shift (head past the last entry) rebuilds the map.
      mapRebuilt = head >= 0 && st.ActiveSub < Count();
    } else if (op < 51) {
      // The pointer stays on the strip: the active entry moves by at most half its time, so
      // the scale stays positive.
      const int32_t a = st.ActiveSub;
      const int32_t reach = a >= 0 && a < Count() ? st.Subs[size_t(a)].TimeIn / 2 : 10;
      const int32_t step = Rand(-reach, reach);
      m_op = "MoveElastic(" + std::to_string(step) + ")";
      MoveElastic(st, step);
      mapRebuilt = a >= 5 && std::abs(step) >= 2 && a < Count();
    } else if (op < 60) {
      if (Chance(60)) RandomPlayPos();
      const int which = Rand(0, 2);
      m_op = which == 0 ? "Shear" : which == 1 ? "Joint" : "MoveToHere";
      if (which == 0) Shear(st);
      if (which == 1) Joint(st);
      splitOrJoin = which != 2;
      if (which == 1) forwardPromised = forwardPromised && ordered;
      if (which == 0) touchingAllowed = m_ass;
      if (which == 2) MoveToHere(st, st.PlayPos / 10);
      // Move-here patches the cells of the one entry it moves or appends; a split or a join
      // rebuilds the map when it acts.
      mapRebuilt = which != 2 && SplitOrJoinRebuilt(countBefore);
      orderPromised = ordered;
    } else if (op < 72) {
      m_op = "play";
      const int ticks = Rand(1, 20);
      if (Chance(30)) RandomPlayPos();
      for (int k = 0; k < ticks; ++k) {
        st.PlayPos = std::clamp(st.PlayPos + int32_t(st.PlayRate * 42), 0, MAP_CELLS * 10 - 1);
        CheckEdge(st, st.PlayPos);
      }
      orderPromised = ordered;
    } else if (op < 90) {
      const Key keys[] = {
          Key::S,    Key::F,      Key::E,      Key::D,      Key::R,      Key::W,      Key::X,
          Key::C,    Key::V,      Key::A,      Key::Space,  Key::Left,   Key::Right,  Key::Up,
          Key::Down, Key::Digit1, Key::Digit2, Key::Digit3, Key::Digit4, Key::Digit5, Key::Digit6};
      const int k = Rand(0, int32_t(std::size(keys)) - 1);
      m_op = "PressKey(" + std::to_string(k) + ")";
      PressKey(st, keys[k]);
      splitOrJoin = keys[k] == Key::X || keys[k] == Key::C;
      if (keys[k] == Key::C) forwardPromised = forwardPromised && ordered;
      if (keys[k] == Key::X) touchingAllowed = m_ass;
      mapRebuilt = (keys[k] == Key::X || keys[k] == Key::C) && SplitOrJoinRebuilt(countBefore);
      // The keys move, split, join, pull, jump, replay or switch a state: none of them breaks
      // the order it found.
      orderPromised = ordered;
    } else if (op < 96) {
      const WheelPlace places[] = {WheelPlace::OffStrip, WheelPlace::Strip,
                                   WheelPlace::StripCutBand};
      const WheelPlace place = places[Rand(0, 2)];
      const int dir = Rand(-1, 1);
      st.MouseY = Rand(0, 700);
      st.MouseX = Rand(0, STRIP_WIDTH - 1);
      m_op = "WheelNotch(" + std::to_string(dir) + ", " + std::to_string(int(place)) + ")";
      WheelNotch(st, dir, place);
      orderPromised = ordered;
    } else if (op < 98) {
      m_op = "settings";
      st.PlayRate = -st.PlayRate;
      st.Ctrl.RadioGroupCrashStyle = Rand(0, 3);
      if (Chance(30)) ToggleStatusSwitch(st, Rand(0, 5));
      RefreshEdge(st);
      orderPromised = ordered;
    } else {
      m_op = "save and reload";
      ASSERT_NO_FATAL_FAILURE(SaveAndReload());
      return;
    }
    // After an ASS split the whole timeline comes from the loader, in its order throughout.
    const int32_t inVideoAfter = touchingAllowed
                                     ? st.SubsInVideo
                                     : inVideo + (splitOrJoin ? Count() - int32_t(countBefore) : 0);
    const bool split = splitOrJoin && Count() > int32_t(countBefore);
    if (orderPromised && !InKeptOrder(inVideoAfter, touchingAllowed, !split)) {
      ADD_FAILURE() << "the order the edit found is not kept: " << Where() << "before:\n" << before;
      return;
    }
    ASSERT_NO_FATAL_FAILURE(CheckAll(mapRebuilt, forwardPromised));
  }

  /// Whether a split or a join acted and left the map as a rebuild makes it. Both rebuild the
  /// map and then recount the entries inside the video, which limits the last of them to the
  /// end of the video and clears the cells it gives up; where entries overlap (after cuts or
  /// queue drags) those cells may also lie under an earlier entry, which the patch does not
  /// give them back to. So the map is compared only on a timeline without overlaps.
  bool SplitOrJoinRebuilt(size_t countBefore) {
    const EditorState& st = St();
    if (st.Subs.size() == countBefore) return false;
    for (size_t i = 1; i < st.Subs.size(); ++i)
      if (st.Subs[i - 1].TimeOut >= st.Subs[i].TimeIn) return false;
    return true;
  }

  /// A press, a few moves and a release on the strip. Returns whether the last event rebuilt
  /// the coverage map (queue moves and the end of an elastic drag do).
  bool Drag() {
    EditorState& st = St();
    Modifiers keys;
    const int mode = Rand(0, 2);
    keys.shift = mode == 1;
    keys.ctrl = mode == 2;
    st.ViewStart = 2 * Rand(0, MAP_CELLS - STRIP_WIDTH - 3);
    // Now and then the press lands in the cut band and cuts instead of dragging.
    const bool cut = Chance(10);
    st.MouseY = st.Panel1Top + (cut ? Rand(41, 79) : Rand(0, 40));
    const MouseButton buttons[] = {MouseButton::Left, MouseButton::Right, MouseButton::Middle};
    const int32_t x0 = Rand(0, STRIP_WIDTH - 1);
    m_op = std::string(cut         ? "cut"
                       : mode == 0 ? "plain"
                       : mode == 1 ? "queue"
                                   : "elastic") +
           " drag from " + std::to_string(x0);
    PaintWavMouseDown(st, buttons[Rand(0, 2)], keys, x0);
    const int32_t a = st.ActiveSub;
    const bool valid = a >= 0 && a < Count();
    const int32_t startIn = valid ? st.Subs[size_t(a)].TimeIn : 0;
    bool rebuilt = false;
    const int moves = Rand(1, 6);
    for (int k = 0; k < moves; ++k) {
      int32_t x = Rand(0, STRIP_WIDTH - 1);
      if (mode == 2) x = std::clamp(x0 + Rand(-startIn / 2, startIn / 2), 0, STRIP_WIDTH - 1);
      if (mode == 1) {
        // A queue drag shifts without limits; keep the times at or after 0.
        int32_t minIn = startIn;
        for (int32_t i = std::max(a, 0); valid && i < Count(); ++i)
          minIn = std::min(minIn, st.Subs[size_t(i)].TimeIn);
        x = std::max(x, x0 - minIn / 2);
      }
      m_op += " to " + std::to_string(x);
      // Every queue step rebuilds the map, also one to the left with the last entry active,
      // which moves the active entry and then shifts the none after it.
      PaintWavMouseMove(st, keys, x, Rand(0, 100));
      rebuilt = st.Dragging && st.DragMode == 1 && valid;
      if (HasFailure()) return false;
    }
    const bool elasticEnd = st.Dragging && st.DragMode == 2 && valid;
    PaintWavMouseUp(st);
    m_op += " released";
    return rebuilt || elasticEnd;
  }

  // --- checks -------------------------------------------------------------------------------

  void CheckAll(bool mapRebuilt, bool forwardPromised) {
    EditorState& st = St();
    SCOPED_TRACE(Where());
    const int32_t n = Count();
    // Indexes: the active and the current entry name an entry or none.
    EXPECT_GE(st.ActiveSub, -1);
    EXPECT_LT(st.ActiveSub, n);
    EXPECT_GE(st.SubCurr, -1);
    EXPECT_LT(st.SubCurr, n);
    if (n == 0) {
      EXPECT_EQ(st.SubCurr, -1);
    }
    // Times: inside the range every time text can show, out point not before in point.
    bool wellFormed = true;
    for (int32_t i = 0; i < n; ++i) {
      const TSub& s = st.Subs[size_t(i)];
      EXPECT_GE(s.TimeIn, 0) << "entry " << i;
      EXPECT_LE(s.TimeOut, MAX_TIME) << "entry " << i;
      if (forwardPromised) {
        EXPECT_GE(s.TimeOut, s.TimeIn) << "entry " << i;
      }
      wellFormed = wellFormed && s.TimeOut >= s.TimeIn;
    }
    // The play edges: each segment runs forwards, as long as every entry does.
    if (wellFormed) {
      EXPECT_LE(st.PrevBegin, st.PrevEnd);
      EXPECT_LE(st.CurBegin, st.CurEnd);
      EXPECT_LE(st.NextBegin, st.NextEnd);
    }
    EXPECT_EQ(st.WavSel.size(), size_t(MAP_CELLS));
    if (mapRebuilt) ExpectMapRebuilt();
  }

  /// The coverage map is exactly what a fresh rebuild from the timeline makes of it.
  void ExpectMapRebuilt() {
    const EditorState& st = St();
    std::vector<TWavSelect> fresh(st.WavSel.size(), TWavSelect{false, -1});
    MarkSelection(fresh, st.Subs);
    for (size_t s = 0; s < fresh.size(); ++s) {
      if (st.WavSel[s].Select != fresh[s].Select || st.WavSel[s].SubIndex != fresh[s].SubIndex) {
        ADD_FAILURE() << "coverage cell " << s << " is (" << st.WavSel[s].Select << ", "
                      << st.WavSel[s].SubIndex << "), a rebuild makes (" << fresh[s].Select << ", "
                      << fresh[s].SubIndex << ")";
        return;
      }
    }
  }

  /// What loading the saved file gives back, when the design promises it: every time and text
  /// of `expected`. SRT: the writer writes every entry, and the loader puts each entry at least
  /// two slots after the previous one and makes it at least the minimum length (when there are
  /// two or more), so the expected timeline is the current one put through that same rule;
  /// only texts with a blank display line are out (the blank line would end the entry's text
  /// in the file), and timelines pushed past MAX_TIME. ASS: the save moves each entry's events with
  /// it and the loader merges overlapping events again, so the timeline comes back unchanged only
  /// when it already is what the loader makes: entries of one event each, at least the minimum
  /// length, in order without overlap (touching is fine) and below 10 h (the ASS notation has one
  /// hour digit).
  bool ExpectedReload(std::vector<Entry>& expected) {
    const EditorState& st = St();
    const int32_t n = Count();
    const int32_t minGap = MinGapNow();
    expected.clear();
    for (const TSub& s : st.Subs) expected.push_back({s.TimeIn, s.TimeOut, s.Dialogue});
    if (n == 0) return false;
    if (m_ass) {
      for (int32_t i = 0; i < n; ++i) {
        const TSub& s = st.Subs[size_t(i)];
        if (s.TimeIn < 0 || s.TimeOut - s.TimeIn < minGap) return false;
        if (s.IndexBegin != s.IndexEnd || s.TimeOut >= ASS_TIME_LIMIT) return false;
        if (i > 0 && s.TimeIn < st.Subs[size_t(i) - 1].TimeOut) return false;
      }
      return true;
    }
    for (const TSub& s : st.Subs) {
      if (s.TimeIn < 0 || s.TimeOut < 0) return false;
      // A display line of nothing but spaces reads back as the blank line that ends the text.
      for (const auto& line : SplitDisplayLines(s.Dialogue))
        if (line.find_first_not_of(" \t") == std::string::npos) return false;
    }
    if (n >= 2) {
      for (int32_t i = 0; i < n; ++i) {
        Entry& e = expected[size_t(i)];
        if (i > 0) e.in = std::max(e.in, expected[size_t(i) - 1].out + 2);
        e.out = std::max(e.out, e.in + minGap);
      }
    }
    // Times are read no further than MAX_TIME; a push past it does not come back.
    return std::all_of(expected.begin(), expected.end(),
                       [](const Entry& e) { return e.out <= MAX_TIME; });
  }

  /// Saves the document and loads the file into a fresh editor state: the load succeeds, gives
  /// a timeline in ascending order and, where the design promises it (ExpectedReload), the
  /// same times and texts.
  void SaveAndReload() {
    EditorState& st = St();
    SCOPED_TRACE(Where());
    std::vector<Entry> expected;
    const bool comparable = ExpectedReload(expected);
    ASSERT_TRUE(SubtitleSave(st)) << st.LastMessage;
    EXPECT_FALSE(st.SubDirty);
    EditorState fresh;
    fresh.Ctrl = st.Ctrl;
    fresh.BaseFileName = st.BaseFileName;
    fresh.WsFileName = st.WsFileName;
    fresh.VideoFileName = st.VideoFileName;
    ASSERT_TRUE(SubtitleLoad(fresh, 0)) << fresh.LastMessage;
    for (size_t i = 1; i < fresh.Subs.size(); ++i)
      EXPECT_LE(fresh.Subs[i - 1].TimeIn, fresh.Subs[i].TimeIn) << "reloaded entry " << i;
    if (!comparable) return;
    ASSERT_EQ(fresh.Subs.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(fresh.Subs[i].TimeIn, expected[i].in) << "entry " << i;
      EXPECT_EQ(fresh.Subs[i].TimeOut, expected[i].out) << "entry " << i;
      EXPECT_EQ(fresh.Subs[i].Dialogue, expected[i].text) << "entry " << i;
    }
  }

  Fixture m_f{SOUND_SLOTS};
  std::mt19937 m_rng;
  uint32_t m_seed;
  bool m_ass;
  int m_step = 0;
  std::string m_op = "set-up";
};

struct SequenceCase {
  uint32_t seed;
  bool ass;
  int steps;
};

class EditSequenceProperty : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(EditSequenceProperty, KeepsThePromisesOfEveryEdit) {
  const SequenceCase c = GetParam();
  EditSequence run(c.seed, c.ass);
  run.Run(c.steps);
}

// A few thousand steps in all, half on SRT and half on ASS documents.
// A few thousand steps in all, half on SRT and half on ASS documents. (Run with many more
// seeds and steps, and under the address and undefined-behaviour sanitizers, while written.)
INSTANTIATE_TEST_SUITE_P(EditSequence, EditSequenceProperty,
                         ::testing::Values(SequenceCase{1, false, 600}, SequenceCase{2, true, 600},
                                           SequenceCase{3, false, 600}, SequenceCase{4, true, 600},
                                           SequenceCase{5, false, 600}, SequenceCase{6, true, 600},
                                           SequenceCase{7, false, 600},
                                           SequenceCase{8, true, 600}));

}  // namespace

}  // namespace tamsel
