#pragma once

// The file dialogs' filters as the editor states them ("description|patterns|..."), and their
// translation into the "description (patterns);;..." form of Qt's dialogs.

#include <string>

namespace tamsel {

/// The video dialog's filter: every common video type, then every file.
inline constexpr const char* VIDEO_DIALOG_FILTER =
    "所有视频文件|*.avi;*.wmv;*.wmp;*.wm;*.asf;*.mpg;*.mpeg;*.mpe;*.m1v;*.m2v;*.mpv2;*.mp2v;*.dat;"
    "*.ts;*.tp;*.tpr;*.trp;*.vob;*.ifo;*.ogm;*.ogv;*.mp4;*.m4v;*.m4p;*.m4b;*.3gp;*.3gpp;*.3g2;"
    "*.3gp2;*.mkv;*.rm;*.ram;*.rmvb;*.rpm;*.flv;*.swf;*.mov;*.qt;*.amr;*.nsv;*.dpg;*.m2ts;*.m2t;"
    "*.mts;*.dvr-ms;*.k3g;*.skm;*.evo;*.nsr;*.amv;*.divx;*.webm|所有文件(*.*)|*.*";
/// The re-import dialog's filter.
inline constexpr const char* TXT_DIALOG_FILTER = "文本文件|*.txt";

/// "desc|*.a;*.b|desc2|*.*" as "desc (*.a *.b *.A *.B);;desc2 (*)": the patterns separated by
/// blanks, each also in capitals (file names on Linux are case-sensitive, and videos from
/// cameras and other systems often have their extension in capitals), "*.*" as "*" (every file,
/// also one without a dot).
std::string QtDialogFilter(const std::string& filter);

}  // namespace tamsel
