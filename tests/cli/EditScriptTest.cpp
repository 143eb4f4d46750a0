#include "EditScript.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "Settings.h"
#include "TestSupport.h"

namespace tamsel {
namespace {

using test::Fixture;
using test::ReadBytes;
using test::WriteBytes;
using test::WriteWav;

EditScript Parse(const std::string& text) { return ParseEditScript(text, "s.txt"); }

/// An editor in the editing state over an SRT timeline, with a map of 20000 slots of sound:
/// 200 s of 48 kHz mono, played on simulated devices whose player tells 200 s and `fps` (0:
/// none), entered at entry `subCurr` with the first look of a session.
struct Editing {
  EditorState st;
  ScriptSession s{st};

  explicit Editing(std::initializer_list<std::pair<int32_t, int32_t>> times, int fps = 0,
                   int32_t subCurr = 0) {
    st.SubFormat = FORMAT_SRT;
    int32_t n = 0;
    for (auto [in, out] : times) {
      ++n;
      st.Subs.push_back({n, n, in, out, "text " + std::to_string(n), false});
    }
    st.WavSel.assign(20000 + 1000, TWavSelect{false, -1});
    CreatSelAndInd(st.WavSel, st.Subs);
    st.AiBegin.assign(20500, 0);
    st.AiEnd.assign(20500, 0);
    st.Ctrl.chkBoxAIenable = false;
    SetWindowGeometry(st, SCRIPT_STRIP_WIDTH);
    st.MouseY = st.PlayerHeight / 2;
    st.SubCurr = subCurr;
    st.SamplesPerSlot = 480;
    st.WavChannels = 1;
    st.WavDataSize = int64_t{20000} * 960;
    s.factory.duration = 200.0;
    s.factory.frameRate = fps;
    s.factory.height = st.PlayerHeight;
    s.media.MediaPlayer = s.factory.CreateVideoPlayer("v.mp4");
    s.media.SoundBuffer = SimulatedSound(s.clock, st.WavDataSize, 1, 48000);
    s.sampleRate = 48000;
    GoToStartPosition(st, *s.media.MediaPlayer, *s.media.SoundBuffer);
    FirstLook(s);
  }

  void Run(const std::string& text) {
    const EditScript script = Parse(text);
    for (const auto& c : script.commands) ApplyEditCommand(s, script, c);
  }
};

/// The message a script is refused with.
std::string Refusal(const std::string& text) {
  try {
    Parse(text);
  } catch (const EditScriptError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(EditScript, TimesInMillisecondsOrClockNotation) {
  const struct {
    const char* text;
    int64_t ms;
  } good[] = {
      {"0", 0},
      {"1500", 1500},
      {"0:00:01.50", 1500},
      {"1:02:03.04", 3723040},
      {"0:00:05", 5000},
      {"12:00:00.00", 43200000},
      {"100:00:00.00", 360000000},
      {"360000000", 360000000},
  };
  for (const auto& c : good) {
    ASSERT_TRUE(ParseScriptTime(c.text).has_value()) << c.text;
    EXPECT_EQ(*ParseScriptTime(c.text), c.ms) << c.text;
  }
  for (const char* bad : {"", "-5", "+5", "1.5", "1e3", "a", "0:0:01.00", "0:00:60.00",
                          "0:60:00.00", "0:00:01.5", "0:00:01.500", "1:02", "0:00:01.",
                          "100:00:00.01", "360000001", "1000:00:00.00", "0:00:0x.00"}) {
    EXPECT_FALSE(ParseScriptTime(bad).has_value()) << bad;
  }
}

TEST(EditScript, ReadsEveryCommand) {
  const EditScript script = Parse(
      "\xEF\xBB\xBF# set-up\r\n"
      "set KeyStep 5\r\n"
      "set trackbarmousestep 2   # by the control's name\n"
      "set AIenable off\n"
      "media 0:01:00.00\n"
      "framerate 25\n"
      "strip 800\n"
      "\n"
      "seek 12345\n"
      "tick\n"
      "tick 30\n"
      "rate -1.5\n"
      "modes loop\n"
      "modes none\n"
      "pointer band 799\n"
      "pointer video\n"
      "active 3\n"
      "active none\n"
      "active strip\n"
      "key s F e d R w x c v a Space LEFT right up down 1 2 3 4 5 6\n"
      "wheel strip -1\n"
      "wheel below +1 4\n"
      "wheel video 0\n"
      "cut in 0:00:12.35\n"
      "cut out 12345\n"
      "cut out\n"
      "drag queue 10 500 7\n"
      "drag elastic 500 10\n"
      "set KeyStep 0\n");
  EXPECT_EQ(script.setupCount, 6u);
  ASSERT_EQ(script.commands.size(), 27u);
  const auto& c = script.commands;
  EXPECT_EQ(c[0].line, 2);
  EXPECT_EQ(std::get<edit::Set>(c[0].action).setting, FindScriptSetting("KeyStep"));
  EXPECT_EQ(std::get<edit::Set>(c[0].action).value, 5);
  EXPECT_EQ(std::get<edit::Set>(c[1].action).setting, FindScriptSetting("MouseStep"));
  EXPECT_EQ(std::get<edit::Set>(c[2].action).value, 0);
  EXPECT_EQ(std::get<edit::Media>(c[3].action).length, 6000);
  EXPECT_EQ(std::get<edit::FrameRate>(c[4].action).fps, 25);
  EXPECT_EQ(std::get<edit::StripWidth>(c[5].action).columns, 800);
  EXPECT_EQ(c[6].line, 9);
  EXPECT_EQ(std::get<edit::Seek>(c[6].action).position, 12345);
  EXPECT_EQ(std::get<edit::Tick>(c[7].action).count, 1);
  EXPECT_EQ(std::get<edit::Tick>(c[8].action).count, 30);
  EXPECT_EQ(std::get<edit::Rate>(c[9].action).rate, -1.5);
  const auto& loop = std::get<edit::Modes>(c[10].action);
  EXPECT_TRUE(loop.dialogueOnly && loop.loopMode && !loop.headTailOnly);  // loop brings dialogue
  const auto& none = std::get<edit::Modes>(c[11].action);
  EXPECT_FALSE(none.dialogueOnly || none.headTailOnly || none.loopMode);
  EXPECT_EQ(std::get<edit::Pointer>(c[12].action).place, PointerPlace::Band);
  EXPECT_EQ(std::get<edit::Pointer>(c[12].action).column, 799);
  EXPECT_FALSE(std::get<edit::Pointer>(c[13].action).column.has_value());
  EXPECT_EQ(std::get<edit::Active>(c[14].action).index, 3);
  EXPECT_EQ(std::get<edit::Active>(c[15].action).index, -1);
  EXPECT_FALSE(std::get<edit::Active>(c[16].action).index.has_value());
  const auto& keys = std::get<edit::Keys>(c[17].action).keys;
  ASSERT_EQ(keys.size(), 21u);
  EXPECT_EQ(keys[0], Key::S);
  EXPECT_EQ(keys[10], Key::Space);
  EXPECT_EQ(keys[11], Key::Left);
  EXPECT_EQ(keys[20], Key::Digit6);
  const auto& wheel = std::get<edit::Wheel>(c[18].action);
  EXPECT_EQ(wheel.place, PointerPlace::Strip);
  EXPECT_EQ(wheel.direction, -1);
  EXPECT_EQ(wheel.count, 1);
  EXPECT_EQ(std::get<edit::Wheel>(c[19].action).direction, 1);
  EXPECT_EQ(std::get<edit::Wheel>(c[19].action).count, 4);
  EXPECT_EQ(std::get<edit::Wheel>(c[20].action).direction, 0);
  const auto& cutIn = std::get<edit::Cut>(c[21].action);
  EXPECT_FALSE(cutIn.outPoint);
  EXPECT_EQ(cutIn.slot, 1235);
  EXPECT_EQ(std::get<edit::Cut>(c[22].action).slot, 1234);  // 1234.5 rounds to even
  EXPECT_FALSE(std::get<edit::Cut>(c[23].action).slot.has_value());
  const auto& drag = std::get<edit::Drag>(c[24].action);
  EXPECT_EQ(drag.mode, 1);
  EXPECT_EQ(drag.from, 10);
  EXPECT_EQ(drag.to, 500);
  EXPECT_EQ(drag.steps, 7);
  EXPECT_EQ(std::get<edit::Drag>(c[25].action).steps, 1);
  EXPECT_EQ(std::get<edit::Set>(c[26].action).value, 0);  // a later set is a command
}

TEST(EditScript, CommentsAndBlankLinesOnly) {
  const EditScript script = Parse("# nothing to do\n\n   \t\n# at all");
  EXPECT_TRUE(script.commands.empty());
  EXPECT_EQ(script.setupCount, 0u);
}

TEST(EditScript, RefusesBadLinesWithTheirNumber) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"frobnicate", "s.txt:1: unknown command \"frobnicate\""},
      {"# c\n\nseek 100\nfrob 1", "s.txt:4: unknown command \"frob\""},
      {"key", "s.txt:1: usage: key KEY... (S F E D R W X C V A Space Left Right Up Down 1-6)"},
      {"key E Q", "s.txt:1: \"Q\" is not a key of the key map"},
      {"key 7", "s.txt:1: \"7\" is not a key of the key map"},
      {"set KeyStep 10", "s.txt:1: KeyStep must be a whole number from 0 to 9, not \"10\""},
      {"set CrashStyle -1", "s.txt:1: CrashStyle must be a whole number from 0 to 3, not \"-1\""},
      {"set Loudness 1", "s.txt:1: unknown setting \"Loudness\""},
      {"set SubFontSize 20", "s.txt:1: unknown setting \"SubFontSize\""},
      {"set AIenable maybe", "s.txt:1: AIenable is on or off (1/0), not \"maybe\""},
      {"set KeyStep", "s.txt:1: usage: set NAME VALUE"},
      {"seek -5",
       "s.txt:1: the play position must be milliseconds or h:mm:ss.cc (at most 100 "
       "hours), not \"-5\""},
      {"seek 1 2", "s.txt:1: usage: seek TIME (ms or h:mm:ss.cc)"},
      {"media", "s.txt:1: usage: media LENGTH (ms or h:mm:ss.cc)"},
      {"framerate 0", "s.txt:1: the frame rate must be a whole number from 1 to 1000, not \"0\""},
      {"strip 99", "s.txt:1: the strip width must be a whole number from 100 to 4096, not \"99\""},
      {"tick 0", "s.txt:1: the tick count must be a whole number from 1 to 1000000, not \"0\""},
      {"rate 11", "s.txt:1: the rate must be a number from -10 to 10, not \"11\""},
      {"rate fast", "s.txt:1: the rate must be a number from -10 to 10, not \"fast\""},
      {"modes", "s.txt:1: usage: modes none | modes [dialogue] [headtail] [loop]"},
      {"modes dialogue fast",
       "s.txt:1: the play modes are \"dialogue\", \"headtail\" and "
       "\"loop\" (or \"none\"), not \"fast\""},
      {"modes none loop",
       "s.txt:1: the play modes are \"dialogue\", \"headtail\" and \"loop\" "
       "(or \"none\"), not \"none\""},
      {"pointer sky",
       "s.txt:1: the pointer is over the \"video\", \"below\" it, on the "
       "\"strip\" or in its \"band\", not \"sky\""},
      {"pointer strip 1024",
       "s.txt:1: a strip column must be a whole number from 0 to 1023, "
       "not \"1024\""},
      {"active x",
       "s.txt:1: the subtitle index must be a whole number from 0 to 2147483647, "
       "not \"x\""},
      {"active", "s.txt:1: usage: active INDEX|none|strip"},
      {"wheel strip 2", "s.txt:1: the wheel turns -1 (earlier), 0 or +1 (later), not \"2\""},
      {"wheel strip", "s.txt:1: usage: wheel video|below|strip|band -1|0|+1 [COUNT]"},
      {"wheel video 1 0",
       "s.txt:1: the notch count must be a whole number from 1 to 10000, "
       "not \"0\""},
      {"cut middle", "s.txt:1: cut sets the \"in\" or the \"out\" point"},
      {"cut in 1:00",
       "s.txt:1: the cut time must be milliseconds or h:mm:ss.cc (at most 100 "
       "hours), not \"1:00\""},
      {"drag wild 1 2", "s.txt:1: a drag is \"plain\", \"queue\" or \"elastic\", not \"wild\""},
      {"drag plain 1", "s.txt:1: usage: drag plain|queue|elastic FROM TO [STEPS]"},
      // Columns are checked against the strip the script has set up at that line.
      {"strip 200\ndrag plain 0 300",
       "s.txt:2: a strip column must be a whole number from 0 "
       "to 199, not \"300\""},
      // A long word is quoted short; what is not text is refused as such.
      {"key E Qwertyuiopasdfghjklzxcvbnmqwertyuiopasdfghjklzxcvbnm",
       "s.txt:1: \"Qwertyuiopasdfghjklzxcvbnmqwertyuiopasdf…\" is not a key of the key map"},
      {"seek 1\nkey \x01\x02", "s.txt:2: \"\\x01\\x02\" is not a key of the key map"},
      {"seek 1\n\xFF\xFE", "s.txt:2: not text (a NUL byte or bytes that are not UTF-8); is this "
                             "an edit script? The line begins \"\\xFF\\xFE\""},
  };
  for (const auto& c : cases) EXPECT_EQ(Refusal(c.text), c.message) << c.text;
}

TEST(ReadEditScript, RefusesWhatIsNotAScriptWithoutReadingItWhole) {
  test::TempDir dir;
  const std::string name = dir.Path("s.txt");
  test::WriteBytes(name, "seek 100\r\nkey F\r\n");
  EXPECT_EQ(ReadEditScript(name).commands.size(), 2u);
  struct Case {
    std::string bytes;
    std::string message;
  } cases[] = {
      {"seek 1\n" + std::string(MAX_SCRIPT_LINE + 10, 'x') + "\nkey F\n",
       ":2: the line is longer than 4096 bytes; is this an edit script? It begins \"" +
           std::string(40, 'x') + "…\""},
      {std::string(1 << 20, '\0'), ":1: the line is longer than 4096 bytes"},
      {std::string("seek 1\nkey\0F\n", 13), ":2: not text (a NUL byte"},
  };
  for (const auto& c : cases) {
    test::WriteBytes(name, c.bytes);
    try {
      ReadEditScript(name);
      ADD_FAILURE() << "accepted " << c.message;
    } catch (const EditScriptError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(name + c.message, 0), 0u) << e.what();
      EXPECT_LT(std::string(e.what()).size(), 300u);
    }
  }
}

TEST(EditScript, SettingsAreNamedByKeyOrControl) {
  EXPECT_EQ(FindScriptSetting("keystep"), FindScriptSetting("TrackBarKeyStep"));
  EXPECT_EQ(FindScriptSetting("READDELAY"), FindScriptSetting("TrackBarOutDelay"));
  EXPECT_EQ(FindScriptSetting("AutoAdj"), FindScriptSetting("TrackBarAutoAdj"));
  EXPECT_EQ(FindScriptSetting("SubCurr"), nullptr);
  for (const ScriptSetting& s : ScriptSettings()) {
    EXPECT_NE(s.position == nullptr, s.checked == nullptr) << s.key;
  }
}

TEST(EditScript, SettingRangesAreThoseOfTheSettingsFile) {
  // A value far above every range is clamped by the settings reader to the highest position;
  // the scripts accept exactly the same highest value.
  test::TempDir dir;
  const std::string path = dir.Path("s.ini");
  IniFile ini(path);
  for (const ScriptSetting& s : ScriptSettings()) ini.WriteInteger(SETTINGS_SECTION, s.key, 99);
  ini.UpdateFile();
  Controls loaded;
  IniLoad(IniFile(path), loaded);
  for (const ScriptSetting& s : ScriptSettings()) {
    const std::string key = s.key;
    if (key == "AutoAdj" || key == "WavOptimize") continue;  // not read from the file
    if (s.position) {
      EXPECT_EQ(loaded.*(s.position), s.max) << s.key;
    } else {
      EXPECT_TRUE(loaded.*(s.checked)) << s.key;
    }
  }
}

TEST(EditScript, FrameStepsOfThePowerClasses) {
  const struct {
    int fps, powerClass;
    int32_t step;
  } cases[] = {{24, 0, 40}, {24, 1, 56}, {24, 2, 80},  {25, 0, 38},
               {25, 1, 53}, {25, 2, 76}, {1000, 0, 0}, {0, 1, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(FrameStepOf(c.fps, c.powerClass), c.step) << c.fps << "/" << c.powerClass;
  }
}

TEST(EditScript, EnteringEditingStartsAtTheCurrentEntry) {
  Editing e({{1000, 1500}, {3000, 3500}});
  const EditorState& st = e.st;
  EXPECT_EQ(st.ReadyState, 2);
  EXPECT_EQ(st.PlayPos, 10000);
  EXPECT_EQ(st.ActiveSub, 0);
  EXPECT_EQ(st.MediaLength, 20000);  // the first look learns it from the player
  EXPECT_EQ(st.SubsInVideo, 2);
  EXPECT_TRUE(st.ScrollBarPlayPost.Enabled);
  EXPECT_EQ(st.CurBegin, 10000);
  EXPECT_EQ(st.CurEnd, 15000);
  EXPECT_EQ(st.FrameStep, 0);  // no frame rate told
  EXPECT_DOUBLE_EQ(e.s.media.MediaPlayer->Position(), 10.0);
  EXPECT_EQ(e.s.media.SoundBuffer->Cursor(), 10000 * 96);

  Editing second({{1000, 1500}, {3000, 3500}}, /*fps=*/24, /*subCurr=*/1);
  EXPECT_EQ(second.st.PlayPos, 30000);
  EXPECT_EQ(second.st.ActiveSub, 1);
  EXPECT_EQ(second.st.FrameStep, 56);  // the default power class 1
  EXPECT_EQ(second.st.Timer2GetMouseXYInterval, 56);
}

TEST(EditScript, TickRunsThePlaybackLoop) {
  // A frame step of 40 ms (24 fps, power class 0): ticks of 42 ms. A rate reaches the sound on
  // the tick after it is set, as in the editor: the sound played on at the old rate meanwhile.
  const struct {
    bool pitchShifted;
    double rate;
    int fps, powerClass;
    int32_t from, ticks, to;
  } cases[] = {
      {true, 1.0, 0, 0, 30000, 1, 30042},   // the sound is the clock: one 42-ms tick
      {true, 1.0, 24, 1, 30000, 1, 30056},  // the tick follows the frame step when it is longer
      {true, 0.5, 24, 0, 30000, 2, 30063},
      {true, 2.5, 24, 0, 30000, 2, 30147},
      {true, 0.0, 24, 0, 30000, 2, 30042},
      {true, -1.0, 24, 0, 30000, 1, 29960},  // backward: a frame step per tick
      {true, -2.0, 24, 0, 50, 1, 0},         // never before the start
      {true, -1.0, 0, 0, 30000, 1, 30000},   // no frame rate known: backward stands still
      {false, 1.0, 24, 0, 30000, 1, 30042},
      {false, 2.0, 24, 0, 30000, 1, 30112},  // jumping: 1.4 frame steps at the rate
      {false, 0.5, 24, 0, 30000, 1, 30028},
      {false, 0.0, 24, 0, 30000, 1, 30000},
      {false, -1.5, 24, 0, 30000, 1, 29940},
      {true, 1.0, 24, 0, 199990, 1, 200000},  // the sound ends at 200 s ...
      {true, 1.0, 24, 0, 199990, 5, 200000},
      {false, 2.0, 24, 0, 209900, 1, 0},  // ... the jumping style wraps past the map's end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pitchShifted ? "pitch-shifted " : "jumping ") +
                 std::to_string(c.rate) + " from " + std::to_string(c.from));
    Editing e({{1000, 1500}});
    e.Run("set PCPower " + std::to_string(c.powerClass) + "\nset SoundPlayStyle " +
          (c.pitchShifted ? "on" : "off") +
          (c.fps ? "\nframerate " + std::to_string(c.fps) : std::string()) + "\nseek " +
          std::to_string(c.from) + "\nrate " + std::to_string(c.rate) + "\ntick " +
          std::to_string(c.ticks));
    EXPECT_EQ(e.st.PlayPos, c.to);
  }
}

TEST(EditScript, TickAppliesThePlayModes) {
  Editing e({{1000, 1500}, {3000, 3500}});
  e.Run("seek 20000\nmodes dialogue\ntick");  // in the gap between the two
  EXPECT_EQ(e.st.PlayPos, 30000);             // dialogue only: the gap is skipped ...
  EXPECT_DOUBLE_EQ(e.s.media.MediaPlayer->Position(), 30.0);  // ... and both devices follow
  EXPECT_EQ(e.s.media.SoundBuffer->Cursor(), 30000 * 96);
}

TEST(EditScript, ThePointerSteersOnceItHasBeenBelowOrOnTheStrip) {
  Editing e({{1000, 1500}}, /*fps=*/24);
  // Over the video right after entering editing the rate stays (1.0); the strip's centre
  // column is the window's centre.
  e.Run("seek 30000\npointer video 1000\ntick");
  EXPECT_EQ(e.st.PlayRate, 1.0);
  // On the strip it pauses; back over the video it steers: column 1000 is 488 px right of the
  // centre, e = Trunc(488 * 800 / 1280) = 305: 1.05, pointer shape 11.
  e.Run("pointer strip 1000\ntick\npointer video\ntick");
  EXPECT_DOUBLE_EQ(e.st.PlayRate, 305 / 100.0 - 2);
  EXPECT_EQ(e.s.factory.Player()->PointerShape(), 11);
  // Below the video: 200 px left of the centre, with the strip 1024 px wide, 0.990625 back.
  e.Run("pointer below 312\ntick");
  EXPECT_DOUBLE_EQ(e.st.PlayRate, -(200.0 / 1024 * 2 + 0.6));
  // A rate set by the script holds over the video until the pointer steers again.
  e.Run("pointer video 0\nrate 1.5\ntick 3");
  EXPECT_EQ(e.st.PlayRate, 1.5);
  e.Run("pointer below\ntick");
  EXPECT_DOUBLE_EQ(e.st.PlayRate, -1.0);
}

TEST(EditScript, SpaceReplaysTheCurrentSegmentAtNormalSpeed) {
  Editing e({{1000, 1500}, {3000, 3500}}, /*fps=*/24);
  e.Run("seek 12000\npointer strip 512\ntick\nkey space\ntick 10");
  EXPECT_EQ(e.st.ReplayState, 1);
  EXPECT_EQ(e.st.PlayRate, 1.0);
  // From the segment's start: the first tick starts the sound (stopped on the strip), nine
  // more ticks of 56 ms play on.
  EXPECT_EQ(e.st.PlayPos, 10000 + 9 * 56);
  e.Run("pointer strip 530\ntick");  // moved 18 px: the pointer takes over, paused
  EXPECT_EQ(e.st.ReplayState, -1);
  EXPECT_EQ(e.st.PlayRate, 0.0);
}

TEST(EditScript, StripPicksTheEntryAtOrNearThePlayPosition) {
  // Entries at 10-15 s, 20-25 s and 100-105 s; the strip shows 10.24 s around the play cursor.
  const struct {
    int32_t playPos, remembered;
    double rate;
    int32_t active;
  } cases[] = {
      {12000, -1, 1.0, 0},  // under the cursor
      {22000, 0, 1.0, 1},   // under the cursor, whatever was remembered
      {17000, -1, 1.0, 0},  // in a gap: the nearest in view
      {19000, -1, 1.0, 1},
      {17500, -1, 1.0, 1},   // the search starts on the side of the playing direction ...
      {17500, -1, -1.0, 0},  // ... so a tie goes the way the play position moves
      {17490, -1, 1.0, 0},
      {19000, 0, 1.0, 0},    // a remembered entry stays while it shows
      {60000, -1, 1.0, -1},  // nothing in view
      {60000, 1, 1.0, -1},   // the remembered entry is out of view
      {98000, 1, 1.0, 2},    // ... and another one is in view
  };
  for (const auto& c : cases) {
    Editing e({{1000, 1500}, {2000, 2500}, {10000, 10500}});
    EditorState& st = e.st;
    st.PlayPos = c.playPos;
    st.ActiveSub = c.remembered;
    st.PlayRate = c.rate;
    StripTick(st);
    EXPECT_EQ(st.ActiveSub, c.active) << c.playPos << " " << c.remembered;
  }
}

TEST(EditScript, StripViewAndCurrentEntry) {
  Editing e({{1000, 1500}, {3000, 3500}});
  EditorState& st = e.st;
  st.PlayPos = 0;
  StripTick(st);
  EXPECT_EQ(st.ViewStart, 0);
  st.PlayPos = 31000;  // the cursor in the middle column
  StripTick(st);
  EXPECT_EQ(st.ViewStart, 2 * 3100 - 1024);
  EXPECT_EQ(st.SubCurr, 1);
  st.PlayPos = 199990;  // near the end the view stops at the media's end
  StripTick(st);
  EXPECT_EQ(st.ViewStart, 2 * (20000 - 1024));
  EXPECT_EQ(st.SubCurr, 1);  // no entry under the cursor: the current entry stays
}

TEST(EditScript, StripPointerHoverAndDragging) {
  Editing e({{1000, 1500}, {2200, 2500}});
  EditorState& st = e.st;
  st.PlayPos = 20000;  // the view shows slots 1488 to 2511
  StripTick(st);
  MovePointer(st, PointerPlace::Strip, 2300 - 1488);  // over the second entry
  EXPECT_TRUE(st.OverWave);
  EXPECT_FALSE(st.StripIBeam);
  EXPECT_EQ(st.ActiveSub, 1);
  MovePointer(st, PointerPlace::Band, 2000 - 1488);  // over the gap: the entry stays
  EXPECT_TRUE(st.StripIBeam);
  StripTick(st);
  EXPECT_EQ(st.ActiveSub, 1);
  st.MouseX = st.Panel1Left + 5;  // over the first entry, while a drag goes on
  st.Dragging = true;
  StripTick(st);
  EXPECT_EQ(st.ActiveSub, 1);  // a drag keeps its entry
  st.Dragging = false;
  StripTick(st);
  EXPECT_EQ(st.ActiveSub, 0);
  st.MouseX = st.Panel1Left + 2300 - 1488;
  st.SubsInVideo = 1;  // an entry beyond the video: the strip stops at the count
  StripTick(st);
  EXPECT_EQ(st.ActiveSub, 1);
  st.SubsInVideo = 0;
  StripTick(st);
  EXPECT_EQ(st.ActiveSub, 0);
}

TEST(EditScript, PointerEnteringTheStripStopsPlayback) {
  Editing e({{1000, 1500}});
  EditorState& st = e.st;
  st.PlayRate = 1.0;
  st.ReplayState = 1;
  MovePointer(st, PointerPlace::Strip, 10);
  EXPECT_TRUE(st.OverWave);
  EXPECT_EQ(st.PlayRate, 0.0);
  EXPECT_EQ(st.ReplayState, -1);
  EXPECT_EQ(st.MouseY - st.Panel1Top, 100);
  st.PlayRate = 1.0;
  MovePointer(st, PointerPlace::Band, 20);  // moving on the strip does not stop it again
  EXPECT_EQ(st.PlayRate, 1.0);
  EXPECT_TRUE(st.StripIBeam);
  EXPECT_EQ(st.MouseX, st.Panel1Left + 20);
  MovePointer(st, PointerPlace::Video, 20);
  EXPECT_FALSE(st.OverWave);
  EXPECT_FALSE(st.StripIBeam);
  EXPECT_LE(st.MouseY, st.PlayerHeight);
  MovePointer(st, PointerPlace::Below, 20);
  EXPECT_FALSE(st.OverWave);
  EXPECT_GT(st.MouseY, st.PlayerHeight);
}

TEST(EditScript, CommandsDriveTheEditor) {
  Editing e({{1000, 1500}, {3000, 3500}});
  EditorState& st = e.st;
  auto run = [&](const std::string& text) { e.Run(text); };
  run("seek 0:00:31.00\nactive strip\nkey F E");
  EXPECT_EQ(st.Subs[1].TimeIn, 3020);
  EXPECT_EQ(st.Subs[1].TimeOut, 3540);
  run("active 0\nkey 6 S");
  EXPECT_EQ(st.Subs[0].TimeIn, 940);
  EXPECT_EQ(st.StepFactor, 3);
  run("modes headtail");
  EXPECT_TRUE(st.DialogueOnly && st.HeadTailOnly && !st.LoopMode);
  run("set KeyStep 0\nkey 6 D");  // 0.05 s
  EXPECT_EQ(st.Subs[0].TimeOut, 1435);
  run("rate -0.5\nframerate 25\nmedia 0:02:00.00");
  EXPECT_EQ(st.PlayRate, -0.5);
  EXPECT_EQ(st.FrameStep, 53);
  EXPECT_EQ(st.MediaLength, 12000);
  run("seek 99:00:00.00");  // as the position bar: no further than the map
  EXPECT_EQ(st.PlayPos, 209990);
}

TEST(EditScript, CutsAtASlotOrAtThePlayPosition) {
  Editing e({{1000, 1500}, {3000, 3500}});
  EditorState& st = e.st;
  auto run = [&](const std::string& text) { e.Run(text); };
  run("pointer strip\nactive 0\ncut in 0:00:09.00");  // over the strip, still a slot
  EXPECT_FALSE(st.OverWave);
  EXPECT_EQ(st.Subs[0].TimeIn, 900);
  run("seek 12345\ncut out");  // 1234.5 rounds to even
  EXPECT_EQ(st.Subs[0].TimeOut, 1234);
}

TEST(EditScript, WheelAndDragsOnTheStrip) {
  Editing e({{1000, 1500}, {3000, 3500}, {5000, 5500}});
  EditorState& st = e.st;
  auto run = [&](const std::string& text) { e.Run(text); };
  // Column 700 lies in the gap at 20 s: hovering there keeps the entry made active.
  run("seek 20000\nactive strip\npointer strip 700\nactive 1\nwheel strip +1 5");
  EXPECT_EQ(st.PlayRate, 0.0);         // entering the strip stopped playback
  EXPECT_EQ(st.Subs[1].TimeIn, 3010);  // 5 notches of 0.02 s
  EXPECT_EQ(st.Subs[1].TimeOut, 3510);
  EXPECT_EQ(st.PlayPos, 20100);
  run("wheel video -1");  // over the video: the play position only (no frame rate known)
  EXPECT_EQ(st.Subs[1].TimeIn, 3010);
  // At 32 s the view starts at slot 2688: a queue drag from the second entry 30 columns right.
  run("seek 0:00:32.00\nactive strip\ndrag queue 400 430 3");
  EXPECT_EQ(st.ActiveSub, 1);
  EXPECT_EQ(st.Subs[1].TimeIn, 3040);
  EXPECT_EQ(st.Subs[2].TimeIn, 5030);
  EXPECT_EQ(st.Subs[0].TimeIn, 1000);
  EXPECT_FALSE(st.Dragging);
}

TEST(EditScript, AnIndexTheTimelineDoesNotHaveStopsTheScript) {
  Editing e({{1000, 1500}});
  const EditScript script = Parse("seek 100\nactive 1");
  ApplyEditCommand(e.s, script, script.commands[0]);
  try {
    ApplyEditCommand(e.s, script, script.commands[1]);
    FAIL() << "accepted";
  } catch (const EditScriptError& e) {
    EXPECT_STREQ(e.what(), "s.txt:2: there is no subtitle 1 (the timeline has 1)");
    EXPECT_EQ(e.line(), 2);
  }
}

/// A prepared video "v.mp4" with an SRT file of two entries and a minute of silent side files
/// (a 44.1 kHz mono WAV whose samples are a hole in the file).
struct Prepared : Fixture {
  std::string original;
  Prepared() : Fixture(6000) {
    WriteBytes(st.VideoFileName, "");
    st.WavFileName = File(".wav");
    WriteWav(st.WavFileName, 1, 1, 44100, 16, 60 * 88200, 60 * 88200);
    st.AiFileName = File(".ai");
    WriteBytes(st.AiFileName, std::string(12000, '\0'));
    original =
        "1\r\n00:00:10,000 --> 00:00:12,000\r\nOne\r\n\r\n"
        "2\r\n00:00:20,000 --> 00:00:20,600\r\nTwo\r\n\r\n";
    WriteBytes(File(".srt"), original);
  }
  MediaProbe Probe(std::optional<double> seconds = 60.0) {
    MediaProbe p;
    p.duration = [this, seconds](const std::string& video, std::string& error) {
      probed = video;
      if (!seconds) error = "moov atom not found";
      return seconds;
    };
    p.frameRate = [](const std::string&) { return std::optional<int>(25); };
    return p;
  }
  std::string probed;
};

TEST(EditScript, SessionReplaysAndSaves) {
  Prepared f;
  const EditScript script = Parse(
      "media 0:01:00.00\n"
      "seek 0:00:10.50\n"
      "active strip\n"
      "key F F\n");
  ASSERT_TRUE(RunEditSession(f.st, script, f.Probe()));
  EXPECT_TRUE(f.probed.empty());  // the script gave the length
  EXPECT_EQ(f.st.MediaLength, 6000);
  EXPECT_EQ(f.st.FrameStep, 53);  // the probe's 25 fps, power class 1
  EXPECT_EQ(ReadBytes(f.File(".srt")),
            "1\r\n00:00:10,400 --> 00:00:12,400\r\nOne\r\n\r\n"
            "2\r\n00:00:20,000 --> 00:00:20,600\r\nTwo\r\n\r\n");
  EXPECT_FALSE(f.st.SubDirty);
  EXPECT_TRUE(f.prompts.messages.empty());
}

TEST(EditScript, SessionAsksTheProbeForTheLength) {
  Prepared f;
  ASSERT_TRUE(RunEditSession(f.st, Parse("seek 0\n"), f.Probe(42.5)));
  EXPECT_EQ(f.probed, f.st.VideoFileName);
  EXPECT_EQ(f.st.MediaLength, 4250);
  EXPECT_EQ(ReadBytes(f.File(".srt")), f.original);  // nothing changed, nothing written
}

TEST(EditScript, SessionWithoutALengthStopsBeforeAnyEdit) {
  Prepared f;
  EXPECT_FALSE(RunEditSession(f.st, Parse("key F"), f.Probe(std::nullopt)));
  ASSERT_EQ(f.prompts.messages.size(), 1u);
  EXPECT_NE(f.prompts.messages[0].find("moov atom not found"), std::string::npos);
  EXPECT_NE(f.prompts.messages[0].find("\"media\""), std::string::npos);
  EXPECT_EQ(ReadBytes(f.File(".srt")), f.original);
}

TEST(EditScript, SessionStoppedByALineSavesNothing) {
  Prepared f;
  EXPECT_FALSE(RunEditSession(f.st, Parse("media 60000\nkey F\nactive 9\n"), f.Probe()));
  ASSERT_EQ(f.prompts.messages.size(), 1u);
  EXPECT_EQ(f.prompts.messages[0], "s.txt:3: there is no subtitle 9 (the timeline has 2)");
  EXPECT_EQ(ReadBytes(f.File(".srt")), f.original);
}

TEST(EditScript, LeadingSettingsApplyAsTheVideoIsOpened) {
  {
    // The minimum length of 1.0 s is in force when the file is read: the 0.6-s entry grows.
    Prepared f;
    ASSERT_TRUE(RunEditSession(f.st, Parse("set MinTime 5\nmedia 60000\nseek 0"), f.Probe()));
    EXPECT_EQ(f.st.Subs[1].TimeOut, 2100);
  }
  {
    // Set after the first command, it applies from there on only.
    Prepared f;
    ASSERT_TRUE(RunEditSession(f.st, Parse("media 60000\nseek 0\nset MinTime 5"), f.Probe()));
    EXPECT_EQ(f.st.Subs[1].TimeOut, 2060);
    EXPECT_EQ(f.st.Ctrl.TrackBarMinTime, 5);
  }
}

TEST(EditScript, SessionNeedsTheWavItsFormatAndTheSpeechScores) {
  {
    Prepared f;
    std::filesystem::remove(ToPath(f.st.WavFileName));
    EXPECT_FALSE(RunEditSession(f.st, Parse("media 60000\nkey F"), f.Probe()));
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0],
              f.st.WavFileName + ": missing; prepare the video first (tamsel-cli prepare VIDEO)");
    EXPECT_EQ(ReadBytes(f.File(".srt")), f.original);
  }
  {
    Prepared f;
    WriteWav(f.st.WavFileName, 3, 1, 44100, 32, 1000, 1000);  // float samples
    EXPECT_FALSE(RunEditSession(f.st, Parse("media 60000\nkey F"), f.Probe()));
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0],
              f.st.WavFileName + "\rWAV文件格式不认识。\r\r只接受PCM格式的WAV文件");
    EXPECT_EQ(ReadBytes(f.File(".srt")), f.original);
  }
}

TEST(EditScript, SessionNeedsTheSpeechScores) {
  Prepared f;
  std::filesystem::remove(ToPath(f.st.AiFileName));
  EXPECT_FALSE(RunEditSession(f.st, Parse("media 60000\nkey F"), f.Probe()));
  ASSERT_FALSE(f.prompts.messages.empty());
  EXPECT_NE(f.prompts.messages[0].find(f.st.AiFileName), std::string::npos);
  EXPECT_EQ(ReadBytes(f.File(".srt")), f.original);
}

}  // namespace
}  // namespace tamsel
