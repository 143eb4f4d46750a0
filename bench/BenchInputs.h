#pragma once

// The subtitle files the benchmarks work on, generated alike in every run.

#include <filesystem>
#include <functional>
#include <string>

namespace tamsel::bench {

/// Dialogue lines of the ASS file (layer 0); each has an effect line on layer 1 beside it.
inline constexpr int kDialogueEvents = 10000;
/// Entries of the SRT file.
inline constexpr int kSrtEntries = 20000;

/// An ASS file as another tool writes it: dialogue on layer 0, each line followed by an effect
/// on layer 1 with position and fade, 20 000 event lines in all. Lines start 2-3 s apart; about
/// one in ten runs into the next one. UTF-8 with the byte-order mark, CR LF line ends.
std::string MakeAssFile();

/// An SRT file of one- and two-line entries, 2-3 s apart.
std::string MakeSrtFile();

/// A new folder `prefix` + the process id under TAMSEL_BENCH_DIR (the system's temporary folder
/// when not set), for a benchmark's files.
std::filesystem::path MakeScratchDir(const std::string& prefix);

/// The main program of a benchmark whose inputs live in a scratch folder: makes the folder
/// (MakeScratchDir(`prefix`)), lets `prepare` write the inputs into it and add the report's
/// context, runs the benchmarks named on the command line, and removes the folder. Returns the
/// exit status: 1 when the arguments or the preparation fail (told on stderr as `program`).
int RunInScratchDir(int argc, char** argv, const std::string& program, const std::string& prefix,
                    const std::function<void(const std::filesystem::path&)>& prepare);

}  // namespace tamsel::bench
